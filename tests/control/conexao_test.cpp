// Connection through the one-shot timer, disconnection, refresh, enable, and the retry.
#include "control/interno.h"
#include "support/controle_fixture.h"

namespace quorvel {
namespace {

using namespace teste;

class Conexao : public ControleTeste {
 protected:
  Conexao() {
    controle->Eventos().RelogioConectado = [this](int16_t c) {
      eventos.push_back("conectado " + std::to_string(c));
    };
    controle->Eventos().ErroConexaoRelogio = [this](int16_t c) {
      eventos.push_back("erro " + std::to_string(c));
    };
  }
  std::vector<std::string> eventos;
};

TEST_F(Conexao, TheTimerConnectsAbout100msLaterAndRaisesOneEvent) {
  MockCZKEM& m = Registra(4);
  EXPECT_CALL(m, SdkConnectNetwork("192.0.2.4", 4370)).WillOnce(Return(true));
  controle->ConectarRelogio(4);
  EXPECT_TRUE(controle->TimerConexao().Habilitado());
  host.Avanca(99);
  EXPECT_TRUE(eventos.empty());
  host.Avanca(1);
  EXPECT_EQ(eventos, (std::vector<std::string>{"conectado 4"}));
  EXPECT_TRUE(controle->Relogios().Item(1)->Conectado());
  EXPECT_FALSE(controle->TimerConexao().Habilitado());
  host.Avanca(1000);
  EXPECT_EQ(eventos.size(), 1u);
}

TEST_F(Conexao, AnAddressMayNameItsPort) {
  const std::vector<std::tuple<std::string, std::string, int32_t>> casos = {
      {"192.0.2.9", "192.0.2.9", 4370},
      {"192.0.2.9:4371", "192.0.2.9", 4371},
      {"relogio.local:80", "relogio.local", 80},
      {"[::1]:4372", "::1", 4372},
      {"[::1]", "::1", 4370},
      {"fe80::1", "fe80::1", 4370},
      {"host:abc", "host:abc", 4370},
      {"host:70000", "host:70000", 4370},
      {"10.0.0.1:0", "10.0.0.1:0", 4370},
      {"10.0.0.1:65535", "10.0.0.1", 65535},
      {"10.0.0.1:1", "10.0.0.1", 1}};
  int16_t codigo = 1;
  for (const auto& [ip, endereco, porta] : casos) {
    controle->AddRelogioIP(codigo, ip, EModeloRelogio_Quorvel);
    MockCZKEM& m = *sdks.back();
    EXPECT_CALL(m, SdkConnectNetwork(endereco, porta)).WillOnce(Return(true));
    controle->ConectarRelogio(codigo);
    host.Avanca(100);
    ::testing::Mock::VerifyAndClearExpectations(&m);
    ++codigo;
  }
}

TEST_F(Conexao, AFailedAttemptRaisesTheErrorEvent) {
  MockCZKEM& m = Registra(4);
  EXPECT_CALL(m, SdkConnectNetwork).WillOnce(Return(false));
  controle->ConectarRelogio(4);
  host.Avanca(100);
  EXPECT_EQ(eventos, (std::vector<std::string>{"erro 4"}));
  EXPECT_FALSE(controle->Relogios().Item(1)->Conectado());
}

// A clock that says it is the other model is not taken as connected: read the wrong way it
// would give nothing. One that says nothing, or says the registered model, connects.
TEST_F(Conexao, AClockThatSaysItIsTheOtherModelIsNotConnected) {
  MockCZKEM& m = Registra(4);  // registered as the fingerprint model
  ON_CALL(m, SdkConnectNetwork).WillByDefault(Return(true));
  EXPECT_CALL(m, SdkGetDeviceModel(4, _))
      .WillOnce(DoAll(SetArgReferee<1>(EModeloRelogio_Tarvenix), Return(true)))
      .WillOnce(DoAll(SetArgReferee<1>(EModeloRelogio_Quorvel), Return(true)))
      .WillOnce(Return(false));
  EXPECT_CALL(m, SdkDisconnect()).Times(1);
  controle->ConectarRelogio(4);
  host.Avanca(100);
  EXPECT_EQ(eventos, (std::vector<std::string>{"erro 4"}));
  EXPECT_FALSE(controle->Relogios().Item(1)->Conectado());
  controle->ConectarRelogio(4);
  host.Avanca(100);
  controle->ConectarRelogio(4);
  host.Avanca(100);
  EXPECT_EQ(eventos, (std::vector<std::string>{"erro 4", "conectado 4", "conectado 4"}));
  EXPECT_TRUE(controle->Relogios().Item(1)->Conectado());
}

TEST_F(Conexao, OnlyTheLastRequestBeforeTheTickIsAttempted) {
  MockCZKEM& um = Registra(1);
  MockCZKEM& dois = Registra(2);
  EXPECT_CALL(um, SdkConnectNetwork).Times(0);
  EXPECT_CALL(dois, SdkConnectNetwork).WillOnce(Return(true));
  controle->ConectarRelogio(1);
  host.Avanca(50);
  controle->ConectarRelogio(2);
  host.Avanca(200);
  EXPECT_EQ(eventos, (std::vector<std::string>{"conectado 2"}));
}

TEST_F(Conexao, SerialClocksUseTheirPortCodeAnd115200Baud) {
  controle->AddRelogioSerial(9, 3);
  MockCZKEM& m = *sdks.back();
  EXPECT_CALL(m, SdkConnectSerial(3, 9, 115200)).WillOnce(Return(true));
  EXPECT_CALL(m, SdkConnectNetwork).Times(0);
  controle->ConectarRelogio(9);
  host.Avanca(100);
  EXPECT_EQ(eventos, (std::vector<std::string>{"conectado 9"}));
}

TEST_F(Conexao, AnUnknownConnectionTypeIsNotAttempted) {
  auto r = std::make_shared<Relogio>();
  r->Codigo(6);
  r->TipoConexao(static_cast<ETipoConexao>(5));
  controle->AddRelogio(r);
  teste::ProibeChamadas(*sdks.back());
  controle->ConectarRelogio(6);
  host.Avanca(500);
  EXPECT_TRUE(eventos.empty());
}

TEST_F(Conexao, NothingEscapesTheTick) {
  MockCZKEM& m = Registra(4);
  EXPECT_CALL(m, SdkConnectNetwork).WillOnce(Throw(Erro(-2147467259, "porta em uso")));
  controle->ConectarRelogio(4);
  host.Avanca(100);
  EXPECT_EQ(eventos, (std::vector<std::string>{"erro 4"}));
  EXPECT_FALSE(controle->Relogios().Item(1)->Conectado());

  // A clock removed between the request and the tick.
  controle->ConectarRelogio(4);
  controle->RemoverRelogio(4);
  host.Avanca(100);
  EXPECT_EQ(eventos, (std::vector<std::string>{"erro 4", "erro 4"}));

  // A host handler that throws.
  Registra(5);
  ON_CALL(*sdks.back(), SdkConnectNetwork).WillByDefault(Return(true));
  controle->Eventos().RelogioConectado = [](int16_t) { throw std::runtime_error("handler"); };
  controle->ConectarRelogio(5);
  EXPECT_NO_THROW(host.Avanca(100));
  EXPECT_TRUE(controle->Relogios().ItemByCodRelogio("5")->Conectado());
}

TEST_F(Conexao, UnregisteredCodesFailAtTheCall) {
  EXPECT_EQ(Captura([&] { controle->ConectarRelogio(3); }).Numero(), erro::kRelogioNaoRegistrado);
  EXPECT_FALSE(controle->TimerConexao().Habilitado());
  EXPECT_EQ(Captura([&] { controle->DesconectarRelogio(3); }).Numero(),
            erro::kRelogioNaoRegistrado);
}

TEST_F(Conexao, DisconnectIsAlwaysSent) {
  MockCZKEM& nunca = Registra(1);
  MockCZKEM& ligado = Conectado(2);
  eventos.clear();
  EXPECT_CALL(nunca, SdkDisconnect).Times(1);
  EXPECT_CALL(ligado, SdkDisconnect).Times(1);
  controle->DesconectarTodosRelogios();
  EXPECT_FALSE(controle->Relogios().Item(2)->Conectado());
  EXPECT_TRUE(eventos.empty());
}

TEST_F(Conexao, RefreshAndEnableNeedAConnectedClock) {
  MockCZKEM& m = Conectado(7);
  EXPECT_CALL(m, SdkRefreshData(7)).WillOnce(Return(false));
  controle->RefreshRelogio(7);
  EXPECT_CALL(m, SdkEnableDevice(7, false)).WillOnce(Return(true));
  EXPECT_TRUE(controle->HabilitaDesabilitaRelogio(7, false));
  EXPECT_CALL(m, SdkEnableDevice(7, true)).WillOnce(Return(false));
  EXPECT_FALSE(controle->HabilitaDesabilitaRelogio(7, true));

  Registra(8);
  EXPECT_EQ(Captura([&] { controle->RefreshRelogio(8); }).Numero(), erro::kRelogioDesconectado);
  Erro e = Captura([&] { controle->HabilitaDesabilitaRelogio(8, true); });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_EQ(e.Descricao(), DescricaoDesconectadoEmbrulhada(8, "HabilitaDesabilitaRelogio"));
}

// ---- Retry procedure -------------------------------------------------------------------

class Retentativa : public ControleTeste {
 protected:
  // Journals the device calls next to the host's waits and yields.
  void Diario(MockCZKEM& m) {
    ON_CALL(m, SdkDisconnect).WillByDefault(Invoke([this] { host.Anota("disconnect"); }));
    ON_CALL(m, SdkConnectNetwork).WillByDefault(Invoke([this](const std::string& ip, int32_t p) {
      host.Anota("network " + ip + ":" + std::to_string(p));
      return true;
    }));
    ON_CALL(m, SdkConnectSerial).WillByDefault(Invoke([this](int32_t p, int32_t m2, int32_t b) {
      host.Anota("serial " + std::to_string(p) + "," + std::to_string(m2) + "," +
                 std::to_string(b));
      return true;
    }));
  }
  // Runs the procedure with an operation whose answers are given in turn.
  bool Executa(MockCZKEM& m, std::vector<bool> respostas, int32_t codigoErro, int* tentativas) {
    ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(codigoErro));
    const auto entrada = controle->Relogios().Item(1);
    size_t i = 0;
    return interno::ExecutaComRetentativa(host, *entrada, [&](CZKEM&) {
      ++*tentativas;
      host.Anota("tentativa");
      return respostas.at(i++);
    });
  }
};

TEST_F(Retentativa, SuccessAtOnceAsksForNoErrorCode) {
  MockCZKEM& m = Conectado(1);
  EXPECT_CALL(m, SdkGetLastError).Times(0);
  int n = 0;
  EXPECT_TRUE(Executa(m, {true}, -2, &n));
  EXPECT_EQ(n, 1);
}

TEST_F(Retentativa, ThreeLostLinksGiveFalseAfterTwoReconnections) {
  MockCZKEM& m = Conectado(1);
  Diario(m);
  int n = 0;
  EXPECT_FALSE(Executa(m, {false, false, false}, -2, &n));
  EXPECT_EQ(n, 3);
  const std::vector<std::string> ciclo = {
      "espera 1000", "cede", "disconnect", "espera 250", "network 192.0.2.1:4370", "espera 250"};
  std::vector<std::string> esperado = {"tentativa"};
  for (int k = 0; k < 2; ++k) {
    esperado.insert(esperado.end(), ciclo.begin(), ciclo.end());
    esperado.push_back("tentativa");
  }
  EXPECT_EQ(host.Diario(), esperado);
}

TEST_F(Retentativa, RecoversOnTheThirdAttempt) {
  MockCZKEM& m = Conectado(1);
  int n = 0;
  EXPECT_TRUE(Executa(m, {false, false, true}, -2, &n));
  EXPECT_EQ(n, 3);
  EXPECT_EQ(host.Esperas(), (std::vector<int32_t>{1000, 250, 250, 1000, 250, 250}));
}

TEST_F(Retentativa, OtherErrorCodesEndAtOnce) {
  MockCZKEM& m = Conectado(1);
  EXPECT_CALL(m, SdkDisconnect).Times(0);
  int n = 0;
  EXPECT_FALSE(Executa(m, {false}, -1, &n));
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(host.Esperas().empty());
}

TEST_F(Retentativa, SerialClocksAreReopenedOnTheirOwnLine) {
  controle->AddRelogioSerial(9, 3);
  MockCZKEM& m = *sdks.back();
  Diario(m);
  EXPECT_CALL(m, SdkConnectNetwork).Times(0);
  int n = 0;
  const auto entrada = controle->Relogios().Item(1);
  ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-2));
  bool primeira = true;
  EXPECT_TRUE(interno::ExecutaComRetentativa(host, *entrada, [&](CZKEM&) {
    ++n;
    const bool r = !primeira;
    primeira = false;
    return r;
  }));
  EXPECT_EQ(n, 2);
  EXPECT_NE(std::find(host.Diario().begin(), host.Diario().end(), "serial 3,9,115200"),
            host.Diario().end());
}

TEST_F(Retentativa, TheHostMayActDuringTheYield) {
  MockCZKEM& m = Conectado(1);
  int n = 0;
  bool chamou = false;
  host.AoCeder([&] { chamou = true; });
  EXPECT_TRUE(Executa(m, {false, true}, -2, &n));
  EXPECT_TRUE(chamou);
}

}  // namespace
}  // namespace quorvel
