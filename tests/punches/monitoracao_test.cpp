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
  // Clock 1, of the fingerprint model, behind a scripted device holding `digitais`, monitored
  // and visited once (what it holds then is not news).
  std::shared_ptr<teste::RelogioQueCai> DigitalVisitado(std::vector<LogQuorvel> digitais) {
    return DigitalVisitado(Conectado(1), std::move(digitais));
  }
  // The same behind the mock `m` of clock 1.
  std::shared_ptr<teste::RelogioQueCai> DigitalVisitado(MockCZKEM& m,
                                                        std::vector<LogQuorvel> digitais) {
    auto relogio = std::make_shared<teste::RelogioQueCai>();
    relogio->digitais = std::move(digitais);
    teste::RelogioQueCai::Instala(m, relogio);
    controle->IniciaMonitoracaoRelogio(1);
    host.Avanca(200);
    return relogio;
  }
  // Clock 1, of the fingerprint model, monitored and visited once with an empty log: what it
  // is given next (ForneceMarcacoes) is news.
  MockCZKEM& VisitadoVazio() {
    MockCZKEM& m = Conectado(1);
    teste::ForneceMarcacoes(m, std::vector<LogQuorvel>{});
    controle->IniciaMonitoracaoRelogio(1);
    host.Avanca(200);
    return m;
  }
  // `n` fingerprint punches of users `primeiro`.. at one instant.
  static std::vector<LogQuorvel> MesmoInstante(int n, int primeiro, const std::string& quando) {
    std::vector<LogQuorvel> r;
    for (int i = 0; i < n; ++i) r.push_back({primeiro + i, 1, quando});
    return r;
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
  MockCZKEM& m = VisitadoVazio();
  std::vector<LogQuorvel> logs;
  for (int i = 0; i < 10; ++i) logs.push_back({i, 1, "05/03/2024 07:50:0" + std::to_string(i)});
  teste::ForneceMarcacoes(m, logs);
  host.Avanca(200);
  EXPECT_EQ(recolhidas.size(), 10u);
}

// ---- A log erased, wiped, cut or replaced is told from the log the cursor counts ----------

TEST_F(Monitoracao, AnErasedLogIsANewLogWhateverItsLength) {
  MockCZKEM& m = Conectado(1);
  auto relogio = DigitalVisitado(m, {{1, 1, "05/03/2024 07:00:00"}, {2, 1, "05/03/2024 07:01:00"}});
  // Erased by hand between two ticks and grown back past its old length: the status count
  // moved, and the entry where the last one passed stood is another.
  relogio->digitais = {
      {3, 1, "05/03/2024 08:00:00"}, {4, 1, "05/03/2024 08:00:01"}, {5, 0, "05/03/2024 08:00:02"}};
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{3, 4, 5}));
  relogio->digitais.push_back({6, 1, "05/03/2024 08:00:03"});
  host.Avanca(400);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{3, 4, 5, 6}));

  // Erased by hand and one punch since: a shorter log is a new one too.
  relogio->digitais = {{7, 1, "05/03/2024 08:01:00"}};
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{3, 4, 5, 6, 7}));

  // Erased through the control: everything the clock records afterwards is new, whatever
  // its date.
  ON_CALL(m, SdkClearLogs).WillByDefault([relogio](int32_t) {
    relogio->digitais.clear();
    return true;
  });
  EXPECT_TRUE(controle->ApagarMarcacoesRelogio(1));
  relogio->digitais = {{8, 1, "01/01/2020 00:00:00"}, {9, 1, "05/03/2024 08:00:02"}};
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{3, 4, 5, 6, 7, 8, 9}));
  host.Avanca(1000);
  EXPECT_EQ(recolhidas.size(), 7u);  // nothing twice
}

// Found at process level: the punch right after an erase was the same card in the same second
// as the last one passed, and was taken for it.
TEST_F(Monitoracao, AfterAnEraseAPunchLikeTheLastOnePassedIsANewPunch) {
  auto relogio = DigitalVisitado({{4, 1, "05/03/2024 08:00:35"}, {5, 1, "05/03/2024 08:00:36"}});
  relogio->digitais = {{5, 1, "05/03/2024 08:00:36"}};  // erased, then card 5 again
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), std::vector<int32_t>{5});
  relogio->digitais.push_back({2, 1, "05/03/2024 08:00:37"});
  host.Avanca(400);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{5, 2}));
}

