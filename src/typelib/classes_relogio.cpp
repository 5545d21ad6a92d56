// The late-bound Relogio, RelogioCZKEM and ListaRelogio.
#include "typelib/classes.h"

namespace quorvel::classes {

void Tabelas::DefineRelogios() {
  Identidade(relogio, "Relogio", "{BB9DDB53-9C49-4737-84F7-E16DFBF1F227}",
             "{819F9704-5846-41D4-BA42-EAFBCB637F61}", Fabrica<Relogio>());
  Identidade(relogioCZKEM, "RelogioCZKEM", "{128F7E97-3363-46AF-B918-99637AB33596}",
             "{FA2CD417-E2C4-42E1-B7D6-7D0471FF8A52}", Fabrica<RelogioCZKEM>());
  Identidade(listaRelogio, "ListaRelogio", "{6383B7C2-D6DD-4FBD-8E84-9D04DD3B9331}",
             "{B647DE4F-4E99-479A-9A93-860AA6230E33}", Fabrica<ListaRelogio>());
  // ---- Relogio, RelogioCZKEM, ListaRelogio ----------------------------------------------
  Construtor<Relogio>(relogio)
      .Prop(
          "Codigo", 0x68030006, I2, "", [](Relogio& r) { return Variant(r.Codigo()); },
          [](Relogio& r, const Variant& v) { r.Codigo(v.Como<int16_t>()); })
      .Prop(
          "Consulta1N", 0x68030005, BOOL, "", [](Relogio& r) { return Variant(r.Consulta1N()); },
          [](Relogio& r, const Variant& v) { r.Consulta1N(v.Como<bool>()); })
      .Prop(
          "IP", 0x68030004, TXT, "", [](Relogio& r) { return Variant(r.IP()); },
          [](Relogio& r, const Variant& v) { r.IP(v.Como<std::string>()); })
      .Prop(
          "PenDrive", 0x68030003, BOOL, "", [](Relogio& r) { return Variant(r.PenDrive()); },
          [](Relogio& r, const Variant& v) { r.PenDrive(v.Como<bool>()); })
      .Prop(
          "Monitorado", 0x68030002, BOOL, "", [](Relogio& r) { return Variant(r.Monitorado()); },
          [](Relogio& r, const Variant& v) { r.Monitorado(v.Como<bool>()); })
      .Prop(
          "TipoConexao", 0x68030001, I4, "ETipoConexao",
          [](Relogio& r) { return Variant(static_cast<int32_t>(r.TipoConexao())); },
          [](Relogio& r, const Variant& v) {
            r.TipoConexao(static_cast<ETipoConexao>(v.Como<int32_t>()));
          })
      .Prop(
          "PortaSerial", 0x68030000, I2, "", [](Relogio& r) { return Variant(r.PortaSerial()); },
          [](Relogio& r, const Variant& v) { r.PortaSerial(v.Como<int16_t>()); })
      .Prop(
          "ModeloRelogio", 0x68030007, I4, "EModeloRelogio",
          [](Relogio& r) { return Variant(static_cast<int32_t>(r.ModeloRelogio())); },
          [](Relogio& r, const Variant& v) {
            r.ModeloRelogio(static_cast<EModeloRelogio>(v.Como<int32_t>()));
          });

  Construtor<RelogioCZKEM>(relogioCZKEM)
      .Prop(
          "Relogio", 0x68030002, OBJ, "Relogio",
          [](RelogioCZKEM& e) { return Ref(TabelasDaBiblioteca().relogio, e.Relogio()); },
          [](RelogioCZKEM& e, const Variant& v) { e.Relogio(Obj<Relogio>(v)); })
      .Prop(
          "CZKEM", 0x68030001, OBJ, "CZKEM",
          [](RelogioCZKEM& e) { return Ref(TabelasDaBiblioteca().czkem, e.CZKEM()); },
          [](RelogioCZKEM& e, const Variant& v) { e.CZKEM(Obj<CZKEM>(v)); })
      .Prop(
          "Conectado", 0x68030000, BOOL, "", [](RelogioCZKEM& e) { return Variant(e.Conectado()); },
          [](RelogioCZKEM& e, const Variant& v) { e.Conectado(v.Como<bool>()); });

  Construtor<ListaRelogio>(listaRelogio)
      .Metodo("Add", 0x60030000,
              {Param("parRelogio", OBJ, "Relogio", true), Param("parCZKEM", OBJ, "CZKEM", true)},
              NADA, "",
              [](ListaRelogio& l, Argumentos& a) {
                l.Add(Obj<Relogio>(a[0]), Obj<CZKEM>(a[1]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaRelogio& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "RelogioCZKEM",
              [](ListaRelogio& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().relogioCZKEM, l.Item(a[0].Como<int32_t>()));
              })
      .Metodo("ItemByCodRelogio", 0x60030003, {Param("parCodigoRelogio", TXT)}, OBJ, "RelogioCZKEM",
              [](ListaRelogio& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().relogioCZKEM,
                           l.ItemByCodRelogio(a[0].Como<std::string>()));
              })
      .Metodo("Remove", 0x60030004, {Param("parCodigoRelogio", TXT)}, NADA, "",
              [](ListaRelogio& l, Argumentos& a) {
                l.Remove(a[0].Como<std::string>());
                return Variant();
              });
}

}  // namespace quorvel::classes
