// The late-bound StatusRelogio, Horario and ListaHorario.
#include "typelib/classes.h"

namespace quorvel::classes {

void Tabelas::DefineStatusEHorarios() {
  Identidade(statusRelogio, "StatusRelogio", "{1981905C-9F6C-42C9-B067-0E645565F795}",
             "{3218F6A7-EBE1-4888-9849-852C7A07B31A}", Fabrica<StatusRelogio>());
  Identidade(horario, "Horario", "{088DC379-47C4-4DFE-87B2-D9E8462AE992}",
             "{B29A6F4A-FB48-4B3F-98B8-B28BE34BC811}", Fabrica<Horario>());
  Identidade(listaHorario, "ListaHorario", "{8ED24D46-95B1-4D47-8307-0E0FF496CEF6}",
             "{C9429F67-8F53-4334-A4A8-D4051A302C7E}", Fabrica<ListaHorario>());
  // ---- StatusRelogio, Horario, ListaHorario ----------------------------------------------
  {
    Construtor<StatusRelogio> s(statusRelogio);
    struct Inteiro {
      const char* nome;
      int32_t dispid;
      int32_t (StatusRelogio::*get)() const;
      void (StatusRelogio::*put)(int32_t);
    };
    const Inteiro inteiros[] = {
        {"QuantidadeAdministradores", 0x6803000B, &StatusRelogio::QuantidadeAdministradores,
         &StatusRelogio::QuantidadeAdministradores},
        {"QuantidadeUsuarios", 0x6803000A, &StatusRelogio::QuantidadeUsuarios,
         &StatusRelogio::QuantidadeUsuarios},
        {"QuantidadeTemplates", 0x68030009, &StatusRelogio::QuantidadeTemplates,
         &StatusRelogio::QuantidadeTemplates},
        {"QuantidadeSenhas", 0x68030008, &StatusRelogio::QuantidadeSenhas,
         &StatusRelogio::QuantidadeSenhas},
        {"VezesAdministradorPoderaGerenciar", 0x68030007,
         &StatusRelogio::VezesAdministradorPoderaGerenciar,
         &StatusRelogio::VezesAdministradorPoderaGerenciar},
        {"NumeroMarcacoes", 0x68030006, &StatusRelogio::NumeroMarcacoes,
         &StatusRelogio::NumeroMarcacoes},
        {"CapacidadeTemplates", 0x68030005, &StatusRelogio::CapacidadeTemplates,
         &StatusRelogio::CapacidadeTemplates},
        {"CapacidadeUsuarios", 0x68030004, &StatusRelogio::CapacidadeUsuarios,
         &StatusRelogio::CapacidadeUsuarios},
        {"CapacidadeRegistros", 0x68030003, &StatusRelogio::CapacidadeRegistros,
         &StatusRelogio::CapacidadeRegistros},
    };
    for (const Inteiro& i : inteiros)
      s.Prop(
          i.nome, i.dispid, I4, "", [g = i.get](StatusRelogio& r) { return Variant((r.*g)()); },
          [p = i.put](StatusRelogio& r, const Variant& v) { (r.*p)(v.Como<int32_t>()); });
    s.Prop(
         "DataHora", 0x68030002, DATA, "", [](StatusRelogio& r) { return Dia(r.DataHora()); },
         [](StatusRelogio& r, const Variant& v) { r.DataHora(v.Como<DataHora>()); })
        .Prop(
            "PercentualOcupacacaoBufferMarcacoes", 0x68030001, TipoDado::Duplo, "",
            [](StatusRelogio& r) { return Variant(r.PercentualOcupacacaoBufferMarcacoes()); },
            [](StatusRelogio& r, const Variant& v) {
              r.PercentualOcupacacaoBufferMarcacoes(v.Como<double>());
            })
        .Prop(
            "VersaoFirmware", 0x68030000, TXT, "",
            [](StatusRelogio& r) { return Variant(r.VersaoFirmware()); },
            [](StatusRelogio& r, const Variant& v) { r.VersaoFirmware(v.Como<std::string>()); });
  }

  Construtor<Horario>(horario)
      .Prop(
          "Hora", 0x68030001, I2, "", [](Horario& h) { return Variant(h.Hora()); },
          [](Horario& h, const Variant& v) { h.Hora(v.Como<int16_t>()); })
      .Prop(
          "Minuto", 0x68030000, I2, "", [](Horario& h) { return Variant(h.Minuto()); },
          [](Horario& h, const Variant& v) { h.Minuto(v.Como<int16_t>()); });

  Construtor<ListaHorario>(listaHorario)
      .Metodo("Add", 0x60030000, {Param("parHorario", OBJ, "Horario", true)}, NADA, "",
              [](ListaHorario& l, Argumentos& a) {
                l.Add(Obj<Horario>(a[0]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaHorario& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "Horario",
              [](ListaHorario& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().horario, l.Item(a[0].Como<int32_t>()));
              })
      .Metodo("Remove", 0x60030003, {Param("parIndex", I4)}, NADA, "",
              [](ListaHorario& l, Argumentos& a) {
                l.Remove(a[0].Como<int32_t>());
                return Variant();
              });
}

}  // namespace quorvel::classes
