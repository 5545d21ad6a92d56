// The two event loops: virtual time for tests and the real one.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "quorvel/event_loop.h"
#include "quorvel/virtual_host.h"

namespace quorvel {
namespace {

TEST(VirtualHost, TimersFireInDeadlineOrderAndRepeat) {
  VirtualHost host;
  std::vector<std::string> ticks;
  auto a = host.CriaTimer([&] { ticks.push_back("a@" + std::to_string(host.AgoraMs())); });
  auto b = host.CriaTimer([&] { ticks.push_back("b@" + std::to_string(host.AgoraMs())); });
  a->Intervalo(200);
  b->Intervalo(100);
  a->Habilitado(true);
  b->Habilitado(true);
  host.Avanca(400);
  EXPECT_EQ(ticks,
            (std::vector<std::string>{"b@100", "a@200", "b@200", "b@300", "a@400", "b@400"}));
}

TEST(VirtualHost, DisabledOrDestroyedTimersStayQuiet) {
  VirtualHost host;
  int n = 0;
  auto t = host.CriaTimer([&] {
    ++n;
    // A one-shot timer disables itself in its tick.
  });
  t->Intervalo(100);
  t->Habilitado(true);
  t->Habilitado(false);
  host.Avanca(1000);
  EXPECT_EQ(n, 0);
  t->Habilitado(true);
  t.reset();
  host.Avanca(1000);
  EXPECT_EQ(n, 0);
}

TEST(VirtualHost, OneShotTimerAndIntervalChanges) {
  VirtualHost host;
  std::vector<int64_t> quando;
  std::unique_ptr<Timer> t;
  t = host.CriaTimer([&] {
    t->Habilitado(false);
    quando.push_back(host.AgoraMs());
  });
  t->Intervalo(100);
  t->Habilitado(true);
  host.Avanca(50);
  t->Intervalo(300);  // restarts the countdown from now
  host.Avanca(1000);
  EXPECT_EQ(quando, (std::vector<int64_t>{350}));
}

TEST(VirtualHost, WaitsAdvanceTimeWithoutFiringTimersYieldsDeliverThem) {
  VirtualHost host;
  int ticks = 0;
  auto t = host.CriaTimer([&] { ++ticks; });
  t->Intervalo(100);
  t->Habilitado(true);
  host.Espera(1000);
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(host.AgoraMs(), 1000);
  EXPECT_EQ(host.Agora(), DataHora::DePartes(2024, 3, 5, 8, 0, 1));
  host.Cede();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(host.Diario(), (std::vector<std::string>{"espera 1000", "cede"}));
}

TEST(VirtualHost, ActionsRunAtTheNextYieldInOrder) {
  VirtualHost host;
  std::vector<int> feitos;
  host.AoCeder([&] {
    feitos.push_back(1);
    host.AoCeder([&] { feitos.push_back(3); });  // waits for the following yield
  });
  host.AoCeder([&] { feitos.push_back(2); });
  host.Cede();
  EXPECT_EQ(feitos, (std::vector<int>{1, 2}));
  host.Cede();
  EXPECT_EQ(feitos, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(host.Cedencias(), 2);
}

TEST(EventLoop, YieldRunsOnlyWhatIsDueAndNeverBlocks) {
  EventLoop loop;
  int postados = 0, ticks = 0;
  loop.Posta([&] {
    ++postados;
    loop.Posta([&] { ++postados; });
  });
  auto t = loop.CriaTimer([&] { ++ticks; });
  t->Intervalo(10000);
  t->Habilitado(true);
  const auto inicio = std::chrono::steady_clock::now();
  loop.Cede();
  EXPECT_EQ(postados, 1);
  EXPECT_EQ(ticks, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(5));
  loop.Cede();
  EXPECT_EQ(postados, 2);
}

TEST(EventLoop, RunsTimersUntilTheConditionHolds) {
  EventLoop loop;
  int ticks = 0;
  auto t = loop.CriaTimer([&] { ++ticks; });
  t->Intervalo(5);
  t->Habilitado(true);
  EXPECT_TRUE(loop.RodaAte([&] { return ticks >= 3; }, std::chrono::seconds(10)));
  t->Habilitado(false);
  loop.Interrompe();
  EXPECT_FALSE(loop.RodaAte([] { return false; }, std::chrono::seconds(10)));
  EXPECT_TRUE(loop.Interrompido());
}

}  // namespace
}  // namespace quorvel
