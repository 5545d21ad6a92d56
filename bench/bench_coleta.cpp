// Collecting a million punches: the component against a bare loop over the same SDK calls.
#include <benchmark/benchmark.h>

#include "czkem_memoria.h"
#include "quorvel/comunicacao_zk.h"
#include "quorvel/event_loop.h"

namespace {

using namespace quorvel;
constexpr int64_t kMarcacoes = 1'000'000;

// A control on the real event loop with one connected clock served by `sdk`.
struct Cenario {
  EventLoop loop;
  std::shared_ptr<bench::CZKEMMemoria> sdk = std::make_shared<bench::CZKEMMemoria>(kMarcacoes);
  ComunicacaoZK controle{loop, [this] { return sdk; }};
  explicit Cenario(EModeloRelogio modelo) {
    controle.AddRelogioIP(1, "127.0.0.1", modelo);
    controle.ConectarRelogio(1);
    loop.RodaAte([&] { return controle.Relogios().Item(1)->Conectado(); }, std::chrono::seconds(5));
  }
};

void Componente(benchmark::State& state, EModeloRelogio modelo) {
  Cenario c(modelo);
  int64_t total = 0;
  double bytesPorMarcacao = 0;
  for (auto _ : state) {
    auto lista = c.controle.ObterMarcacaoRelogio(1);
    total += lista->Count();
    bytesPorMarcacao = static_cast<double>(lista->BytesOcupados()) / lista->Count();
    benchmark::DoNotOptimize(lista);
  }
  state.counters["marcacoes/s"] =
      benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
  // Heap bytes the returned list holds per punch, before the host asks for any object.
  state.counters["bytes/marcacao"] = bytesPorMarcacao;
}

void LacoPuroQuorvel(benchmark::State& state) {
  bench::CZKEMMemoria sdk(kMarcacoes);
  int64_t total = 0;
  for (auto _ : state) {
    int32_t cartao, valor, modo;
    std::string texto;
    sdk.SdkReadAllLogs(1);
    while (sdk.SdkGetNextLog(1, cartao, valor, modo, texto)) {
      benchmark::DoNotOptimize(texto);
      ++total;
    }
  }
  state.counters["marcacoes/s"] =
      benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}

void LacoPuroTarvenix(benchmark::State& state) {
  bench::CZKEMMemoria sdk(kMarcacoes);
  int64_t total = 0;
  for (auto _ : state) {
    std::string nsr, pis;
    int32_t a, m, d, h, mi, s;
    sdk.SdkSetLogPointer(1, 0);
    while (sdk.SdkGetNextNsrLog(1, nsr, pis, a, m, d, h, mi, s)) {
      benchmark::DoNotOptimize(nsr);
      ++total;
    }
  }
  state.counters["marcacoes/s"] =
      benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}

// What a yield costs on the real event loop with the control's two timers armed.
void CedenciaEventLoop(benchmark::State& state) {
  Cenario c(EModeloRelogio_Quorvel);
  for (auto _ : state) c.loop.Cede();
}

BENCHMARK_CAPTURE(Componente, quorvel, EModeloRelogio_Quorvel)->Unit(benchmark::kMillisecond);
BENCHMARK(LacoPuroQuorvel)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Componente, tarvenix, EModeloRelogio_Tarvenix)->Unit(benchmark::kMillisecond);
BENCHMARK(LacoPuroTarvenix)->Unit(benchmark::kMillisecond);
BENCHMARK(CedenciaEventLoop);

}  // namespace

BENCHMARK_MAIN();