// A host's handler may remove the clock while its punches are being raised: the visit ends
// safely, and a clock registered later under the code starts afresh.
TEST_F(Monitoracao, AClockRemovedByAHandlerInTheMiddleOfAVisit) {
  MockCZKEM& m = Conectado(1);
  auto relogio = std::make_shared<teste::RelogioQueCai>();
  teste::RelogioQueCai::Instala(m, relogio);
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  relogio->digitais = {{1, 1, "05/03/2024 08:00:00"}, {2, 1, "05/03/2024 08:00:01"}};
  controle->Eventos().MarcacaoRecolhida = [&](const std::shared_ptr<Marcacao>& p) {
    recolhidas.push_back(p);
    if (controle->Relogios().Count() > 0) controle->RemoverRelogio(1);
  };
  EXPECT_NO_THROW(host.Avanca(200));
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(controle->Relogios().Count(), 0);
}

TEST_F(Monitoracao, ALogErasedWhileMonitoringWasStoppedIsRaisedWhenItStartsAgain) {
  auto relogio = DigitalVisitado({{1, 1, "05/03/2024 07:00:00"}});
  relogio->digitais.push_back({2, 1, "05/03/2024 18:00:00"});
  host.Avanca(200);
  controle->PararMonitoracaoRelogio(1);  // in the evening
  // Overnight the log is erased by hand; by morning it holds more punches than before.
  relogio->digitais = {
      {3, 1, "06/03/2024 07:00:00"}, {4, 1, "06/03/2024 07:01:00"}, {5, 1, "06/03/2024 07:02:00"}};
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{2, 3, 4, 5}));

  // Stopped and started again with the log untouched: nothing twice, the next one raised.
  controle->PararMonitoracaoRelogio(1);
  relogio->digitais.push_back({6, 1, "06/03/2024 07:03:00"});
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(600);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{2, 3, 4, 5, 6}));
}

TEST_F(Monitoracao, ALogThatDroppedItsOldestEntriesResumesAfterTheLastOnePassed) {
  MockCZKEM& m = Conectado(1);
  auto relogio = std::make_shared<teste::RelogioQueCai>();
  for (int i = 1; i <= 5; ++i)
    relogio->digitais.push_back({i, 1, "05/03/2024 07:0" + std::to_string(i) + ":00"});
  teste::RelogioQueCai::Instala(m, relogio);
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  // A full log makes room: the two oldest go, three new ones come.
  relogio->digitais.erase(relogio->digitais.begin(), relogio->digitais.begin() + 2);
  for (int i = 6; i <= 8; ++i)
    relogio->digitais.push_back({i, 1, "05/03/2024 07:0" + std::to_string(i) + ":00"});
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{6, 7, 8}));
}

TEST_F(Monitoracao, AReplacingClocksHistoryIsNotRaisedItsNewPunchesAre) {
  auto relogio = DigitalVisitado({{1, 1, "05/03/2024 07:00:00"}});
  relogio->digitais.push_back({2, 1, "05/03/2024 08:00:00"});
  host.Avanca(200);
  // Another clock at the address, with a history of its own and a punch in the same second
  // as the last one raised.
  relogio->digitais = {{50, 1, "01/03/2024 10:00:00"},
                       {51, 1, "05/03/2024 07:59:59"},
                       {52, 1, "05/03/2024 08:00:00"},
                       {53, 1, "05/03/2024 08:05:00"}};
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{2, 52, 53}));
}

TEST_F(Monitoracao, AClockRemovedAndRegisteredAgainStartsWithFirstVisitRules) {
  MockCZKEM& antigo = Conectado(1);
  auto a = DigitalVisitado(antigo, {{1, 1, "05/03/2024 07:00:00"}, {2, 1, "05/03/2024 07:01:00"}});
  controle->RemoverRelogio(1);
  MockCZKEM& novo = Conectado(1);
  auto b = DigitalVisitado(novo, MesmoInstante(5, 10, "05/03/2024 09:00:00"));
  EXPECT_TRUE(recolhidas.empty());  // what the new clock holds at its first visit is not news
  b->digitais.push_back({20, 1, "05/03/2024 09:01:00"});
  host.Avanca(200);
  EXPECT_EQ(Cartoes(recolhidas), std::vector<int32_t>{20});
}

