// Sending ten thousand employees with two templates each and reading them back.
#include <benchmark/benchmark.h>

#include "czkem_memoria.h"
#include "funcionarios.h"
#include "quorvel/comunicacao_zk.h"
#include "quorvel/event_loop.h"

namespace {

using namespace quorvel;
constexpr int32_t kFuncionarios = 10'000;

struct Cenario {
  EventLoop loop;
  std::shared_ptr<bench::CZKEMMemoria> sdk;
  ComunicacaoZK controle{loop, [this] { return sdk = std::make_shared<bench::CZKEMMemoria>(); }};
  explicit Cenario(EModeloRelogio modelo) {
    controle.AddRelogioIP(1, "127.0.0.1", modelo);
    controle.ConectarRelogio(1);
    loop.RodaAte([&] { return controle.Relogios().Item(1)->Conectado(); }, std::chrono::seconds(5));
    bench::PreparaFuncionarios(controle, kFuncionarios);
  }
};

void Envio(benchmark::State& state, EModeloRelogio modelo) {
  Cenario c(modelo);
  for (auto _ : state) {
    c.sdk->usuarios_.clear();
    benchmark::DoNotOptimize(c.controle.EnviarListaFuncionarioCartaoRelogio(1));
  }
  state.counters["funcionarios/s"] = benchmark::Counter(
      static_cast<double>(kFuncionarios) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}

void Leitura(benchmark::State& state, EModeloRelogio modelo) {
  Cenario c(modelo);
  c.controle.EnviarListaFuncionarioCartaoRelogio(1);
  for (auto _ : state) benchmark::DoNotOptimize(c.controle.ObterListaFuncionarioCartaoRelogio(1));
  state.counters["funcionarios/s"] = benchmark::Counter(
      static_cast<double>(kFuncionarios) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}

// The same device calls a send makes, with no component around them.
void ChamadasPurasEnvio(benchmark::State& state) {
  bench::CZKEMMemoria sdk;
  const std::string nome = "Funcionario", senha = "1234", tpl(600, 'A');
  for (auto _ : state) {
    sdk.usuarios_.clear();
    std::string convertido;
    int32_t n = 0;
    for (int32_t i = 1; i <= kFuncionarios; ++i) {
      sdk.SdkSetUserInfo(1, i, nome, senha, 0, true);
      for (int32_t dedo : {3, 8}) {
        sdk.SdkDeleteUserTemplate(1, i, dedo);
        sdk.SdkConvertTemplate(tpl, convertido, n);
        sdk.SdkSetUserTemplate(1, i, dedo, convertido);
      }
    }
  }
  state.counters["funcionarios/s"] = benchmark::Counter(
      static_cast<double>(kFuncionarios) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(Envio, quorvel, EModeloRelogio_Quorvel)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Envio, tarvenix, EModeloRelogio_Tarvenix)->Unit(benchmark::kMillisecond);
BENCHMARK(ChamadasPurasEnvio)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Leitura, quorvel, EModeloRelogio_Quorvel)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Leitura, tarvenix, EModeloRelogio_Tarvenix)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
