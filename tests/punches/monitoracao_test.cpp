// Real-time monitoring through the 200 ms timer.
#include "support/controle_fixture.h"
#include "support/marcacoes_falsas.h"

namespace quorvel {
namespace {

using namespace teste;

class Monitoracao : public ControleTeste {
 protected:
  Monitoracao() {
    controle->Eventos().MarcacaoRecolhida = [this](const std::shared_ptr<Marcacao>& m) {
      recolhidas.push_back(m);
    };
    controle->Eventos().ErroMonitoracao = [this](int16_t n, const std::string& d) {
      erros.emplace_back(n, d);
    };
  }
  std::vector<std::shared_ptr<Marcacao>> recolhidas;
  std::vector<std::pair<int16_t, std::string>> erros;
};

// The virtual host starts at 05/03/2024 08:00:00.

// ---- Every punch recorded after the start, exactly once ---------------------------------

std::vector<int32_t> Cartoes(const std::vector<std::shared_ptr<Marcacao>>& v) {
  std::vector<int32_t> r;
  for (const auto& m : v) r.push_back(m->CodigoCartao());
  return r;
}

TEST_F(Monitoracao, EveryNewLogEntryIsRaisedOnceWhateverItsTime) {
  MockCZKEM& m = Conectado(1);
  std::vector<LogQuorvel> logs = {{1, 1, "05/03/2024 07:59:59"}, {2, 1, "05/03/2024 08:00:00"}};
  teste::ForneceMarcacoes(m, logs);
  controle->IniciaMonitoracaoRelogio(1);
  EXPECT_TRUE(controle->TimerMonitoracao().Habilitado());
  EXPECT_EQ(controle->TimerMonitoracao().Intervalo(), 200);
  host.Avanca(200);  // the first visit takes what the clock holds as seen
  EXPECT_TRUE(recolhidas.empty());

  logs.push_back({3, 1, "05/03/2024 08:00:00"});  // the same second as the one before
  logs.push_back({4, 0, "05/03/2024 08:00:05"});
  logs.push_back({5, 1, "05/03/2024 08:00:03"});  // older than the one before it
  logs.push_back({6, 1, "05/03/2024 07:10:00"});  // a clock behind the computer
  logs.push_back({7, 1, "05/03/2024 08:00:03"});  // a second punch in the same second
  teste::ForneceMarcacoes(m, logs);
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{3, 4, 5, 6, 7}));
  EXPECT_FALSE(recolhidas[1]->MarcacaoPorDigital());
  EXPECT_TRUE(recolhidas[2]->MarcacaoPorDigital());
  EXPECT_EQ(recolhidas[3]->DataHoraMarcacao(), DataHora::DePartes(2024, 3, 5, 7, 10, 0));
  EXPECT_EQ(recolhidas[0]->CodigoRelogio(), 1);
  EXPECT_NE(recolhidas[0], recolhidas[1]);
  host.Avanca(1000);
  EXPECT_EQ(recolhidas.size(), 5u);  // nothing new, nothing twice
}

TEST_F(Monitoracao, ANewClockBehindTheComputerIsNotIgnored) {
  MockCZKEM& m = Conectado(1);
  std::vector<LogQuorvel> logs;
  teste::ForneceMarcacoes(m, logs);
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  for (int i = 0; i < 10; ++i) logs.push_back({i, 1, "05/03/2024 07:50:0" + std::to_string(i)});
  teste::ForneceMarcacoes(m, logs);
  host.Avanca(200);
  EXPECT_EQ(recolhidas.size(), 10u);
}

TEST_F(Monitoracao, AnErasedLogStartsOverFromItsNewEnd) {
  MockCZKEM& m = Conectado(1);
  std::vector<LogQuorvel> logs = {{1, 1, "05/03/2024 07:00:00"}, {2, 1, "05/03/2024 07:01:00"}};
  teste::ForneceMarcacoes(m, logs);
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  logs = {{3, 1, "05/03/2024 08:00:00"}};  // erased by hand, one punch since
  teste::ForneceMarcacoes(m, logs);
  host.Avanca(200);
  EXPECT_TRUE(recolhidas.empty());
  logs.push_back({4, 1, "05/03/2024 08:00:01"});
  teste::ForneceMarcacoes(m, logs);
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), std::vector<int32_t>{4});

  // Erased through the control: everything the clock records afterwards is new.
  ON_CALL(m, SdkClearLogs).WillByDefault(Return(true));
  EXPECT_TRUE(controle->ApagarMarcacoesRelogio(1));
  teste::ForneceMarcacoes(m, {{5, 1, "05/03/2024 08:00:02"}, {6, 1, "05/03/2024 08:00:02"}});
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{4, 5, 6}));
}

