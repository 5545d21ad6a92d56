// Collecting a million punches: the component against a bare loop over the same SDK calls.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <memory>

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

// The fair floor of a collection: the bare loop that also writes each record (32 bytes, as the
// punch list keeps them) into memory fresh for every collection, as a new list's is. What the
// component costs beyond this is its own; below it is the memory's first touch.
void LacoEmMemoriaNova(benchmark::State& state, EModeloRelogio modelo) {
  bench::CZKEMMemoria sdk(kMarcacoes);
  struct Registro {
    int64_t segundos;
    uint64_t pis;
    uint32_t nsr;
    int32_t cartao;
    int16_t relogio;
    uint8_t flags, tamanhos;
    uint32_t resto;
  };
  static_assert(sizeof(Registro) == 32);
  int64_t total = 0;
  for (auto _ : state) {
    // Straight from the kernel, as the malloc of a new list's first blocks would be: the
    // allocator would otherwise hand back the previous iteration's pages, already touched.
    const size_t bytes = sizeof(Registro) * static_cast<size_t>(kMarcacoes);
    void* pagina =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pagina == MAP_FAILED) {
      state.SkipWithError("mmap");
      return;
    }
    auto* memoria = static_cast<Registro*>(pagina);
    size_t i = 0;
    if (modelo == EModeloRelogio_Quorvel) {
      int32_t cartao, valor, modo;
      std::string texto;
      sdk.SdkReadAllLogs(1);
      while (sdk.SdkGetNextLog(1, cartao, valor, modo, texto) &&
             i < static_cast<size_t>(kMarcacoes))
        memoria[i++] = Registro{static_cast<int64_t>(texto.size()), 0, 0, cartao, 1,
                                static_cast<uint8_t>(modo),         0, 0};
    } else {
      std::string nsr, pis;
      int32_t a, m, d, h, mi, s;
      sdk.SdkSetLogPointer(1, 0);
      while (sdk.SdkGetNextNsrLog(1, nsr, pis, a, m, d, h, mi, s) &&
             i < static_cast<size_t>(kMarcacoes))
        memoria[i++] = Registro{a * 400LL + m * 31 + d,
                                pis.size(),
                                static_cast<uint32_t>(nsr.size()),
                                h * 3600 + mi * 60 + s,
                                1,
                                0,
                                0,
                                0};
    }
    benchmark::DoNotOptimize(memoria);
    ::munmap(pagina, bytes);
    total += static_cast<int64_t>(i);
  }
  state.counters["marcacoes/s"] =
      benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(Componente, quorvel, EModeloRelogio_Quorvel)->Unit(benchmark::kMillisecond);
BENCHMARK(LacoPuroQuorvel)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LacoEmMemoriaNova, quorvel, EModeloRelogio_Quorvel)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Componente, tarvenix, EModeloRelogio_Tarvenix)->Unit(benchmark::kMillisecond);
BENCHMARK(LacoPuroTarvenix)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LacoEmMemoriaNova, tarvenix, EModeloRelogio_Tarvenix)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CedenciaEventLoop);

}  // namespace

BENCHMARK_MAIN();
