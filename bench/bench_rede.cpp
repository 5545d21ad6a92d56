// Collection and sends across processes: the control against relogio-virtual over loopback
// TCP, next to a bare loopback transfer of the same number of bytes.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "../tests/support/daemon.h"
#include "funcionarios.h"
#include "quorvel/comunicacao_zk.h"
#include "quorvel/event_loop.h"
#include "quorvel/sdk/sdk_rede.h"
#include "quorvel/virtual_host.h"
#include "sdk/protocol/protocol.h"
#include "turnos.h"

namespace {

using namespace quorvel;
constexpr int64_t kMarcacoes = 1'000'000;
constexpr int32_t kFuncionarios = 10'000;

struct Controle {
  EventLoop loop;
  ComunicacaoZK controle{loop, sdk::FabricaRede()};
  Controle(const std::string& ip, EModeloRelogio modelo) {
    controle.AddRelogioIP(1, ip, modelo);
    controle.ConectarRelogio(1);
    loop.RodaAte([&] { return controle.Relogios().Item(1)->Conectado(); }, std::chrono::seconds(5));
  }
};

// `primeira`: every iteration is a new SDK object, so the whole log crosses the wire; else the
// same object reads again, and a fingerprint clock's client copy moves only what is new (almost
// nothing) — two different figures, reported apart.
void Coleta(benchmark::State& state, EModeloRelogio modelo, bool primeira) {
  const std::string ip = teste::EnderecoLoopback(modelo == EModeloRelogio_Quorvel ? 11 : 12);
  teste::Daemon d({"--endereco", ip, "--semear", std::to_string(kMarcacoes), "--relogio",
                   std::string("codigo=1,capacidade=2000000,modelo=") +
                       (modelo == EModeloRelogio_Quorvel ? "quorvel" : "tarvenix")},
                  1);
  std::optional<Controle> c;
  c.emplace(ip, modelo);
  if (!primeira) c->controle.ObterMarcacaoRelogio(1);  // the copy is made before measuring
  const auto antes = sdk::Estatisticas();
  int64_t total = 0;
  for (auto _ : state) {
    if (primeira) {
      state.PauseTiming();
      c.reset();
      c.emplace(ip, modelo);
      state.ResumeTiming();
    }
    total += c->controle.ObterMarcacaoRelogio(1)->Count();
  }
  const auto depois = sdk::Estatisticas();
  const double bytes = static_cast<double>(depois.bytesRecebidos - antes.bytesRecebidos +
                                           depois.bytesEnviados - antes.bytesEnviados);
  state.counters["marcacoes/s"] =
      benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
  state.counters["bytes/marcacao"] = bytes / static_cast<double>(total);
  state.counters["bytes/s"] = benchmark::Counter(bytes, benchmark::Counter::kIsRate);
}

// The same number of bytes through a plain loopback TCP connection.
// A listening socket on a free loopback port, whose address goes into `endereco`.
int EscutaLoopback(sockaddr_in& endereco) {
  const int escuta = ::socket(AF_INET, SOCK_STREAM, 0);
  endereco.sin_family = AF_INET;
  endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(escuta, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco);
  ::listen(escuta, 1);
  socklen_t tamanho = sizeof endereco;
  ::getsockname(escuta, reinterpret_cast<sockaddr*>(&endereco), &tamanho);
  return escuta;
}

void TransferenciaPura(benchmark::State& state) {
  const size_t total = static_cast<size_t>(state.range(0));
  sockaddr_in a{};
  const int escuta = EscutaLoopback(a);
  for (auto _ : state) {
    std::thread servidor([&] {
      const int fd = ::accept(escuta, nullptr, nullptr);
      std::vector<char> bloco(1 << 16, 'x');
      size_t enviado = 0;
      while (enviado < total)
        enviado +=
            static_cast<size_t>(::write(fd, bloco.data(), std::min(bloco.size(), total - enviado)));
      ::close(fd);
    });
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    std::vector<char> buffer(1 << 16);
    size_t lido = 0;
    while (lido < total) {
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n <= 0) break;
      lido += static_cast<size_t>(n);
    }
    ::close(fd);
    servidor.join();
  }
  ::close(escuta);
  state.counters["bytes/s"] =
      benchmark::Counter(static_cast<double>(total) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

// The floor of a send: as many request/answer exchanges as the send makes (50,000 for the
// fingerprint model, 60,000 for the register one), of a send's average frame sizes (280 bytes
// out, 285 back), over loopback between two threads that both read without sleeping — what the
// protocol's exchanges cost with nothing but the TCP stack in between. Returns the seconds.
double TrocasPurasSegundos(int trocas) {
  constexpr size_t kPedido = 280, kResposta = 285;
  sockaddr_in a{};
  const int escuta = EscutaLoopback(a);
  const auto le = [](int fd, char* destino, size_t n) {
    for (size_t lido = 0; lido < n;) {
      const ssize_t r = ::recv(fd, destino + lido, n - lido, MSG_DONTWAIT);
      if (r > 0) lido += static_cast<size_t>(r);
      if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) return false;
    }
    return true;
  };
  const auto semAtraso = [](int fd) {
    int um = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &um, sizeof um);
  };
  const double segundos = bench::Segundos([&] {
    std::thread servidor([&] {
      const int fd = ::accept(escuta, nullptr, nullptr);
      semAtraso(fd);
      char b[kPedido] = {};
      for (int i = 0; i < trocas && le(fd, b, kPedido); ++i) ::send(fd, b, kResposta, MSG_NOSIGNAL);
      ::close(fd);
    });
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    semAtraso(fd);
    char b[kPedido] = {};
    for (int i = 0; i < trocas; ++i) {
      ::send(fd, b, kPedido, MSG_NOSIGNAL);
      if (!le(fd, b, kResposta)) break;
    }
    ::close(fd);
    servidor.join();
  });
  ::close(escuta);
  return segundos;
}

