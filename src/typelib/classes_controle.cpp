// The late-bound control, ComunicacaoZK: its members, how one is made (with the host and the SDK
// factory of the environment set for it) and where its events go.
#include <mutex>

#include "typelib/classes.h"

namespace quorvel {
namespace classes {

namespace {

// What a late-bound control is: the control and the sink its events go to.
struct ControleLateBound {
  std::unique_ptr<ComunicacaoZK> controle;
  SinkEventos sink;
};

struct Ambiente {
  std::mutex mutex;
  Host* host = nullptr;
  FabricaCZKEM fabrica;
};

Ambiente& AmbienteControles() {
  static Ambiente a;
  return a;
}

// A new control in the environment set last; its events go to its sink by dispatch number and
// are dropped while it has none.
std::shared_ptr<void> NovoControle() {
  Ambiente& a = AmbienteControles();
  std::lock_guard l(a.mutex);
  if (!a.host || !a.fabrica)
    throw Erro(erro_plataforma::kNaoCriavel, "O controle não tem ambiente: defina o host e o SDK.");
  auto controle = std::make_shared<ControleLateBound>();
  controle->controle = std::make_unique<ComunicacaoZK>(*a.host, a.fabrica);
  ControleLateBound* bruto = controle.get();
  EventosComunicacaoZK& e = controle->controle->Eventos();
  e.ErroMonitoracao = [bruto](int16_t n, const std::string& d) {
    if (bruto->sink) bruto->sink(1, {Variant(n), Variant(d)});
  };
  e.MarcacaoRecolhida = [bruto](const std::shared_ptr<Marcacao>& m) {
    if (bruto->sink) bruto->sink(2, {Ref(TabelasDaBiblioteca().marcacao, m)});
  };
  e.RelogioConectado = [bruto](int16_t c) {
    if (bruto->sink) bruto->sink(3, {Variant(c)});
  };
  e.ErroConexaoRelogio = [bruto](int16_t c) {
    if (bruto->sink) bruto->sink(4, {Variant(c)});
  };
  return controle;
}

}  // namespace

void Tabelas::DefineControle() {
  Identidade(comunicacao, "ComunicacaoZK", "{B151713E-ED43-40F4-BA65-0569C3EFE301}",
             "{2E9398BC-7F16-49BF-BAA3-B64410F3726F}", NovoControle);
  comunicacao.controle = true;
  // ---- The control -----------------------------------------------------------------------
  {
    Construtor<ControleLateBound> b(comunicacao);
    // Each slot's dispatch number, in slot order from 0x60030164. 0x6003017F is not used:
    // ObterListaTemplatesCartaoRelogio answers to 0x6003017E, the next slot to 0x60030180.
    auto nada = [](auto&& f) {
      return [f](ControleLateBound& c, Argumentos& a) {
        f(*c.controle, a);
        return Variant();
      };
    };
    auto valor = [](auto&& f) {
      return [f](ControleLateBound& c, Argumentos& a) { return Variant(f(*c.controle, a)); };
    };
    const Parametro cod = Param("parCodigoRelogio", I2);
    const Parametro dia = Param("parDiaDaSemana", I4, "EDiaDaSemana");
    const Parametro sirene = Param("parCodigoSirene", I2);
    const Parametro func = Param("parFuncionarioCartao", OBJ, "FuncionarioCartao");
    const Parametro horarios = Param("parColecaoHorarioSirene", OBJ, "ListaHorario");

    b.Metodo("AddRelogio", 0x60030164, {Param("parRelogio", OBJ, "Relogio", true)}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) { c.AddRelogio(Obj<Relogio>(a[0])); }));
    b.Metodo("AddRelogioIP", 0x60030165,
             {Param("parCodigo", I2), Param("parIP", TXT),
              Param("parModeloRelogio", I4, "EModeloRelogio")},
             NADA, "", nada([](ComunicacaoZK& c, Argumentos& a) {
               c.AddRelogioIP(a[0].Como<int16_t>(), a[1].Como<std::string>(),
                              static_cast<EModeloRelogio>(a[2].Como<int32_t>()));
             }));
    b.Metodo("AddRelogioSerial", 0x60030166, {Param("parCodigo", I2), Param("parPortaSerial", I2)},
             NADA, "", nada([](ComunicacaoZK& c, Argumentos& a) {
               c.AddRelogioSerial(a[0].Como<int16_t>(), a[1].Como<int16_t>());
             }));
    b.Metodo("RemoverRelogio", 0x60030167, {cod}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) { c.RemoverRelogio(a[0].Como<int16_t>()); }));
    b.Metodo("RemoverTodosRelogios", 0x60030168, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.RemoverTodosRelogios(); }));
    b.Metodo("RemoverFuncionarioCartao", 0x60030169, {Param("parCodigo", TXT)}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.RemoverFuncionarioCartao(a[0].Como<std::string>());
             }));
    b.Metodo("RemoverTodosFuncionariosCartao", 0x6003016A, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.RemoverTodosFuncionariosCartao(); }));
    b.Metodo("DelConfigHorarioVeraoRelogio", 0x6003016B, {cod}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigHorarioVeraoRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("DelConfigHorarioVeraoTodosRelogios", 0x6003016C, {}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos&) {
               return c.DelConfigHorarioVeraoTodosRelogios();
             }));
    b.Metodo("DelConfigSireneDiaSemanaRelogio", 0x6003016D, {cod, dia}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigSireneDiaSemanaRelogio(
                   a[0].Como<int16_t>(), static_cast<EDiaDaSemana>(a[1].Como<int32_t>()));
             }));
    b.Metodo("DelConfigSireneDiaSemanaTodosRelogios", 0x6003016E, {dia}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigSireneDiaSemanaTodosRelogios(
                   static_cast<EDiaDaSemana>(a[0].Como<int32_t>()));
             }));
    b.Metodo("DelConfigSireneDiariaRelogio", 0x6003016F, {cod, sirene}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigSireneDiariaRelogio(a[0].Como<int16_t>(), a[1].Como<int16_t>());
             }));
    b.Metodo("DelConfigSireneDiariaTodosRelogios", 0x60030170, {sirene}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigSireneDiariaTodosRelogios(a[0].Como<int16_t>());
             }));
    b.Metodo("AddFuncionarioCartao", 0x60030171,
             {Param("parFuncionarioCartao", OBJ, "FuncionarioCartao", true)}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.AddFuncionarioCartao(Obj<FuncionarioCartao>(a[0]));
             }));
    b.Metodo("EnviaEmpregadorRelogio", 0x60030172,
             {cod, Param("parNome", TXT), Param("parTipoDocumento", I4, "ETipoDocumento"),
              Param("parDocumento", TXT), Param("parCEI", TXT), Param("parEndereco", TXT)},
             BOOL, "", valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.EnviaEmpregadorRelogio(a[0].Como<int16_t>(), a[1].Como<std::string>(),
                                               static_cast<ETipoDocumento>(a[2].Como<int32_t>()),
                                               a[3].Como<std::string>(), a[4].Como<std::string>(),
                                               a[5].Como<std::string>());
             }));
    b.Metodo("EnviaDataHoraRelogio", 0x60030173, {cod, Param("parDataHora", DATA)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.EnviaDataHoraRelogio(a[0].Como<int16_t>(), a[1].Como<DataHora>());
             }));
    b.Metodo("EnviaDataHoraTodosRelogios", 0x60030174, {Param("parDataHora", DATA)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.EnviaDataHoraTodosRelogios(a[0].Como<DataHora>());
             }));
    b.Metodo(
        "ConectarRelogio", 0x60030175, {cod}, NADA, "",
        nada([](ComunicacaoZK& c, Argumentos& a) { c.ConectarRelogio(a[0].Como<int16_t>()); }));
    b.Metodo(
        "DesconectarRelogio", 0x60030176, {cod}, NADA, "",
        nada([](ComunicacaoZK& c, Argumentos& a) { c.DesconectarRelogio(a[0].Como<int16_t>()); }));
    b.Metodo("DesconectarTodosRelogios", 0x60030177, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.DesconectarTodosRelogios(); }));
    b.Metodo("ObterDataHoraRelogio", 0x60030178, {cod}, DATA, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ObterDataHoraRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("ObterMarcacaoRelogio", 0x60030179,
             {cod, Opcional("parIndexPonteiro", I4, Variant(int32_t{0})),
              Opcional("parNSRPonteiro", I4, Variant(int32_t{0}))},
             OBJ, "ListaMarcacao", [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().listaMarcacao,
                          c.controle->ObterMarcacaoRelogio(
                              a[0].Como<int16_t>(), a[1].Como<int32_t>(), a[2].Como<int32_t>()));
             });
    b.Metodo("ObterMarcacaoTodosRelogios", 0x6003017A,
             {Opcional("parIndexPonteiro", I4, Variant(int32_t{0}))}, OBJ, "ListaMarcacao",
             [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().listaMarcacao,
                          c.controle->ObterMarcacaoTodosRelogios(a[0].Como<int32_t>()));
             });
    b.Metodo("ObterStatusRelogio", 0x6003017B, {cod}, OBJ, "StatusRelogio",
             [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().statusRelogio,
                          c.controle->ObterStatusRelogio(a[0].Como<int16_t>()));
             });
    b.Metodo("ObterFuncionarioCartaoByCodCartao", 0x6003017C, {Param("parCodigoCartao", TXT)}, OBJ,
             "FuncionarioCartao", [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().funcionarioCartao,
                          c.controle->ObterFuncionarioCartaoByCodCartao(a[0].Como<std::string>()));
             });
    b.Metodo("ObterListaFuncionarioCartaoRelogio", 0x6003017D, {cod}, OBJ, "ListaFuncionarioCartao",
             [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().listaFuncionarioCartao,
                          c.controle->ObterListaFuncionarioCartaoRelogio(a[0].Como<int16_t>()));
             });
    b.Metodo("ObterListaTemplatesCartaoRelogio", 0x6003017E,
             {cod, Param("parCodigoFuncionarioCartao", I4)}, OBJ, "Collection",
             [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().colecao,
                          c.controle->ObterListaTemplatesCartaoRelogio(a[0].Como<int16_t>(),
                                                                       a[1].Como<int32_t>()));
             });
    b.Metodo("EnviarListaFuncionarioCartaoRelogio", 0x60030180, {Param("parCodigoRelogio", I4)},
             OBJ, "ListaFuncionarioNaoEnviado", [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().listaFuncionarioNaoEnviado,
                          c.controle->EnviarListaFuncionarioCartaoRelogio(a[0].Como<int32_t>()));
             });
    b.Metodo("EnviaListaFuncionarioCartaoTodosRelogios", 0x60030181, {}, OBJ,
             "ListaFuncionarioNaoEnviado", [](ControleLateBound& c, Argumentos&) {
               return Ref(TabelasDaBiblioteca().listaFuncionarioNaoEnviado,
                          c.controle->EnviaListaFuncionarioCartaoTodosRelogios());
             });
    b.Metodo("ExcluiFuncionarioCartaoRelogio", 0x60030182, {cod, func}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ExcluiFuncionarioCartaoRelogio(a[0].Como<int16_t>(),
                                                       Obj<FuncionarioCartao>(a[1]));
             }));
    b.Metodo("ExcluirFuncionarioCartaoTodosRelogios", 0x60030183, {func}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ExcluirFuncionarioCartaoTodosRelogios(Obj<FuncionarioCartao>(a[0]));
             }));
    b.Metodo("ApagarTodosRegistrosRelogio", 0x60030184, {cod}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ApagarTodosRegistrosRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("Teste", 0x60030185, {}, TipoDado::Qualquer, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.Teste(); }));
    b.Metodo("Set1Para1Relogio", 0x60030186, {cod}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.Set1Para1Relogio(a[0].Como<int16_t>());
             }));
    b.Metodo("Set1Para1TodosRelogios", 0x60030187, {}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos&) { return c.Set1Para1TodosRelogios(); }));
    b.Metodo("Set1ParaNRelogio", 0x60030188, {cod}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.Set1ParaNRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("Set1ParaNTodosRelogios", 0x60030189, {}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos&) { return c.Set1ParaNTodosRelogios(); }));
    b.Metodo("SetSireneDiaSemanaRelogio", 0x6003018A, {cod, horarios, dia}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetSireneDiaSemanaRelogio(a[0].Como<int16_t>(), Obj<ListaHorario>(a[1]),
                                                  static_cast<EDiaDaSemana>(a[2].Como<int32_t>()));
             }));
    b.Metodo("SetSireneDiaSemanaTodosRelogios", 0x6003018B, {horarios, dia}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetSireneDiaSemanaTodosRelogios(
                   Obj<ListaHorario>(a[0]), static_cast<EDiaDaSemana>(a[1].Como<int32_t>()));
             }));
    b.Metodo("SetSireneDiariaRelogio", 0x6003018C,
             {cod, sirene, Param("parHora", I2), Param("parMinuto", I2)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetSireneDiariaRelogio(a[0].Como<int16_t>(), a[1].Como<int16_t>(),
                                               a[2].Como<int16_t>(), a[3].Como<int16_t>());
             }));
    b.Metodo("SetSireneDiariaTodosRelogios", 0x6003018D,
             {sirene, Param("parHora", I2), Param("parMinuto", I2)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetSireneDiariaTodosRelogios(a[0].Como<int16_t>(), a[1].Como<int16_t>(),
                                                     a[2].Como<int16_t>());
             }));
    b.Metodo("SetTempoDuracaoToqueSireneRelogio", 0x6003018E, {cod, Param("parDuracao", I2)}, BOOL,
             "", valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetTempoDuracaoToqueSireneRelogio(a[0].Como<int16_t>(),
                                                          a[1].Como<int16_t>());
             }));
    b.Metodo("SetTempoDuracaoToqueSireneTodosRelogios", 0x6003018F, {Param("parDuracao", I2)}, BOOL,
             "", valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetTempoDuracaoToqueSireneTodosRelogios(a[0].Como<int16_t>());
             }));
    b.Metodo("SetHorarioVeraoRelogio", 0x60030190,
             {cod, Param("parDataHoraInicio", DATA), Param("parDataHoraFim", DATA)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetHorarioVeraoRelogio(a[0].Como<int16_t>(), a[1].Como<DataHora>(),
                                               a[2].Como<DataHora>());
             }));
    b.Metodo("SetHorarioVeraoTodosRelogios", 0x60030191,
             {Param("parDataHoraInicio", DATA), Param("parDataHoraFim", DATA)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetHorarioVeraoTodosRelogios(a[0].Como<DataHora>(), a[1].Como<DataHora>());
             }));
    b.Metodo("IniciaMonitoracaoRelogio", 0x60030192, {cod}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.IniciaMonitoracaoRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("IniciaMonitoracaoTodosRelogios", 0x60030193, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.IniciaMonitoracaoTodosRelogios(); }));
    b.Metodo("PararMonitoracaoRelogio", 0x60030194, {cod}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.PararMonitoracaoRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("PararMonitoracaoTodosRelogios", 0x60030195, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.PararMonitoracaoTodosRelogios(); }));
    b.Metodo("HabilitaDesabilitaRelogio", 0x60030196, {cod, Param("parHabilita", BOOL)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.HabilitaDesabilitaRelogio(a[0].Como<int16_t>(), a[1].Como<bool>());
             }));
    b.Metodo("ApagarMarcacoesRelogio", 0x60030197, {Param("parCodigoRelogio", I4)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ApagarMarcacoesRelogio(a[0].Como<int32_t>());
             }));
    b.Metodo("ApagarMarcacoesTodosRelogios", 0x60030198, {}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos&) { return c.ApagarMarcacoesTodosRelogios(); }));
    b.Metodo("ReposicionaPonteiroRelogio", 0x60030199, {cod, Param("parIndex", I4)}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.ReposicionaPonteiroRelogio(a[0].Como<int16_t>(), a[1].Como<int32_t>());
             }));
    b.Metodo("RefreshRelogio", 0x6003019A, {cod}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) { c.RefreshRelogio(a[0].Como<int16_t>()); }));
    b.Metodo("CancelaColeta", 0x6003019E, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.CancelaColeta(); }));
  }
}

}  // namespace classes

void DefineAmbienteControles(Host* host, FabricaCZKEM fabrica) {
  classes::Ambiente& a = classes::AmbienteControles();
  std::lock_guard l(a.mutex);
  a.host = host;
  a.fabrica = std::move(fabrica);
}

void DefineSink(const RefObjeto& controle, SinkEventos sink) {
  if (!controle.classe || !controle.classe->controle || !controle.objeto)
    LancaTiposIncompativeis("só o controle ComunicacaoZK tem eventos");
  static_cast<classes::ControleLateBound*>(controle.objeto.get())->sink = std::move(sink);
}

}  // namespace quorvel
