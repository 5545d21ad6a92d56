// Sending the staging list to one clock and to all.
#include "support/controle_fixture.h"
#include "support/funcionarios.h"

namespace quorvel {
namespace {

using namespace teste;

class Envio : public ControleTeste {
 protected:
  std::shared_ptr<FuncionarioCartao> Estagia(int32_t codigo, std::string senha,
                                             std::vector<int32_t> dedos = {},
                                             bool supervisor = false) {
    const std::string n = std::to_string(codigo);
    auto f = NovoFuncionario(
        codigo, {.nome = "Func " + n,
                 .senha = std::move(senha),
                 .pis = "PIS" + n,
                 .cpf = "CPF" + n,
                 .cartao = "C" + n,
                 .supervisor = supervisor,
                 .dedos = std::move(dedos),
                 .texto = [n](int32_t d) { return "tpl" + n + "-" + std::to_string(d); }});
    controle->AddFuncionarioCartao(f);
    return f;
  }
  // A conversion that prefixes "conv:".
  static void Converte(MockCZKEM& m) {
    ON_CALL(m, SdkConvertTemplate)
        .WillByDefault([](const std::string& in, std::string& out, int32_t& n) {
          out = "conv:" + in;
          n = static_cast<int32_t>(out.size());
          return true;
        });
  }
};

TEST_F(Envio, EmptyStagingListComesFirst) {
  Erro e = Captura([&] { controle->EnviarListaFuncionarioCartaoRelogio(99); });
  EXPECT_EQ(e.Numero(), erro::kNadaParaEnviar);
  EXPECT_EQ(e.Descricao(), Descricao("Não existem cartões de funcionários para serem enviados.",
                                     "ComunicacaoZK", "EnviarListaFuncionarioCartaoRelogio"));
  Estagia(1, "x");
  EXPECT_EQ(Captura([&] { controle->EnviarListaFuncionarioCartaoRelogio(99); }).Numero(),
            erro::kRelogioNaoRegistrado);
  teste::ProibeChamadas(Registra(5));
  EXPECT_EQ(Captura([&] { controle->EnviarListaFuncionarioCartaoRelogio(5); }).Numero(),
            erro::kRelogioDesconectado);
}

TEST_F(Envio, QuorvelExactCalls) {
  MockCZKEM& m = Conectado(3);
  Estagia(10, "123", {}, true);
  Estagia(11, "", {2, 7});
  Estagia(12, "");
  Converte(m);
  {
    InSequence s;
    EXPECT_CALL(m, SdkSetUserInfo(3, 10, "Func 10", "123", 2, true)).WillOnce(Return(true));
    EXPECT_CALL(m, SdkSetUserInfo(3, 11, "Func 11", "", 0, true)).WillOnce(Return(true));
    EXPECT_CALL(m, SdkDeleteUserTemplate(3, 11, 2));
    EXPECT_CALL(m, SdkConvertTemplate("tpl11-2", _, _));
    EXPECT_CALL(m, SdkSetUserTemplate(3, 11, 2, "conv:tpl11-2")).WillOnce(Return(true));
    EXPECT_CALL(m, SdkDeleteUserTemplate(3, 11, 7));
    EXPECT_CALL(m, SdkConvertTemplate("tpl11-7", _, _));
    EXPECT_CALL(m, SdkSetUserTemplate(3, 11, 7, "conv:tpl11-7")).WillOnce(Return(true));
  }
  EXPECT_CALL(m, SdkSetCardNumber).Times(0);
  EXPECT_CALL(m, SdkSetUserInfoWithPis).Times(0);
  const auto naoEnviados = controle->EnviarListaFuncionarioCartaoRelogio(3);
  ASSERT_EQ(naoEnviados->Count(), 1);  // employee 12 has nothing to identify with
  EXPECT_EQ(naoEnviados->Item(1)->FuncionarioCartao()->Codigo(), 12);
  EXPECT_EQ(naoEnviados->Item(1)->MotivoFalha(), NaoPossuiSenhaOuTemplate);
  EXPECT_EQ(naoEnviados->Item(1)->CodigoRelogio(), "3");
  EXPECT_EQ(host.Cedencias(), 3);  // one yield per employee
  EXPECT_EQ(controle->FuncionariosCartao().Count(), 3);
}

TEST_F(Envio, QuorvelRefusalsAndTheirReasons) {
  MockCZKEM& m = Conectado(3);
  auto recusado = Estagia(1, "", {1, 2});
  auto tpl = Estagia(2, "", {4, 5, 6});
  Converte(m);
  EXPECT_CALL(m, SdkSetUserInfo(3, 1, _, _, _, _)).WillOnce(Return(false));
  EXPECT_CALL(m, SdkSetUserInfo(3, 2, _, _, _, _)).WillOnce(Return(true));
  EXPECT_CALL(m, SdkSetUserTemplate(3, 1, _, _)).Times(0);
  EXPECT_CALL(m, SdkSetUserTemplate(3, 2, 4, _)).WillOnce(Return(false));
  EXPECT_CALL(m, SdkSetUserTemplate(3, 2, 5, _)).WillOnce(Return(false));
  EXPECT_CALL(m, SdkSetUserTemplate(3, 2, 6, _)).WillOnce(Return(true));  // still sent
  const auto r = controle->EnviarListaFuncionarioCartaoRelogio(3);
  ASSERT_EQ(r->Count(), 2);
  EXPECT_EQ(r->Item(1)->FuncionarioCartao(), recusado);  // the staged record itself
  EXPECT_EQ(r->Item(1)->MotivoFalha(), RelogioRecusou);
  EXPECT_EQ(r->Item(2)->MotivoFalha(), RelogioRecusouTemplate);
}

TEST_F(Envio, AFailedConversionNeverSendsAnEarlierTemplate) {
  MockCZKEM& m = Conectado(3);
  Estagia(1, "", {1, 2, 3});
  ON_CALL(m, SdkSetUserInfo).WillByDefault(Return(true));
  EXPECT_CALL(m, SdkConvertTemplate("tpl1-1", _, _))
      .WillOnce(DoAll(SetArgReferee<1>("ok1"), Return(true)));
  EXPECT_CALL(m, SdkConvertTemplate("tpl1-2", _, _)).WillOnce(Return(false));  // leaves it alone
  EXPECT_CALL(m, SdkConvertTemplate("tpl1-3", _, _))
      .WillOnce(DoAll(SetArgReferee<1>("ok3"), Return(true)));
  EXPECT_CALL(m, SdkSetUserTemplate(3, 1, 1, "ok1")).WillOnce(Return(true));
  EXPECT_CALL(m, SdkSetUserTemplate(3, 1, 2, _)).Times(0);
  EXPECT_CALL(m, SdkSetUserTemplate(3, 1, 3, "ok3")).WillOnce(Return(true));
  const auto r = controle->EnviarListaFuncionarioCartaoRelogio(3);
  ASSERT_EQ(r->Count(), 1);
  EXPECT_EQ(r->Item(1)->MotivoFalha(), RelogioRecusouTemplate);
}

TEST_F(Envio, TarvenixExactCalls) {
  MockCZKEM& m = Conectado(4, EModeloRelogio_Tarvenix);
  Estagia(25, "9", {3}, true);
  {
    InSequence s;
    EXPECT_CALL(m, SdkSetCardNumber("C25"));
    EXPECT_CALL(m, SdkSetUserInfoWithPis(4, "25", "Func 25", "9", 2, true, "PIS25", "CPF25"))
        .WillOnce(Return(true));
    EXPECT_CALL(m, SdkDeleteUserTemplateByTextId(4, "25", 3));
    EXPECT_CALL(m, SdkSetUserTemplateByTextId(4, "25", 3, 1, "tpl25-3")).WillOnce(Return(true));
  }
  EXPECT_CALL(m, SdkConvertTemplate).Times(0);
  EXPECT_CALL(m, SdkGetLastError).Times(0);
  EXPECT_EQ(controle->EnviarListaFuncionarioCartaoRelogio(4)->Count(), 0);
}

TEST_F(Envio, TarvenixRetriesLostLinksAndReportsEveryRefusal) {
  MockCZKEM& m = Conectado(4, EModeloRelogio_Tarvenix);
  Estagia(1, "a");
  Estagia(2, "b", {5});
  Estagia(3, "c");
  ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-2));
  // Employee 1: lost link twice, then stored. Employee 2: lost link three times.
  // Employee 3: refused with another code, no reconnection.
  EXPECT_CALL(m, SdkSetUserInfoWithPis(4, "1", _, _, _, _, _, _))
      .WillOnce(Return(false))
      .WillOnce(Return(false))
      .WillOnce(Return(true));
  EXPECT_CALL(m, SdkSetUserInfoWithPis(4, "2", _, _, _, _, _, _))
      .Times(3)
      .WillRepeatedly(Return(false));
  EXPECT_CALL(m, SdkSetUserTemplateByTextId).Times(0);
  EXPECT_CALL(m, SdkSetUserInfoWithPis(4, "3", _, _, _, _, _, _)).WillOnce([&](auto&&...) {
    ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-5));
    return false;
  });
  EXPECT_CALL(m, SdkSetCardNumber).Times(7);  // before every attempt
  EXPECT_CALL(m, SdkDisconnect).Times(4);
  EXPECT_CALL(m, SdkConnectNetwork("192.0.2.4", 4370)).Times(4);
  const auto r = controle->EnviarListaFuncionarioCartaoRelogio(4);
  ASSERT_EQ(r->Count(), 2);
  EXPECT_EQ(r->Item(1)->FuncionarioCartao()->Codigo(), 2);  // not silently missing
  EXPECT_EQ(r->Item(1)->MotivoFalha(), RelogioRecusou);
  EXPECT_EQ(r->Item(2)->FuncionarioCartao()->Codigo(), 3);
}