TEST_F(Monitoracao, ATickWithNothingNewCostsOneStatusRead) {
  MockCZKEM& m = Conectado(1);
  auto relogio = DigitalVisitado(m, MesmoInstante(500, 0, "05/03/2024 07:00:00"));
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
  MockCZKEM& m = VisitadoVazio();
  std::vector<LogQuorvel> logs;
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

// Register records NSR `de`..`ate`, one a minute from 05/03/2024 `hora`:00.
std::vector<LogTarvenix> Registros(int de, int ate, int hora) {
  std::vector<LogTarvenix> r;
  for (int i = de; i <= ate; ++i)
    r.push_back({std::to_string(i), "12034567899", 2024, 3, 5, hora + i / 60, i % 60, 0});
  return r;
}

class MonitoracaoComQuedas : public Monitoracao {
 protected:
  MonitoracaoComQuedas() {
    controle->Eventos().RelogioConectado = [this](int16_t c) { voltaram.push_back(c); };
  }
  std::vector<int16_t> voltaram;
  // Clock 2, of the register model, behind a scripted device whose log holds NSRs 1..5; its
  // standing link reads from the end.
  std::shared_ptr<teste::RelogioQueCai> RegistroDeCinco(MockCZKEM& m) {
    auto relogio = std::make_shared<teste::RelogioQueCai>();
    relogio->registros = Registros(1, 5, 7);
    relogio->cursor = 5;
    teste::RelogioQueCai::Instala(m, relogio);
    return relogio;
  }
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
  EXPECT_TRUE(controle->MonitoracaoSemConexao(1));  // which clock the report was about

  relogio->volta = true;
  host.Avanca(3200);
  EXPECT_EQ(voltaram, std::vector<int16_t>{1});
  EXPECT_FALSE(controle->MonitoracaoSemConexao(1));
  EXPECT_FALSE(controle->MonitoracaoSemConexao(99));
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{2, 3, 4}));
  EXPECT_EQ(erros.size(), 1u);

  // A second outage is a second report.
  relogio->Cai();
  host.Avanca(3200);
  EXPECT_EQ(erros.size(), 2u);
  EXPECT_EQ(Cartoes(recolhidas), (std::vector<int32_t>{2, 3, 4}));
}

std::vector<std::string> Nsrs(const std::vector<std::shared_ptr<Marcacao>>& v) {
  std::vector<std::string> r;
  for (const auto& m : v) r.push_back(m->NSR());
  return r;
}

// The resume puts the pointer on the record before the last one handed out, in the form the
// firmware reads (an NSR from 2.1.12 on, a record count before), meets that record again and
// hands out what follows it; for clocks whose pointer delivers the record it names too.
TEST_F(MonitoracaoComQuedas, ARegisterClockResumesAfterTheLastRecordInTheFirmwaresPointerForm) {
  int16_t codigo = 2;
  for (const char* firmware : {"2.1.12", "2.1.1"}) {
    for (bool entregaOApontado : {false, true}) {
      MockCZKEM& m = Conectado(codigo, EModeloRelogio_Tarvenix);
      auto relogio = std::make_shared<teste::RelogioQueCai>();
      // NSRs start at 101 on this clock: an NSR is not a record count.
      relogio->registros = Registros(101, 105, 7);
      relogio->entregaOApontado = entregaOApontado;
      relogio->cursor = 5;  // the standing link reads from the end
      teste::RelogioQueCai::Instala(m, relogio);
      ON_CALL(m, SdkGetSysOption(_, "mrpversion", _))
          .WillByDefault([firmware](int32_t, const std::string&, std::string& v) {
            v = firmware;
            return true;
          });
      // The mock's pointer is an NSR; a count is turned into one for the index firmware.
      const bool porNsr = std::string(firmware) == "2.1.12";
      if (!porNsr)
        ON_CALL(m, SdkSetLogPointer).WillByDefault([relogio](int32_t, int32_t p) {
          relogio->cursor = std::min<size_t>(p, relogio->registros.size());
          if (relogio->entregaOApontado && relogio->cursor > 0) --relogio->cursor;
          return true;
        });
      recolhidas.clear();
      controle->IniciaMonitoracaoRelogio(codigo);
      host.Avanca(200);
      relogio->registros = Registros(101, 107, 7);
      host.Avanca(200);
      relogio->Cai();
      relogio->registros = Registros(101, 110, 7);
      // Last handed out: NSR 107, the 7th record.
      EXPECT_CALL(m, SdkSetLogPointer(codigo, porNsr ? 106 : 6));
      host.Avanca(3400);
      ::testing::Mock::VerifyAndClearExpectations(&m);
      EXPECT_EQ(Nsrs(recolhidas), (std::vector<std::string>{"106", "107", "108", "109", "110"}))
          << firmware << " " << entregaOApontado;
      controle->PararMonitoracaoRelogio(codigo);
      ++codigo;
    }
  }
}

