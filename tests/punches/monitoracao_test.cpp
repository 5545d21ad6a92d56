// Real-time monitoring through the 200 ms timer.
#include "support/controle_fixture.h"
#include "support/marcacoes_falsas.h"

namespace quorvel {
namespace {

using teste::Captura;
using teste::ControleTeste;
using teste::LogQuorvel;
using teste::LogTarvenix;
using teste::MockCZKEM;
using ::testing::Return;
using ::testing::Throw;

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

TEST_F(Monitoracao, FirstVisitSkipsOldPunchesAndTheSameSecond) {
  MockCZKEM& m = Conectado(1);
  std::vector<LogQuorvel> logs = {{1, 1, "05/03/2024 07:59:59"}};
  teste::FornecePunches(m, logs);
  controle->IniciaMonitoracaoRelogio(1);
  EXPECT_TRUE(controle->TimerMonitoracao().Habilitado());
  EXPECT_EQ(controle->TimerMonitoracao().Intervalo(), 200);
  host.Avanca(200);  // first visit at 08:00:00
  EXPECT_TRUE(recolhidas.empty());

  logs.push_back({2, 1, "05/03/2024 08:00:00"});  // same second as the last-seen value
  logs.push_back({3, 0, "05/03/2024 08:00:05"});
  logs.push_back({4, 1, "05/03/2024 08:00:03"});  // older than the one before it
  logs.push_back({5, 1, "05/03/2024 08:00:07"});
  teste::FornecePunches(m, logs);
  host.Avanca(200);
  ASSERT_EQ(recolhidas.size(), 2u);
  EXPECT_EQ(recolhidas[0]->CodigoCartao(), 3);
  EXPECT_FALSE(recolhidas[0]->MarcacaoPorDigital());
  EXPECT_EQ(recolhidas[0]->CodigoRelogio(), 1);
  EXPECT_EQ(recolhidas[1]->CodigoCartao(), 5);
  EXPECT_TRUE(recolhidas[1]->MarcacaoPorDigital());
  EXPECT_NE(recolhidas[0], recolhidas[1]);
  host.Avanca(200);
  EXPECT_EQ(recolhidas.size(), 2u);  // nothing new
}

TEST_F(Monitoracao, RegisterClocksHandOutEverythingDelivered) {
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  teste::FornecePunches(m, {LogTarvenix{"1", "111", 2020, 1, 1, 0, 0, 0},
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
  EXPECT_EQ(erros[0].first, -43);
  EXPECT_EQ(erros[0].second.rfind("O relógio 1 está desconectado. ", 0), 0u);
}

TEST_F(Monitoracao, AFailureAfterSomePunchesLeavesTheLastSeenValue) {
  MockCZKEM& m = Conectado(1);
  teste::FornecePunches(m, std::vector<LogQuorvel>{});
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);  // last seen: 08:00:00
  int chamadas = 0;
  ON_CALL(m, SdkGetNextLog)
      .WillByDefault([&](int32_t, int32_t& c, int32_t&, int32_t& modo, std::string& t) {
        ++chamadas;
        if (chamadas % 2 == 1) {
          c = 9;
          modo = 1;
          t = "05/03/2024 08:10:00";
          return true;
        }
        t = "05/03/2024 25:00:00";  // fails the tick
        return true;
      });
  host.Avanca(200);
  host.Avanca(200);
  EXPECT_EQ(recolhidas.size(), 2u);  // raised again: the entry kept its earlier value
  ASSERT_EQ(erros.size(), 2u);
  EXPECT_EQ(erros[0].first, 13);
}

TEST_F(Monitoracao, WideErrorNumbersAreReportedAsMinusOne) {
  MockCZKEM& m = Conectado(1);
  EXPECT_CALL(m, SdkReadAllLogs).WillRepeatedly(Throw(Erro(-2147467259, "falha do objeto")));
  controle->IniciaMonitoracaoRelogio(1);
  EXPECT_NO_THROW(host.Avanca(200));
  ASSERT_EQ(erros.size(), 1u);
  EXPECT_EQ(erros[0].first, -1);
  EXPECT_EQ(erros[0].second, "-2147467259 - falha do objeto");

  controle->Eventos().ErroMonitoracao = [](int16_t, const std::string&) { throw 1; };
  EXPECT_NO_THROW(host.Avanca(200));
}

TEST_F(Monitoracao, TimerRules) {
  Conectado(1);
  Conectado(2);
  MockCZKEM& tres = Registra(3);
  EXPECT_EQ(Captura([&] { controle->IniciaMonitoracaoRelogio(3); }).Numero(), -43);
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
  EXPECT_EQ(Captura([&] { controle->IniciaMonitoracaoTodosRelogios(); }).Numero(), -43);
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
  teste::FornecePunches(m, std::vector<LogQuorvel>{});
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  controle->PararMonitoracaoRelogio(1);
  host.Avanca(60000);
  teste::FornecePunches(m, {{7, 1, "05/03/2024 08:00:30"}});
  controle->IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  EXPECT_EQ(recolhidas.size(), 1u);  // later than the last-seen value, though before the restart
}

}  // namespace
}  // namespace quorvel
