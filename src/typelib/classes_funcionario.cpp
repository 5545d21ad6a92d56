// The late-bound Template, FuncionarioCartao, FuncionarioNaoEnviado and their lists.
#include "typelib/classes.h"

namespace quorvel::classes {

void Tabelas::DefineFuncionarios() {
  Identidade(modelo, "Template", "{FF16CA0C-FA07-4654-8CA7-14E5428DF9EC}",
             "{EAF4E1BA-0A2B-4822-B7C7-89FA1DF2686F}", Fabrica<Template>());
  Identidade(funcionarioCartao, "FuncionarioCartao", "{8103E7B6-5420-4D3A-97F4-85F1AB9093E5}",
             "{CB550B86-38B2-41AC-BD98-71806ECBA66C}", Fabrica<FuncionarioCartao>());
  Identidade(funcionarioNaoEnviado, "FuncionarioNaoEnviado",
             "{0586215E-E99B-4D5C-BF10-CCFBEB4A807E}", "{549506C1-3B07-4EC2-B1A5-9590B2DA6971}",
             Fabrica<FuncionarioNaoEnviado>());
  Identidade(listaFuncionarioCartao, "ListaFuncionarioCartao",
             "{ADDB6AEB-29CE-4628-AC9A-EDD908F7E058}", "{5209EED8-8A5D-48D9-9238-0ACEA4B0B913}",
             Fabrica<ListaFuncionarioCartao>());
  Identidade(listaFuncionarioNaoEnviado, "ListaFuncionarioNaoEnviado",
             "{B58E3EC6-F735-493B-B497-6F7D9CAD29A3}", "{E84E56DE-9018-484A-8FAF-EBA7784EA418}",
             Fabrica<ListaFuncionarioNaoEnviado>());
  // ---- Template, FuncionarioCartao, FuncionarioNaoEnviado and their lists ---------------
  Construtor<Template>(modelo)
      .Prop(
          "Template", 0x68030001, TXT, "", [](Template& t) { return Variant(t.Texto()); },
          [](Template& t, const Variant& v) { t.Texto(v.Como<std::string>()); })
      .Prop(
          "Dedo", 0x68030000, I4, "EDedoDigital", [](Template& t) { return Variant(t.Dedo()); },
          [](Template& t, const Variant& v) { t.Dedo(v.Como<int32_t>()); });

  Construtor<FuncionarioCartao>(funcionarioCartao)
      .Prop(
          "Codigo", 0x68030006, I4, "", [](FuncionarioCartao& f) { return Variant(f.Codigo()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Codigo(v.Como<int32_t>()); })
      .Prop(
          "Nome", 0x68030005, TXT, "", [](FuncionarioCartao& f) { return Variant(f.Nome()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Nome(v.Como<std::string>()); })
      .Prop(
          "Supervisor", 0x68030004, BOOL, "",
          [](FuncionarioCartao& f) { return Variant(f.Supervisor()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Supervisor(v.Como<bool>()); },
          "parFuncionarioSupervisor")
      .SoLeitura(
          "Template", 0x68030003, OBJ, "Collection",
          [](FuncionarioCartao& f) { return Ref(TabelasDaBiblioteca().colecao, f.Template()); })
      .Prop(
          "Senha", 0x68030002, TXT, "", [](FuncionarioCartao& f) { return Variant(f.Senha()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Senha(v.Como<std::string>()); })
      .Prop(
          "PIS", 0x68030001, TXT, "", [](FuncionarioCartao& f) { return Variant(f.PIS()); },
          [](FuncionarioCartao& f, const Variant& v) { f.PIS(v.Como<std::string>()); })
      .Prop(
          "CPF", 0x68030000, TXT, "", [](FuncionarioCartao& f) { return Variant(f.CPF()); },
          [](FuncionarioCartao& f, const Variant& v) { f.CPF(v.Como<std::string>()); })
      .Metodo("AddTemplate", 0x60030008, {Param("parTemplate", OBJ, "Template")}, NADA, "",
              [](FuncionarioCartao& f, Argumentos& a) {
                f.AddTemplate(Obj<Template>(a[0]));
                return Variant();
              })
      .Metodo("RemoveTemplate", 0x60030009, {Param("parDedo", I4, "EDedoDigital")}, NADA, "",
              [](FuncionarioCartao& f, Argumentos& a) {
                f.RemoveTemplate(a[0].Como<int32_t>());
                return Variant();
              })
      .Prop(
          "Cartao", 0x6803000A, TXT, "", [](FuncionarioCartao& f) { return Variant(f.Cartao()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Cartao(v.Como<std::string>()); });

  Construtor<FuncionarioNaoEnviado>(funcionarioNaoEnviado)
      .Prop(
          "CodigoRelogio", 0x68030002, TXT, "",
          [](FuncionarioNaoEnviado& f) { return Variant(f.CodigoRelogio()); },
          [](FuncionarioNaoEnviado& f, const Variant& v) {
            f.CodigoRelogio(v.Como<std::string>());
          })
      .Prop(
          "FuncionarioCartao", 0x68030001, OBJ, "FuncionarioCartao",
          [](FuncionarioNaoEnviado& f) {
            return Ref(TabelasDaBiblioteca().funcionarioCartao, f.FuncionarioCartao());
          },
          [](FuncionarioNaoEnviado& f, const Variant& v) {
            f.FuncionarioCartao(Obj<FuncionarioCartao>(v));
          })
      .Prop(
          "MotivoFalha", 0x68030000, I4, "EFalhaEnvioFuncionario",
          [](FuncionarioNaoEnviado& f) { return Variant(f.MotivoFalha()); },
          [](FuncionarioNaoEnviado& f, const Variant& v) { f.MotivoFalha(v.Como<int32_t>()); });

  Construtor<ListaFuncionarioCartao>(listaFuncionarioCartao)
      .Metodo("Add", 0x60030000, {Param("parFuncionarioCartao", OBJ, "FuncionarioCartao", true)},
              NADA, "",
              [](ListaFuncionarioCartao& l, Argumentos& a) {
                l.Add(Obj<FuncionarioCartao>(a[0]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaFuncionarioCartao& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "FuncionarioCartao",
              [](ListaFuncionarioCartao& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().funcionarioCartao, l.Item(a[0].Como<int32_t>()));
              })
      .Metodo("ItemByCodCartaoFuncionario", 0x60030003, {Param("parCodigoCartaoFuncionario", I4)},
              OBJ, "FuncionarioCartao",
              [](ListaFuncionarioCartao& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().funcionarioCartao,
                           l.ItemByCodCartaoFuncionario(a[0].Como<int32_t>()));
              })
      .Metodo("Remove", 0x60030004, {Param("parCodigoFuncionarioCartao", TXT)}, NADA, "",
              [](ListaFuncionarioCartao& l, Argumentos& a) {
                l.Remove(a[0].Como<std::string>());
                return Variant();
              })
      .Metodo("RemoveAll", 0x60030005, {}, NADA, "", [](ListaFuncionarioCartao& l, Argumentos&) {
        l.RemoveAll();
        return Variant();
      });

  Construtor<ListaFuncionarioNaoEnviado>(listaFuncionarioNaoEnviado)
      .Metodo("Add", 0x60030000,
              {Param("parFuncionarioNaoEnviado", OBJ, "FuncionarioNaoEnviado", true)}, NADA, "",
              [](ListaFuncionarioNaoEnviado& l, Argumentos& a) {
                l.Add(Obj<FuncionarioNaoEnviado>(a[0]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaFuncionarioNaoEnviado& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "FuncionarioNaoEnviado",
              [](ListaFuncionarioNaoEnviado& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().funcionarioNaoEnviado,
                           l.Item(a[0].Como<int32_t>()));
              });
}

}  // namespace quorvel::classes