TEST_F(Envio, AnyOtherFailureEndsTheSendWrapped) {
  MockCZKEM& m = Conectado(3);
  Estagia(1, "a");
  EXPECT_CALL(m, SdkSetUserInfo).WillOnce(Throw(Erro(-2147467259, "objeto falhou")));
  Erro e = Captura([&] { controle->EnviarListaFuncionarioCartaoRelogio(3); });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_EQ(e.Descricao(), Descricao("Ocorreu um erro desconhecido! - objeto falhou",
                                     "ComunicacaoZK", "EnviarListaFuncionarioCartaoRelogio"));
}

TEST_F(Envio, ShorteningTheListDuringAYieldEndsTheSend) {
  Conectado(3);
  Estagia(1, "a");
  Estagia(2, "b");
  ON_CALL(*sdks[0], SdkSetUserInfo).WillByDefault([&](auto&&...) {
    host.AoCeder([&] { controle->RemoverTodosFuncionariosCartao(); });
    return true;
  });
  EXPECT_EQ(Captura([&] { controle->EnviarListaFuncionarioCartaoRelogio(3); }).Numero(),
            erro::kDesconhecido);
}

TEST_F(Envio, AllClocksMergesNewRecordsInClockOrder) {
  EXPECT_EQ(controle->EnviaListaFuncionarioCartaoTodosRelogios()->Count(),
            0);  // no clock, no error
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2);
  auto sete = Estagia(7, "s");
  EXPECT_CALL(a, SdkSetUserInfo).WillOnce(Return(false));
  EXPECT_CALL(b, SdkSetUserInfo).WillOnce(Return(false));
  const auto r = controle->EnviaListaFuncionarioCartaoTodosRelogios();
  ASSERT_EQ(r->Count(), 2);
  EXPECT_EQ(r->Item(1)->CodigoRelogio(), "1");
  EXPECT_EQ(r->Item(2)->CodigoRelogio(), "2");
  EXPECT_EQ(r->Item(1)->FuncionarioCartao(), sete);
}