void TrocasPuras(benchmark::State& state) {
  const int kTrocas = static_cast<int>(state.range(0));
  for (auto _ : state) TrocasPurasSegundos(kTrocas);
  state.counters["trocas/s"] =
      benchmark::Counter(static_cast<double>(kTrocas) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

teste::Daemon DaemonDeFuncionarios(const std::string& ip, EModeloRelogio modelo) {
  return teste::Daemon({"--endereco", ip, "--relogio",
                        std::string("codigo=1,capacidade=100000,modelo=") +
                            (modelo == EModeloRelogio_Quorvel ? "quorvel" : "tarvenix")},
                       1);
}

void Envio(benchmark::State& state, EModeloRelogio modelo) {
  const std::string ip = teste::EnderecoLoopback(modelo == EModeloRelogio_Quorvel ? 13 : 14);
  teste::Daemon d = DaemonDeFuncionarios(ip, modelo);
  Controle c(ip, modelo);
  bench::PreparaFuncionarios(c.controle, kFuncionarios);
  const auto antes = sdk::Estatisticas();
  for (auto _ : state) benchmark::DoNotOptimize(c.controle.EnviarListaFuncionarioCartaoRelogio(1));
  const auto depois = sdk::Estatisticas();
  const double enviados =
      static_cast<double>(kFuncionarios) * static_cast<double>(state.iterations());
  state.counters["funcionarios/s"] = benchmark::Counter(enviados, benchmark::Counter::kIsRate);
  state.counters["trocas/funcionario"] =
      static_cast<double>(depois.trocas - antes.trocas) / enviados;
}

// The send and its floor taking turns, five of each: on a shared machine the load of one moment
// moves both figures of that turn alike, so the median of the turns' ratios says what the send
// costs over its exchanges where two separate runs could differ by more than that.
void EnvioAoLadoDoPiso(benchmark::State& state, EModeloRelogio modelo) {
  const std::string ip = teste::EnderecoLoopback(modelo == EModeloRelogio_Quorvel ? 20 : 21);
  teste::Daemon d = DaemonDeFuncionarios(ip, modelo);
  Controle c(ip, modelo);
  bench::PreparaFuncionarios(c.controle, kFuncionarios);
  const int trocas = kFuncionarios * (modelo == EModeloRelogio_Quorvel ? 5 : 6);
  bench::Turnos turnos;
  for (auto _ : state) {
    const double piso = TrocasPurasSegundos(trocas);
    const double envio = bench::Segundos(
        [&] { benchmark::DoNotOptimize(c.controle.EnviarListaFuncionarioCartaoRelogio(1)); });
    turnos.Anota(envio, piso);
  }
  turnos.Relata(state, "envio", "piso");
}

// The device calls a send makes, straight on the network backend with no control around them:
// what the send costs besides the control's own work.
void ChamadasPurasEnvio(benchmark::State& state, EModeloRelogio modelo) {
  const std::string ip = teste::EnderecoLoopback(modelo == EModeloRelogio_Quorvel ? 17 : 18);
  teste::Daemon d = DaemonDeFuncionarios(ip, modelo);
  const auto sdk = sdk::CriaSdkRede();
  if (!sdk->SdkConnectNetwork(ip, 4370)) {
    state.SkipWithError("sem conexão");
    return;
  }
  const std::string nome = "Funcionario", senha = "1234", tpl(600, 'A');
  std::string convertido;
  int32_t tamanho = 0;
  sdk->SdkConvertTemplate(tpl, convertido, tamanho);
  const auto antes = sdk::Estatisticas();
  for (auto _ : state)
    for (int32_t i = 1; i <= kFuncionarios; ++i) {
      if (modelo == EModeloRelogio_Quorvel) {
        sdk->SdkSetUserInfo(1, i, nome, senha, 0, true);
      } else {
        sdk->SdkSetCardNumber(std::to_string(i));
        sdk->SdkSetUserInfoWithPis(1, std::to_string(i), nome, senha, 0, true, "12034567899", "");
      }
      for (int32_t dedo : {3, 8}) {
        if (modelo == EModeloRelogio_Quorvel) {
          sdk->SdkDeleteUserTemplate(1, i, dedo);
          sdk->SdkSetUserTemplate(1, i, dedo, convertido);
        } else {
          sdk->SdkDeleteUserTemplateByTextId(1, std::to_string(i), dedo);
          sdk->SdkSetUserTemplateByTextId(1, std::to_string(i), dedo, 1, tpl);
        }
      }
    }
  const auto depois = sdk::Estatisticas();
  const double enviados =
      static_cast<double>(kFuncionarios) * static_cast<double>(state.iterations());
  state.counters["funcionarios/s"] = benchmark::Counter(enviados, benchmark::Counter::kIsRate);
  const double trocas = static_cast<double>(depois.trocas - antes.trocas);
  state.counters["trocas/funcionario"] = trocas / enviados;
  state.counters["bytes/troca"] =
      static_cast<double>(depois.bytesEnviados - antes.bytesEnviados + depois.bytesRecebidos -
                          antes.bytesRecebidos) /
      trocas;
}

// Reading back 10,000 employees with two templates each (sent once, before the timing).
void Leitura(benchmark::State& state, EModeloRelogio modelo) {
  const std::string ip = teste::EnderecoLoopback(modelo == EModeloRelogio_Quorvel ? 15 : 16);
  teste::Daemon d = DaemonDeFuncionarios(ip, modelo);
  Controle c(ip, modelo);
  bench::PreparaFuncionarios(c.controle, kFuncionarios);
  c.controle.EnviarListaFuncionarioCartaoRelogio(1);
  const auto antes = sdk::Estatisticas();
  int32_t lidos = 0;
  for (auto _ : state) lidos = c.controle.ObterListaFuncionarioCartaoRelogio(1)->Count();
  const auto depois = sdk::Estatisticas();
  if (lidos != kFuncionarios) state.SkipWithError("a leitura não trouxe todos os funcionários");
  const double total = static_cast<double>(kFuncionarios) * static_cast<double>(state.iterations());
  state.counters["funcionarios/s"] = benchmark::Counter(total, benchmark::Counter::kIsRate);
  state.counters["trocas/funcionario"] = static_cast<double>(depois.trocas - antes.trocas) / total;
}

// One monitoring tick over 100 idle clocks (50 of each model) on loopback, with the pushed log
// size and without it (every visit asking the clock).
void Monitoracao(benchmark::State& state, bool assinar) {
  constexpr int kRelogios = 100;
  std::vector<std::string> args = {"--max-conexoes", "200"};
  for (int i = 1; i <= kRelogios; ++i)
    args.insert(args.end(),
                {"--relogio", "codigo=" + std::to_string(i) +
                                  ",porta=0,exemplo,modelo=" + (i % 2 ? "quorvel" : "tarvenix")});
  teste::Daemon d(args, kRelogios);
  VirtualHost host;
  sdk::OpcoesRede opcoes;
  opcoes.assinar = assinar;
  ComunicacaoZK controle(host, [opcoes] { return sdk::CriaSdkRede(opcoes); });
  for (int i = 1; i <= kRelogios; ++i) {
    controle.AddRelogioIP(static_cast<int16_t>(i),
                          "127.0.0.1:" + std::to_string(d.Porta(static_cast<size_t>(i - 1))),
                          i % 2 ? EModeloRelogio_Quorvel : EModeloRelogio_Tarvenix);
    controle.ConectarRelogio(static_cast<int16_t>(i));
    host.Avanca(150);
  }
  int64_t recebidas = 0;
  controle.Eventos().MarcacaoRecolhida = [&](const auto&) { ++recebidas; };
  controle.IniciaMonitoracaoTodosRelogios();
  host.Avanca(200);  // the first visit of each clock
  host.Avanca(200);
  const auto antes = sdk::Estatisticas();
  for (auto _ : state) host.Avanca(200);
  const auto depois = sdk::Estatisticas();
  if (recebidas != 0) state.SkipWithError("marcações num relógio parado");
  state.counters["trocas/tick"] =
      static_cast<double>(depois.trocas - antes.trocas) / static_cast<double>(state.iterations());
}
BENCHMARK_CAPTURE(Monitoracao, com_aviso, true)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(Monitoracao, sem_aviso, false)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_CAPTURE(Leitura, quorvel, EModeloRelogio_Quorvel)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(Leitura, tarvenix, EModeloRelogio_Tarvenix)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(Coleta, quorvel_primeira_leitura, EModeloRelogio_Quorvel, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(Coleta, quorvel_releitura, EModeloRelogio_Quorvel, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(Coleta, tarvenix, EModeloRelogio_Tarvenix, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
// CRC-32C of a 64 KiB frame: the table against the processor's instruction.
void Crc(benchmark::State& state, uint32_t (*crc)(const void*, size_t, uint32_t)) {
  std::string dados(64 * 1024, 'q');
  for (auto _ : state) benchmark::DoNotOptimize(crc(dados.data(), dados.size(), 0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 64 * 1024);
}
BENCHMARK_CAPTURE(Crc, tabela, protocol::Crc32cTabela);
BENCHMARK_CAPTURE(Crc, instrucao, protocol::Crc32cInstrucao);

BENCHMARK(TransferenciaPura)
    ->Arg(48'000'000)
    ->Arg(62'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(TrocasPuras)
    ->Arg(50'000)
    ->Arg(60'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(Envio, quorvel, EModeloRelogio_Quorvel)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(Envio, tarvenix, EModeloRelogio_Tarvenix)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(EnvioAoLadoDoPiso, quorvel, EModeloRelogio_Quorvel)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(EnvioAoLadoDoPiso, tarvenix, EModeloRelogio_Tarvenix)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(ChamadasPurasEnvio, quorvel, EModeloRelogio_Quorvel)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(ChamadasPurasEnvio, tarvenix, EModeloRelogio_Tarvenix)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
