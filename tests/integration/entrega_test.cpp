// Every punch exactly once, at process level: ponto against relogio-virtual while links drop,
// the daemon is killed and restarted, clocks run behind or are set back. What ponto printed is
// compared with what the daemon's journal holds.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/data_hora.h"
#include "support/daemon.h"
#include "support/processo.h"

namespace quorvel {
namespace {

using teste::Daemon;
using teste::Processo;
using namespace std::chrono_literals;

// A punch as both sides can name it, with every value both sides carry: NSR, PIS and time for
// the register model; card, time and whether it was a fingerprint otherwise.
using Chave = std::string;

std::string Temporario(const std::string& nome) {
  return ::testing::TempDir() + "entrega_" + std::to_string(::getpid()) + "_" + nome;
}

// The punches the daemon's journal holds, in the order they were recorded.
std::vector<Chave> PunchesDoDiario(const std::string& caminho, bool tarvenix) {
  std::vector<Chave> r;
  std::ifstream in(caminho);
  for (std::string linha; std::getline(in, linha);) {
    // "<checksum> <sequence> <record>"
    if (!linha.empty() && linha[0] != '{') linha = linha.substr(linha.find(' ', 9) + 1);
    const auto j = nlohmann::json::parse(linha, nullptr, false);
    if (j.is_discarded() || j.value("t", "") != "m") continue;
    const std::string quando = DataHora::DeSegundos(j.at("s").get<int64_t>()).FormataIso();
    if (tarvenix) {
      r.push_back(j.at("n").get<std::string>() + " " + j.at("p").get<std::string>() + "@" + quando);
    } else {
      r.push_back(std::to_string(j.at("c").get<int>()) + "@" + quando +
                  (j.at("o").get<int>() == 1 ? " digital" : " outro"));
    }
  }
  return r;
}

// The punches ponto printed as one JSON object per line (monitorar) or as CSV rows (coletar).
std::vector<Chave> PunchesImpressos(const std::string& saida, bool tarvenix) {
  std::vector<Chave> r;
  std::istringstream in(saida);
  for (std::string linha; std::getline(in, linha);) {
    const auto j = nlohmann::json::parse(linha, nullptr, false);
    if (j.is_discarded()) continue;
    // An empty PIS is printed as null.
    const std::string pis = j.at("pis").is_null() ? "" : j.at("pis").get<std::string>();
    r.push_back(tarvenix ? j.at("nsr").get<std::string>() + " " + pis + "@" +
                               j.at("data_hora").get<std::string>()
                         : std::to_string(j.at("cartao").get<int>()) + "@" +
                               j.at("data_hora").get<std::string>() +
                               (j.at("digital").get<bool>() ? " digital" : " outro"));
  }
  return r;
}

std::vector<std::string> LinhasCsv(const std::string& saida) {
  std::vector<std::string> r;
  std::istringstream in(saida);
  std::string linha;
  std::getline(in, linha);  // header
  while (std::getline(in, linha))
    if (!linha.empty()) r.push_back(linha);
  return r;
}

// What was printed must be the journal's punches from some point on, in order, each once:
// the point being the first visit, a moment after the monitor started.
void ConfereSufixo(const std::vector<Chave>& diario, const std::vector<Chave>& impressos,
                   size_t antesDoInicio, size_t folga) {
  ASSERT_LE(impressos.size(), diario.size());
  const size_t inicio = diario.size() - impressos.size();
  EXPECT_GE(inicio, antesDoInicio) << "printed punches recorded before the monitor started";
  EXPECT_LE(inicio, antesDoInicio + folga) << "punches recorded after the start were lost";
  const std::vector<Chave> esperado(diario.begin() + static_cast<std::ptrdiff_t>(inicio),
                                    diario.end());
  EXPECT_EQ(impressos, esperado);
}

struct Modelo {
  const char* nome;
  bool tarvenix;
};
const Modelo kModelos[] = {{"quorvel", false}, {"tarvenix", true}};

std::vector<std::string> ArgsPonto(const std::string& comando, const std::string& ip,
                                   const Modelo& m, const std::string& formato) {
  return {comando, "--relogio", "1", "--ip", ip, "--modelo", m.nome, "--formato", formato};
}

// ---- Monitoring ----------------------------------------------------------------------------

// Waits until the monitor has printed the last punch of the daemon's journal: everything
// recorded has reached it, or the wait ran out (then the comparison says what is missing).
void EsperaOFimDoDiario(const Processo& ponto, const std::string& diario, bool tarvenix) {
  teste::EsperaAte([&] {
    const auto registrados = PunchesDoDiario(diario, tarvenix);
    const auto impressos = PunchesImpressos(ponto.Saida(), tarvenix);
    return !registrados.empty() && !impressos.empty() && impressos.back() == registrados.back();
  });
}

TEST(Entrega, MonitoringAcrossTwoKillsOfTheDaemonLosesNothingAndRepeatsNothing) {
  for (const Modelo& m : kModelos) {
    SCOPED_TRACE(m.nome);
    const std::string ip = teste::EnderecoLoopback(m.tarvenix ? 41 : 40);
    const std::string diario = Temporario(std::string("kill_") + m.nome + ".jsonl");
    std::remove(diario.c_str());
    const std::string espec = std::string("codigo=1,exemplo,modelo=") + m.nome + ",dados=" + diario;
    const std::vector<std::string> gerando = {"--endereco", ip,          "--marcacoes-por-minuto",
                                              "120",        "--relogio", espec};
    std::optional<Daemon> d;
    d.emplace(gerando, 1);
    const size_t antes = PunchesDoDiario(diario, m.tarvenix).size();
    Processo ponto(PONTO_BINARIO, ArgsPonto("monitorar", ip, m, "json"),
                   Temporario(std::string("monitor_") + m.nome));
    const auto impressos = [&] { return PunchesImpressos(ponto.Saida(), m.tarvenix).size(); };
    ASSERT_TRUE(teste::EsperaAte([&] { return impressos() >= 2; })) << ponto.Erros();
    for (int i = 0; i < 2; ++i) {
      d->Para(SIGKILL);
      d.reset();
      d.emplace(gerando, 1);
      // Back once the monitor says so and prints what the clock records afterwards.
      const size_t ja = impressos();
      ASSERT_TRUE(teste::EsperaAte([&] {
        return teste::Ocorrencias(ponto.Erros(), "conexão restabelecida") > size_t(i) &&
               impressos() >= ja + 2;
      })) << ponto.Erros();
    }
    // Quiet at the end: no new punch, so everything recorded can reach the monitor.
    d->Para(SIGTERM);
    d.reset();
    d.emplace(std::vector<std::string>{"--endereco", ip, "--relogio", espec}, 1);
    EsperaOFimDoDiario(ponto, diario, m.tarvenix);
    ponto.Sinaliza(SIGINT);
    EXPECT_EQ(ponto.Espera(), 0) << ponto.Erros();

    const auto impressas = PunchesImpressos(ponto.Saida(), m.tarvenix);
    const auto registrados = PunchesDoDiario(diario, m.tarvenix);
    ConfereSufixo(registrados, impressas, antes, 4);
    EXPECT_NE(ponto.Erros().find("Conexão perdida"), std::string::npos) << ponto.Erros();
    if (!m.tarvenix) {
      // 120 a minute: punches share seconds, and each of them still came out.
      std::set<std::string> segundos;
      for (const auto& c : impressas) segundos.insert(c.substr(c.find('@'), 20));
      EXPECT_LT(segundos.size(), impressas.size());
    }
  }
}

// A register clock whose journal is deleted and whose daemon comes back as a fresh clock under
// the same address (NSRs from 1 again) while the monitor runs: every punch of the old clock
// after the start and every punch of the new one is printed once.
TEST(Entrega, MonitoringAReplacedRegisterClockPrintsEveryPunchOfTheNewOneOnce) {
  const Modelo tarvenix = kModelos[1];
  const std::string ip = teste::EnderecoLoopback(49);
  const std::string velho = Temporario("substituido_velho.jsonl");
  const std::string novo = Temporario("substituido_novo.jsonl");
  std::remove(velho.c_str());
  std::remove(novo.c_str());
  // The old clock has a history; the new one starts empty, every punch it holds is new.
  const auto gerando = [&](const std::string& espec) {
    return std::vector<std::string>{"--endereco", ip,          "--marcacoes-por-minuto",
                                    "120",        "--relogio", espec};
  };
  const std::string especNovo = "codigo=1,modelo=tarvenix,dados=" + novo;
  std::optional<Daemon> d;
  d.emplace(gerando("codigo=1,exemplo,modelo=tarvenix,dados=" + velho), 1);
  const size_t antes = PunchesDoDiario(velho, true).size();
  Processo ponto(PONTO_BINARIO, ArgsPonto("monitorar", ip, tarvenix, "json"),
                 Temporario("monitor_substituido"));
  const auto impressos = [&] { return PunchesImpressos(ponto.Saida(), true); };
  ASSERT_TRUE(teste::EsperaAte([&] { return impressos().size() >= 3; })) << ponto.Erros();

  // The clock is replaced: the old one's journal is gone, a new one answers at the address.
  d->Para(SIGKILL);
  d.reset();
  const auto doVelho = PunchesDoDiario(velho, true);
  d.emplace(gerando(especNovo), 1);
  ASSERT_TRUE(teste::EsperaAte([&] {
    return teste::Ocorrencias(ponto.Erros(), "conexão restabelecida") >= 1 &&
           impressos().size() >= doVelho.size() - antes + 4;
  })) << ponto.Erros();
  d->Para(SIGTERM);
  d.reset();
  d.emplace(std::vector<std::string>{"--endereco", ip, "--relogio", especNovo}, 1);
  EsperaOFimDoDiario(ponto, novo, true);
  ponto.Sinaliza(SIGINT);
  EXPECT_EQ(ponto.Espera(), 0) << ponto.Erros();

  // The old clock's punches from the start on, then the new clock's, from its first NSR.
  const auto impressas = impressos();
  const auto doNovo = PunchesDoDiario(novo, true);
  ASSERT_GE(impressas.size(), doNovo.size());
  const std::vector<Chave> velhas(impressas.begin(),
                                  impressas.end() - static_cast<std::ptrdiff_t>(doNovo.size()));
  const std::vector<Chave> novas(impressas.end() - static_cast<std::ptrdiff_t>(doNovo.size()),
                                 impressas.end());
  ConfereSufixo(doVelho, velhas, antes, 4);
  EXPECT_EQ(novas, doNovo);
}

TEST(Entrega, MonitoringAClockBehindTheComputerAndSetBackAnHour) {
  const std::string ip = teste::EnderecoLoopback(42);
  const std::string diario = Temporario("atrasado.jsonl");
  std::remove(diario.c_str());
  const std::string espec = "codigo=1,exemplo,modelo=quorvel,desvio=-600,dados=" + diario;
  std::optional<Daemon> d;
  d.emplace(std::vector<std::string>{"--endereco", ip, "--marcacoes-por-minuto", "120", "--relogio",
                                     espec},
            1);
  const Modelo quorvel = kModelos[0];
  const size_t antes = PunchesDoDiario(diario, false).size();
  Processo ponto(PONTO_BINARIO, ArgsPonto("monitorar", ip, quorvel, "json"),
                 Temporario("monitor_atrasado"));
  const auto impressos = [&] { return PunchesImpressos(ponto.Saida(), false).size(); };
  ASSERT_TRUE(teste::EsperaAte([&] { return impressos() >= 2; })) << ponto.Erros();

  // Set the clock back an hour from what it shows, through a second client.
  Processo leitura(PONTO_BINARIO, ArgsPonto("data-hora", ip, quorvel, "csv"),
                   Temporario("le_hora"));
  ASSERT_EQ(leitura.Espera(), 0) << leitura.Erros();
  const std::string csv = leitura.Saida();
  const auto linha = csv.substr(csv.find('\n') + 1);
  const std::string texto = linha.substr(linha.find(';') + 1, 19);
  DataHora agora;
  ASSERT_TRUE(DataHora::TentaDeTexto(texto, ConfiguracaoRegional{}, agora)) << csv;
  const std::string atras = DataHora::DeSegundos(agora.Segundos() - 3600).FormataBrasileiro();
  auto args = ArgsPonto("data-hora", ip, quorvel, "tabela");
  args.push_back("--definir");
  args.push_back(atras);
  Processo ajuste(PONTO_BINARIO, args, Temporario("ajusta_hora"));
  ASSERT_EQ(ajuste.Espera(), 0) << ajuste.Erros();
  // Punches stamped an hour back reach the monitor.
  const size_t ja = impressos();
  ASSERT_TRUE(teste::EsperaAte([&] { return impressos() >= ja + 3; })) << ponto.Erros();

  d->Para(SIGTERM);
  d.reset();
  d.emplace(std::vector<std::string>{"--endereco", ip, "--relogio", espec}, 1);
  EsperaOFimDoDiario(ponto, diario, false);
  ponto.Sinaliza(SIGINT);
  EXPECT_EQ(ponto.Espera(), 0) << ponto.Erros();

  const auto impressas = PunchesImpressos(ponto.Saida(), false);
  const auto registrados = PunchesDoDiario(diario, false);
  ConfereSufixo(registrados, impressas, antes, 4);
  // Some printed punches are stamped before the ones printed just before them.
  bool voltouNoTempo = false;
  for (size_t i = 1; i < impressas.size(); ++i)
    if (impressas[i].substr(impressas[i].find('@'), 20) <
        impressas[i - 1].substr(impressas[i - 1].find('@'), 20))
      voltouNoTempo = true;
  EXPECT_TRUE(voltouNoTempo);
}

// ---- Collection ----------------------------------------------------------------------------

TEST(Entrega, CollectionsOverLinksThatDropAfterFourFramesAreWhole) {
  for (const Modelo& m : kModelos) {
    SCOPED_TRACE(m.nome);
    const std::string ip = teste::EnderecoLoopback(m.tarvenix ? 44 : 43);
    Daemon d({"--endereco", ip, "--cair-apos", "4", "--semear", "20000", "--relogio",
              std::string("codigo=1,modelo=") + m.nome},
             1);
    Processo ponto(PONTO_BINARIO, ArgsPonto("coletar", ip, m, "csv"),
                   Temporario(std::string("coleta_cai_") + m.nome));
    ASSERT_EQ(ponto.Espera(), 0) << ponto.Erros();
    const auto linhas = LinhasCsv(ponto.Saida());
    ASSERT_EQ(linhas.size(), 20000u);
    if (m.tarvenix) {
      // NSRs 1..20000, each once, in order: no gap and no duplicate across the resumes.
      for (size_t i = 0; i < linhas.size(); ++i)
        ASSERT_NE(linhas[i].find(";;;" + std::to_string(i + 1) + ";"), std::string::npos)
            << linhas[i];
    }
  }
}

TEST(Entrega, ADaemonKilledMidCollectionGivesTheWholeLogOrAClearFailure) {
  constexpr size_t kMarcacoes = 30000;
  for (const Modelo& m : kModelos) {
    for (bool volta : {true, false}) {
      SCOPED_TRACE(std::string(m.nome) + (volta ? " restarted" : " gone"));
      const std::string ip = teste::EnderecoLoopback(45 + (m.tarvenix ? 2 : 0) + (volta ? 1 : 0));
      const std::string diario = Temporario(std::string("morto_") + m.nome + ".jsonl");
      std::remove(diario.c_str());
      const std::string espec = std::string("codigo=1,modelo=") + m.nome + ",dados=" + diario;
      std::optional<Daemon> d;
      // Slow answers (200 ms a frame), so the kill lands in the middle of the read: the
      // fingerprint log comes in 4 chunks after the hello and the log read, the register log
      // in 8 batches after the hello, the reopen, the version and the pointer.
      // Compacted at once, so a restart loads a snapshot: quick enough to come back within
      // the collection's reopen attempts even under the sanitizers.
      const std::string pedidos = Temporario(std::string("pedidos_") + m.nome + ".log");
      std::remove(pedidos.c_str());
      d.emplace(std::vector<std::string>{"--endereco", ip, "--atraso", "200", "--semear",
                                         std::to_string(kMarcacoes), "--compactar-apos", "100000",
                                         "--detalhar", "--relogio", espec},
                1, pedidos);
      Processo ponto(PONTO_BINARIO, ArgsPonto("coletar", ip, m, "csv"),
                     Temporario(std::string("coleta_morto_") + m.nome));
      // Killed once the log read was asked for: the collection is connected and mid-read.
      const std::string leitura = m.tarvenix ? "pedido log de registros" : "pedido log desde";
      ASSERT_TRUE(teste::EsperaAte([&] {
        return teste::LeArquivo(pedidos).find(leitura) != std::string::npos;
      })) << teste::LeArquivo(pedidos);
      d->Para(SIGKILL);
      d.reset();
      if (volta) d.emplace(std::vector<std::string>{"--endereco", ip, "--relogio", espec}, 1);
      const int codigo = ponto.Espera();
      const auto linhas = LinhasCsv(ponto.Saida());
      if (volta) {
        ASSERT_EQ(codigo, 0) << ponto.Erros();
        ASSERT_EQ(linhas.size(), kMarcacoes);
        // Seeded in order: NSRs 1..N, each once, none missing across the kill.
        if (m.tarvenix) {
          for (size_t i = 0; i < linhas.size(); ++i)
            ASSERT_NE(linhas[i].find(";;;" + std::to_string(i + 1) + ";"), std::string::npos);
        }
      } else {
        EXPECT_EQ(codigo, 4) << ponto.Erros();
        EXPECT_TRUE(linhas.empty());  // nothing of a clock collected short
        EXPECT_NE(ponto.Erros().find("Relógio 1 não coletado"), std::string::npos) << ponto.Erros();
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