TEST_F(Monitoracao, ATickWithNothingNewCostsOneStatusRead) {
  MockCZKEM& m = Conectado(1);
  auto relogio = std::make_shared<teste::RelogioQueCai>();
  for (int i = 0; i < 500; ++i) relogio->digitais.push_back({i, 1, "05/03/2024 07:00:00"});
  teste::RelogioQueCai::Instala(m, relogio);
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  EXPECT_CALL(m, SdkReadAllLogs).Times(0);
  EXPECT_CALL(m, SdkGetNextLog).Times(0);
  EXPECT_CALL(m, SdkGetDeviceStatus(1, 6, _)).Times(5);
  host.Avanca(1000);
  ::testing::Mock::VerifyAndClearExpectations(&m);
  relogio->digitais.push_back({900, 1, "05/03/2024 08:00:00"});
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), std::vector<int32_t>{900});
}

TEST_F(Monitoracao, APunchRaisedBeforeAFailureIsNotRaisedAgain) {
  MockCZKEM& m = Conectado(1);
  std::vector<LogQuorvel> logs;
  teste::ForneceMarcacoes(m, logs);
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  logs = {
      {1, 1, "05/03/2024 08:10:00"}, {2, 1, "05/03/2024 25:00:00"}, {3, 1, "05/03/2024 08:11:00"}};
  teste::ForneceMarcacoes(m, logs);
  host.Avanca(200);  // raises 1, then fails on the impossible date
  host.Avanca(200);  // goes on after it
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{1, 3}));
  ASSERT_EQ(erros.size(), 1u);
  EXPECT_EQ(erros[0].first, erro_plataforma::kTiposIncompativeis);
}

// ---- Lost links: reported once, reopened, resumed ----------------------------------------

class MonitoracaoComQuedas : public Monitoracao {
 protected:
  MonitoracaoComQuedas() {
    controle->Eventos().RelogioConectado = [this](int16_t c) { voltaram.push_back(c); };
  }
  std::vector<int16_t> voltaram;
};

TEST_F(MonitoracaoComQuedas, AFingerprintClockIsReportedOnceReopenedAndResumed) {
  MockCZKEM& m = Conectado(1);
  auto relogio = std::make_shared<teste::RelogioQueCai>();
  relogio->digitais = {{1, 1, "05/03/2024 07:00:00"}};
  teste::RelogioQueCai::Instala(m, relogio);
  voltaram.clear();  // the connection itself
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  relogio->digitais.push_back({2, 1, "05/03/2024 08:00:00"});
  host.Avanca(200);
  relogio->volta = false;
  relogio->Cai();
  relogio->digitais.push_back({3, 1, "05/03/2024 08:00:00"});
  relogio->digitais.push_back({4, 1, "05/03/2024 08:00:01"});
  EXPECT_CALL(m, SdkConnectNetwork).Times(::testing::Between(3, 4));  // every 3 s, not per tick
  host.Avanca(10000);
  ::testing::Mock::VerifyAndClearExpectations(&m);
  ASSERT_EQ(erros.size(), 1u);
  EXPECT_EQ(erros[0].first, erro::kRelogioDesconectado);
  EXPECT_EQ(erros[0].second, teste::Descricao("O relógio 1 está desconectado. A operação desejada "
                                              "não poderá ser realizada.",
                                              "ComunicacaoZK", "tmr_Monitoracao"));
  EXPECT_EQ(Cartoes(recolhidas), std::vector<int32_t>{2});
  EXPECT_TRUE(voltaram.empty());

  relogio->volta = true;
  host.Avanca(3200);
  EXPECT_EQ(voltaram, std::vector<int16_t>{1});
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{2, 3, 4}));
  EXPECT_EQ(erros.size(), 1u);

  // A second outage is a second report.
  relogio->Cai();
  host.Avanca(3200);
  EXPECT_EQ(erros.size(), 2u);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{2, 3, 4}));
}

