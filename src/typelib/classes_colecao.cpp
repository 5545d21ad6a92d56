// The platform's keyed collection, as the library hands out templates, and the device SDK object's
// class.
#include "typelib/classes.h"

namespace quorvel::classes {

void Tabelas::DefineColecaoESdk() {
  // Outside definitions: the platform's keyed collection and the device SDK object. Neither is
  // creatable here.
  colecao.nome = "Collection";
  colecao.iid = GuidDe("{A4C46780-499F-101B-BB78-00AA00383CBB}");
  czkem.nome = "CZKEM";
  czkem.iid = GuidDe("{102F4206-E43D-4FC9-BAB0-331CFFE4D25B}");

  // ---- The platform's keyed collection, as the library hands out templates -------------
  Construtor<ColecaoTemplates>(colecao)
      .Metodo("Item", 0, {Param("Index", TipoDado::Qualquer)}, OBJ, "Template",
              [](ColecaoTemplates& c, Argumentos& a) {
                if (a[0].Eh<std::string>())
                  return Ref(TabelasDaBiblioteca().modelo,
                             c.Item(std::string_view(a[0].Como<std::string>())));
                return Ref(TabelasDaBiblioteca().modelo, c.Item(a[0].ParaInteiro32()));
              })
      .Metodo(
          "Add", 1,
          {Param("Item", OBJ, "Template"), Opcional("Key", TipoDado::Qualquer, Variant::Omitido())},
          NADA, "",
          [](ColecaoTemplates& c, Argumentos& a) {
            std::optional<std::string> chave;
            if (!a[1].EhAusente() && !a[1].EhVazio()) chave = a[1].ParaTexto();
            c.Add(Obj<Template>(a[0]), chave);
            return Variant();
          })
      .Metodo("Count", 2, {}, I4, "",
              [](ColecaoTemplates& c, Argumentos&) { return Variant(c.Count()); })
      .Metodo("Remove", 3, {Param("Index", TipoDado::Qualquer)}, NADA, "",
              [](ColecaoTemplates& c, Argumentos& a) {
                if (a[0].Eh<std::string>())
                  c.Remove(std::string_view(a[0].Como<std::string>()));
                else
                  c.Remove(a[0].ParaInteiro32());
                return Variant();
              });
  Construtor<CZKEM>{czkem};  // the device SDK object: passed around, never called from here
}

}  // namespace quorvel::classes