TEST_F(MonitoracaoComQuedas, AWipedOrReplacedRegisterClockHasEveryNewPunchRaisedOnce) {
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  auto relogio = RegistroDeCinco(m);
  ON_CALL(m, SdkGetSysOption(_, "mrpversion", _))
      .WillByDefault([](int32_t, const std::string&, std::string& v) {
        v = "2.1.12";
        return true;
      });
  controle->IniciaMonitoracaoRelogio(2);
  host.Avanca(200);
  relogio->registros = Registros(1, 8, 7);
  host.Avanca(200);
  EXPECT_EQ(Nsrs(recolhidas), (std::vector<std::string>{"6", "7", "8"}));

  // Replaced while the link is down: a new clock whose NSRs start again at 1, with a record
  // of its own history (dated before the last one raised) and three new punches.
  relogio->Cai();
  relogio->registros = {LogTarvenix{"1", "999", 2024, 3, 1, 10, 0, 0}};
  for (const auto& r : Registros(2, 4, 9)) relogio->registros.push_back(r);
  host.Avanca(3400);
  EXPECT_EQ(Nsrs(recolhidas), (std::vector<std::string>{"6", "7", "8", "2", "3", "4"}));
  relogio->registros.push_back(Registros(5, 5, 9)[0]);
  host.Avanca(400);
  EXPECT_EQ(Nsrs(recolhidas), (std::vector<std::string>{"6", "7", "8", "2", "3", "4", "5"}));

  // Wiped while the link stands, the link reading the new log from its start.
  relogio->registros = Registros(1, 2, 10);
  relogio->cursor = 0;
  host.Avanca(200);
  EXPECT_EQ(Nsrs(recolhidas),
            (std::vector<std::string>{"6", "7", "8", "2", "3", "4", "5", "1", "2"}));
  host.Avanca(1000);
  EXPECT_EQ(recolhidas.size(), 9u);
  EXPECT_EQ(erros.size(), 1u);  // one outage
}

TEST_F(MonitoracaoComQuedas, ARegisterClockReplacedWhileMonitoringWasStoppedIsRaisedOnStart) {
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  auto relogio = RegistroDeCinco(m);
  controle->IniciaMonitoracaoRelogio(2);
  host.Avanca(200);
  relogio->registros = Registros(1, 6, 7);
  host.Avanca(200);
  controle->PararMonitoracaoRelogio(2);
  relogio->registros = Registros(1, 3, 9);  // another log, the link's position past its end
  controle->IniciaMonitoracaoRelogio(2);
  host.Avanca(200);
  EXPECT_EQ(Nsrs(recolhidas), (std::vector<std::string>{"6", "1", "2", "3"}));
  host.Avanca(600);
  EXPECT_EQ(recolhidas.size(), 4u);
}

TEST_F(MonitoracaoComQuedas, AReopenThatFailsAsACallIsReportedOncePerOutage) {
  MockCZKEM& m = Conectado(1);
  auto relogio = std::make_shared<teste::RelogioQueCai>();
  teste::RelogioQueCai::Instala(m, relogio);
  voltaram.clear();  // the connection itself
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  relogio->Cai();
  EXPECT_CALL(m, SdkConnectNetwork)
      .Times(::testing::Between(3, 4))
      .WillRepeatedly(Throw(Erro(-2147467259, "falha do objeto")));
  EXPECT_NO_THROW(host.Avanca(10000));
  ::testing::Mock::VerifyAndClearExpectations(&m);
  EXPECT_EQ(erros.size(), 1u);
  EXPECT_TRUE(voltaram.empty());
}

// Two clocks down and due for a reopen at once: a tick tries one of them, so no tick waits on
// two connects, and both are still tried.
TEST_F(MonitoracaoComQuedas, TwoClocksDueForAReopenAreTriedInDifferentTicks) {
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2);
  auto ra = std::make_shared<teste::RelogioQueCai>(), rb = std::make_shared<teste::RelogioQueCai>();
  teste::RelogioQueCai::Instala(a, ra);
  teste::RelogioQueCai::Instala(b, rb);
  controle->IniciaMonitoracaoTodosRelogios();
  host.Avanca(200);
  ra->volta = rb->volta = false;
  ra->Cai();
  rb->Cai();
  int noTick = 0, deA = 0, deB = 0;
  EXPECT_CALL(a, SdkConnectNetwork).WillRepeatedly([&](const std::string&, int32_t) {
    ++noTick;
    ++deA;
    return false;
  });
  EXPECT_CALL(b, SdkConnectNetwork).WillRepeatedly([&](const std::string&, int32_t) {
    ++noTick;
    ++deB;
    return false;
  });
  for (int tick = 0; tick < 50; ++tick) {
    noTick = 0;
    host.Avanca(200);
    EXPECT_LE(noTick, 1) << "tick " << tick;
  }
  EXPECT_GE(deA, 2);
  EXPECT_GE(deB, 2);
}

TEST_F(MonitoracaoComQuedas, ARegisterClockDownBeforeItsFirstPunchResumesFromItsFirstVisit) {
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  auto relogio = teste::RelogioQueCai::DeRegistros(m, 4, 0);
  relogio->cursor = 4;
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