TEST_F(MonitoracaoComQuedas, ARegisterClockResumesAfterTheLastNsrHandedOut) {
  for (bool entregaOApontado : {false, true}) {
    // A clock of its own each time: the cursor of a code outlives its removal.
    const int16_t codigo = entregaOApontado ? 3 : 2;
    MockCZKEM& m = Conectado(codigo, EModeloRelogio_Tarvenix);
    auto relogio = std::make_shared<teste::RelogioQueCai>();
    relogio->registros = teste::RegistrosSequenciais(5);
    relogio->entregaOApontado = entregaOApontado;
    relogio->cursor = 5;  // the standing link reads from the end
    teste::RelogioQueCai::Instala(m, relogio);
    recolhidas.clear();
    controle->IniciaMonitoracaoRelogio(codigo);
    host.Avanca(200);
    relogio->registros = teste::RegistrosSequenciais(7);
    host.Avanca(200);
    relogio->Cai();
    relogio->registros = teste::RegistrosSequenciais(10);
    EXPECT_CALL(m, SdkSetLogPointer(codigo, 7));
    host.Avanca(3400);
    ::testing::Mock::VerifyAndClearExpectations(&m);
    std::vector<std::string> nsrs;
    for (const auto& r : recolhidas) nsrs.push_back(r->NSR());
    EXPECT_EQ(nsrs, (std::vector<std::string>{"6", "7", "8", "9", "10"})) << entregaOApontado;
    controle->PararMonitoracaoRelogio(codigo);
  }
}

TEST_F(MonitoracaoComQuedas, ARegisterClockDownBeforeItsFirstPunchResumesFromItsFirstVisit) {
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  auto relogio = std::make_shared<teste::RelogioQueCai>();
  relogio->registros = teste::RegistrosSequenciais(4);
  relogio->cursor = 4;
  teste::RelogioQueCai::Instala(m, relogio);
  controle->IniciaMonitoracaoRelogio(2);
  host.Avanca(200);
  relogio->Cai();
  relogio->registros = teste::RegistrosSequenciais(6);
  EXPECT_CALL(m, SdkSetLogPointer(2, 4));
  host.Avanca(3400);
  ASSERT_EQ(recolhidas.size(), 2u);
  EXPECT_EQ(recolhidas[0]->NSR(), "5");
}

TEST_F(MonitoracaoComQuedas, AClockThatIsDownDoesNotStopTheOthers) {
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2);
  auto caido = std::make_shared<teste::RelogioQueCai>();
  caido->volta = false;
  teste::RelogioQueCai::Instala(a, caido);
  caido->Cai();
  auto vivo = std::make_shared<teste::RelogioQueCai>();
  teste::RelogioQueCai::Instala(b, vivo);
  controle->IniciaMonitoracaoTodosRelogios();
  host.Avanca(200);
  vivo->digitais.push_back({8, 1, "05/03/2024 08:00:00"});
  host.Avanca(400);
  EXPECT_EQ(Cartoes(recolhidas), std::vector<int32_t>{8});
  EXPECT_EQ(erros.size(), 1u);
}

TEST_F(Monitoracao, RegisterClocksHandOutEverythingDelivered) {
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  teste::ForneceMarcacoes(m, {LogTarvenix{"1", "111", 2020, 1, 1, 0, 0, 0},
                              LogTarvenix{"2", "222", 2024, 3, 5, 9, 30, 15}});
  controle->IniciaMonitoracaoRelogio(2);
  host.Avanca(200);
  ASSERT_EQ(recolhidas.size(), 2u);
  EXPECT_EQ(recolhidas[0]->NSR(), "1");
  EXPECT_EQ(recolhidas[1]->PIS(), "222");
  EXPECT_EQ(recolhidas[1]->CodigoCartao(), 0);
  EXPECT_FALSE(recolhidas[1]->MarcacaoPorDigital());
  EXPECT_EQ(recolhidas[1]->DataHoraMarcacao(), DataHora::DePartes(2024, 3, 5, 9, 30, 15));
}

TEST_F(Monitoracao, TwoDigitYearsFollowTheHostsCenturySetting) {
  host.RegionalDefine({OrdemData::DiaMesAno, 49});
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  teste::ForneceMarcacoes(m, {LogTarvenix{"1", "", 35, 3, 5, 7, 4, 9}});
  controle->IniciaMonitoracaoRelogio(2);
  host.Avanca(200);
  ASSERT_EQ(recolhidas.size(), 1u);
  EXPECT_EQ(recolhidas[0]->DataHoraMarcacao(), DataHora::DePartes(2035, 3, 5, 7, 4, 9));
  host.RegionalDefine({OrdemData::DiaMesAno, 29});
  teste::ForneceMarcacoes(m, {LogTarvenix{"2", "", 35, 3, 5, 7, 4, 9}});
  host.Avanca(200);
  ASSERT_EQ(recolhidas.size(), 2u);
  EXPECT_EQ(recolhidas[1]->DataHoraMarcacao(), DataHora::DePartes(1935, 3, 5, 7, 4, 9));
}