// Clock 1 with employee 23 and clock 12 with employee 3 share the key "123": the send files
// both refusals, each once, in clock order.
TEST_F(Envio, NoRefusalIsLostToAKeyCollision) {
  MockCZKEM& um = Conectado(1);
  MockCZKEM& doze = Conectado(12);
  const auto tres = Estagia(3, "s");
  const auto vinteETres = Estagia(23, "s");
  EXPECT_CALL(um, SdkSetUserInfo(1, 3, _, _, _, _)).WillOnce(Return(true));
  EXPECT_CALL(um, SdkSetUserInfo(1, 23, _, _, _, _)).WillOnce(Return(false));
  EXPECT_CALL(doze, SdkSetUserInfo(12, 3, _, _, _, _)).WillOnce(Return(false));
  EXPECT_CALL(doze, SdkSetUserInfo(12, 23, _, _, _, _)).WillOnce(Return(true));
  const auto r = controle->EnviaListaFuncionarioCartaoTodosRelogios();
  ASSERT_EQ(r->Count(), 2);
  EXPECT_EQ(r->Item(1)->CodigoRelogio(), "1");
  EXPECT_EQ(r->Item(1)->FuncionarioCartao(), vinteETres);
  EXPECT_EQ(r->Item(2)->CodigoRelogio(), "12");
  EXPECT_EQ(r->Item(2)->FuncionarioCartao(), tres);
}

// The documented maximum of a staging list goes whole: the loop counts past 16 bits' reach.
TEST_F(Envio, ThirtyTwoThousandSevenHundredSixtySevenEmployeesAreSentWhole) {
  MockCZKEM& m = Conectado(1);
  for (int32_t codigo = 1; codigo <= 32767; ++codigo) Estagia(codigo, "s");
  int gravados = 0;
  ON_CALL(m, SdkSetUserInfo)
      .WillByDefault(
          [&](int32_t, int32_t codigo, const std::string&, const std::string&, int32_t, bool) {
            ++gravados;
            return codigo % 1000 != 0;  // every thousandth refused
          });
  const auto r = controle->EnviarListaFuncionarioCartaoRelogio(1);
  EXPECT_EQ(gravados, 32767);
  ASSERT_EQ(r->Count(), 32);
  EXPECT_EQ(r->Item(32)->FuncionarioCartao()->Codigo(), 32000);
}

TEST_F(Envio, AllClocksStopsAtADisconnectedClock) {
  MockCZKEM& a = Conectado(1);
  Registra(2);
  MockCZKEM& c = Conectado(3);
  Estagia(7, "s");
  EXPECT_CALL(a, SdkSetUserInfo).WillOnce(Return(true));
  EXPECT_CALL(c, SdkSetUserInfo).Times(0);
  EXPECT_EQ(Captura([&] { controle->EnviaListaFuncionarioCartaoTodosRelogios(); }).Numero(),
            erro::kRelogioDesconectado);
  controle->RemoverTodosFuncionariosCartao();
  EXPECT_EQ(Captura([&] { controle->EnviaListaFuncionarioCartaoTodosRelogios(); })
                .Descricao()
                .rfind("Não existem cartões", 0),
            0u);
}

}  // namespace
}  // namespace quorvel
