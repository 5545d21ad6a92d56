// The type library's value classes as data, one function per group: each class's identity
// and factory, its members in slot order with their dispatch numbers, and what each member does.
// The control's class is in classes_controle.cpp; the engine that reads them in motor.cpp.
#include "typelib/classes.h"

namespace quorvel::classes {

// ---- Relogio, RelogioCZKEM, ListaRelogio -------------------------------------------------------

void Tabelas::DefineRelogios() {
  Identidade(relogio, "Relogio", "{BB9DDB53-9C49-4737-84F7-E16DFBF1F227}",
             "{819F9704-5846-41D4-BA42-EAFBCB637F61}", Fabrica<Relogio>());
  Identidade(relogioCZKEM, "RelogioCZKEM", "{128F7E97-3363-46AF-B918-99637AB33596}",
             "{FA2CD417-E2C4-42E1-B7D6-7D0471FF8A52}", Fabrica<RelogioCZKEM>());
  Identidade(listaRelogio, "ListaRelogio", "{6383B7C2-D6DD-4FBD-8E84-9D04DD3B9331}",
             "{B647DE4F-4E99-479A-9A93-860AA6230E33}", Fabrica<ListaRelogio>());
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

// ---- Marcacao, ListaMarcacao -------------------------------------------------------------------

void Tabelas::DefineMarcacoes() {
  Identidade(marcacao, "Marcacao", "{3601D576-7621-4C5C-9FC9-E67032AEFABA}",
             "{E85A21FB-9422-4DA9-B860-547C3099BE8F}", Fabrica<Marcacao>());
  Identidade(listaMarcacao, "ListaMarcacao", "{16E63E04-8300-42E1-990D-EF61D0E00086}",
             "{21BA1092-428F-42EA-A554-B82D05B8B7BE}", Fabrica<ListaMarcacao>());
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

// ---- Template, FuncionarioCartao, FuncionarioNaoEnviado and their lists ------------------------

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

// ---- StatusRelogio, Horario, ListaHorario ------------------------------------------------------

void Tabelas::DefineStatusEHorarios() {
  Identidade(statusRelogio, "StatusRelogio", "{1981905C-9F6C-42C9-B067-0E645565F795}",
             "{3218F6A7-EBE1-4888-9849-852C7A07B31A}", Fabrica<StatusRelogio>());
  Identidade(horario, "Horario", "{088DC379-47C4-4DFE-87B2-D9E8462AE992}",
             "{B29A6F4A-FB48-4B3F-98B8-B28BE34BC811}", Fabrica<Horario>());
  Identidade(listaHorario, "ListaHorario", "{8ED24D46-95B1-4D47-8307-0E0FF496CEF6}",
             "{C9429F67-8F53-4334-A4A8-D4051A302C7E}", Fabrica<ListaHorario>());
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

// ---- The platform's keyed collection and the device SDK object ---------------------------------

void Tabelas::DefineColecaoESdk() {
  // Outside definitions: the platform's keyed collection and the device SDK object. Neither is
  // creatable here.
  colecao.nome = "Collection";
  colecao.iid = GuidDe("{A4C46780-499F-101B-BB78-00AA00383CBB}");
  czkem.nome = "CZKEM";
  czkem.iid = GuidDe("{102F4206-E43D-4FC9-BAB0-331CFFE4D25B}");

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