TEST_F(Monitoracao, ARefusedLogReadRaisesNothing) {
  MockCZKEM& m = Conectado(1);
  EXPECT_CALL(m, SdkReadAllLogs).WillRepeatedly(Return(false));
  EXPECT_CALL(m, SdkGetNextLog).Times(0);
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(1000);
  EXPECT_TRUE(recolhidas.empty());
  EXPECT_TRUE(erros.empty());
}

TEST_F(Monitoracao, OneErrorPerFailingTickAndLaterClocksWait) {
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2);
  controle->IniciaMonitoracaoTodosRelogios();
  controle->DesconectarRelogio(1);  // still marked, now refused by the guard
  EXPECT_CALL(b, SdkReadAllLogs).Times(0);
  EXPECT_CALL(a, SdkReadAllLogs).Times(0);
  host.Avanca(400);
  ASSERT_EQ(erros.size(), 2u);
  EXPECT_EQ(erros[0].first, erro::kRelogioDesconectado);
  EXPECT_EQ(erros[0].second.rfind("O relógio 1 está desconectado. ", 0), 0u);
}

TEST_F(Monitoracao, WideErrorNumbersAreReportedAsMinusOne) {
  MockCZKEM& m = Conectado(1);
  EXPECT_CALL(m, SdkReadAllLogs).WillRepeatedly(Throw(Erro(-2147467259, "falha do objeto")));
  controle->IniciaMonitoracaoRelogio(1);
  EXPECT_NO_THROW(host.Avanca(200));
  ASSERT_EQ(erros.size(), 1u);
  EXPECT_EQ(erros[0].first, erro::kDesconhecido);
  EXPECT_EQ(erros[0].second, "-2147467259 - falha do objeto");

  controle->Eventos().ErroMonitoracao = [](int16_t, const std::string&) { throw 1; };
  EXPECT_NO_THROW(host.Avanca(200));
}

TEST_F(Monitoracao, TimerRules) {
  Conectado(1);
  Conectado(2);
  MockCZKEM& tres = Registra(3);
  EXPECT_EQ(Captura([&] { controle->IniciaMonitoracaoRelogio(3); }).Numero(),
            erro::kRelogioDesconectado);
  EXPECT_FALSE(controle->Relogios().Item(3)->Relogio()->Monitorado());
  EXPECT_FALSE(controle->TimerMonitoracao().Habilitado());
  (void)tres;

  controle->IniciaMonitoracaoRelogio(1);
  controle->IniciaMonitoracaoRelogio(2);
  controle->PararMonitoracaoRelogio(1);
  EXPECT_TRUE(controle->TimerMonitoracao().Habilitado());
  controle->PararMonitoracaoRelogio(2);
  EXPECT_FALSE(controle->TimerMonitoracao().Habilitado());

  // The all-clocks start stops at the disconnected third clock; earlier ones stay started.
  EXPECT_EQ(Captura([&] { controle->IniciaMonitoracaoTodosRelogios(); }).Numero(),
            erro::kRelogioDesconectado);
  EXPECT_TRUE(controle->Relogios().Item(2)->Relogio()->Monitorado());
  controle->PararMonitoracaoTodosRelogios();
  EXPECT_FALSE(controle->TimerMonitoracao().Habilitado());
}

TEST_F(Monitoracao, StartingARunningTimerKeepsItsInterval) {
  Conectado(1);
  Conectado(2);
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(150);
  controle->IniciaMonitoracaoRelogio(2);  // must not restart the countdown
  int ticks = 0;
  ON_CALL(*sdks[0], SdkReadAllLogs).WillByDefault([&](int32_t) {
    ++ticks;
    return false;
  });
  host.Avanca(50);
  EXPECT_EQ(ticks, 1);
}

TEST_F(Monitoracao, EmptyRegistryStopLeavesTheTimerAlone) {
  Conectado(1);
  controle->IniciaMonitoracaoRelogio(1);
  controle->RemoverTodosRelogios();
  controle->PararMonitoracaoTodosRelogios();
  EXPECT_TRUE(controle->TimerMonitoracao().Habilitado());
}

TEST_F(Monitoracao, RestartResumesFromTheLastReportedPunch) {
  MockCZKEM& m = Conectado(1);
  teste::ForneceMarcacoes(m, std::vector<LogQuorvel>{});
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  controle->PararMonitoracaoRelogio(1);
  host.Avanca(60000);
  teste::ForneceMarcacoes(m, {{7, 1, "05/03/2024 08:00:30"}});
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  EXPECT_EQ(recolhidas.size(), 1u);  // recorded while stopped, before the restart
}

}  // namespace
}  // namespace quorvel
