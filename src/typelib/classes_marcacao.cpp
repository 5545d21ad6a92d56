// The late-bound Marcacao and ListaMarcacao.
#include "typelib/classes.h"

namespace quorvel::classes {

void Tabelas::DefineMarcacoes() {
  Identidade(marcacao, "Marcacao", "{3601D576-7621-4C5C-9FC9-E67032AEFABA}",
             "{E85A21FB-9422-4DA9-B860-547C3099BE8F}", Fabrica<Marcacao>());
  Identidade(listaMarcacao, "ListaMarcacao", "{16E63E04-8300-42E1-990D-EF61D0E00086}",
             "{21BA1092-428F-42EA-A554-B82D05B8B7BE}", Fabrica<ListaMarcacao>());
  // ---- Marcacao, ListaMarcacao ----------------------------------------------------------
  Construtor<Marcacao>(marcacao)
      .Prop(
          "CodigoCartao", 0x68030005, I4, "", [](Marcacao& m) { return Variant(m.CodigoCartao()); },
          [](Marcacao& m, const Variant& v) { m.CodigoCartao(v.Como<int32_t>()); })
      .Prop(
          "CodigoRelogio", 0x68030004, I2, "",
          [](Marcacao& m) { return Variant(m.CodigoRelogio()); },
          [](Marcacao& m, const Variant& v) { m.CodigoRelogio(v.Como<int16_t>()); })
      .Prop(
          "DataHoraMarcacao", 0x68030003, DATA, "",
          [](Marcacao& m) { return Dia(m.DataHoraMarcacao()); },
          [](Marcacao& m, const Variant& v) { m.DataHoraMarcacao(v.Como<DataHora>()); })
      .Prop(
          "MarcacaoPorDigital", 0x68030002, BOOL, "",
          [](Marcacao& m) { return Variant(m.MarcacaoPorDigital()); },
          [](Marcacao& m, const Variant& v) { m.MarcacaoPorDigital(v.Como<bool>()); })
      .Prop(
          "PIS", 0x68030001, TXT, "", [](Marcacao& m) { return Variant(m.PIS()); },
          [](Marcacao& m, const Variant& v) { m.PIS(v.Como<std::string>()); })
      .Prop(
          "NSR", 0x68030000, TXT, "", [](Marcacao& m) { return Variant(m.NSR()); },
          [](Marcacao& m, const Variant& v) { m.NSR(v.Como<std::string>()); });

  Construtor<ListaMarcacao>(listaMarcacao)
      .Metodo("Add", 0x60030000, {Param("parMarcacao", OBJ, "Marcacao", true)}, NADA, "",
              [](ListaMarcacao& l, Argumentos& a) {
                l.Add(Obj<Marcacao>(a[0]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaMarcacao& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "Marcacao",
              [](ListaMarcacao& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().marcacao, l.Item(a[0].Como<int32_t>()));
              });
}

}  // namespace quorvel::classes
