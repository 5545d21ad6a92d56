// The collector service at process level: ponto servico against relogio-virtual on SQLite and on
// a real PostgreSQL server that the tests stop, restart and cut. What the services report is
// compared with what is true, and the store with what the clocks' journals hold.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "support/coleta_processo.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using namespace teste;

std::unique_ptr<Processo> Servico(const std::string& banco, const Relogios& r, const char* nome,
                                  std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"servico",   "--banco",   banco, "--relogios",
                                   r.Arquivo(), "--coletor", nome};
  args.insert(args.end(), extra.begin(), extra.end());
  return std::make_unique<Processo>(PONTO_BINARIO, args,
                                    Temporario(std::string("servico_") + nome));
}

// Fast leases and reconciliations: what a lease period bounds is seen in seconds.
const std::vector<std::string> kRapido = {"--arrendamento", "6", "--reconciliar-a-cada", "3"};

bool NoLog(const Processo& p, const std::string& trecho, size_t vezes = 1) {
  return Ocorrencias(p.Erros(), trecho) >= vezes;
}

// `ponto servico --estado --formato json`, parsed; its exit code and stderr beside it.
struct Estado {
  int codigo = -1;
  nlohmann::json relogios;
  std::string erros;
};
Estado LeEstado(const std::string& banco, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"servico", "--estado", "--banco", banco, "--formato", "json"};
  args.insert(args.end(), extra.begin(), extra.end());
  const auto s = Ponto(args, "estado");
  Estado e;
  e.codigo = s.codigo;
  e.erros = s.err;
  e.relogios = nlohmann::json::parse(s.out, nullptr, false);
  return e;
}

// Who holds each clock by a live lease.
std::map<int16_t, std::string> Donos(const std::string& banco) {
  std::map<int16_t, std::string> d;
  for (const auto& e : armazem::Armazem::Abre(banco, "teste")->Estados(false))
    if (e.ArrendamentoVivo()) d[e.relogio] = e.arrendadoPor;
  return d;
}
std::map<std::string, size_t> PorColetor(const std::map<int16_t, std::string>& donos) {
  std::map<std::string, size_t> n;
  for (const auto& [relogio, dono] : donos) ++n[dono];
  return n;
}

// The local time as the services' log lines write it, to place an observation among them.
std::string HoraComoNoLog() {
  const auto agora = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(agora);
  std::tm local{};
  localtime_r(&t, &local);
  char texto[32];
  std::strftime(texto, sizeof texto, "%H:%M:%S", &local);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(agora.time_since_epoch()).count() %
      1000;
  return std::string(texto) + "." + (ms < 100 ? (ms < 10 ? "00" : "0") : "") + std::to_string(ms);
}

// Watches that no clock ever has two links while a test waits: every wait below samples it.
class Vigia {
 public:
  explicit Vigia(const Relogios& r) : r_(r) {}
  bool Espera(const std::function<bool()>& condicao, std::chrono::milliseconds limite = 90s) {
    return EsperaAte(
        [&] {
          Amostra();
          return condicao();
        },
        limite);
  }
  void Amostra() {
    for (int i = 1; i <= r_.Quantos(); ++i) {
      const auto links = LinksNaPorta(r_.Porta(i));
      const int n = static_cast<int>(links.size());
      if (n > 1 && n > maximo_) {
        relogio_ = i;
        quando_ = "relógio " + std::to_string(i) + " com " + std::to_string(n) + " links em " +
                  HoraComoNoLog() + " (de";
        for (const auto& l : links) quando_ += " " + l;
        quando_ += ")";
      }
      maximo_ = std::max(maximo_, n);
    }
  }
  int MaisLinksNumRelogio() const { return maximo_; }
  // Which clock and when, for the services' logs beside it.
  const std::string& Quando() const { return quando_; }
  // What each service logged of that clock: the lines a failure is read by, kept short.
  std::string Historico(const std::map<std::string, const Processo*>& servicos) const {
    std::string texto;
    const std::string nome = "relógio " + std::to_string(relogio_);
    for (const auto& [coletor, p] : servicos) {
      texto += "--- " + coletor + "\n";
      std::istringstream linhas(p->Erros());
      for (std::string linha; std::getline(linhas, linha);)
        for (const char* depois : {":", " "})
          if (linha.find(nome + depois) != std::string::npos) {
            texto += linha + "\n";
            break;
          }
    }
    return texto;
  }

 private:
  const Relogios& r_;
  int maximo_ = 0;
  int relogio_ = 0;
  std::string quando_;
};

double Segundos(std::chrono::steady_clock::time_point desde) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - desde).count();
}

// ---- What the service says is true ------------------------------------------------------------

TEST(Servico, OnSqliteTellsTheTruthAboutEveryClockKeepsTheStoreCurrentAndStopsCleanly) {
  Relogios r("sqlite", 2);
  const std::string banco = NovoSqlite("servico");
  auto s = Servico(banco, r, "unico", kRapido);
  ASSERT_TRUE(EsperaAte([&] { return NoLog(*s, "pronto: primeira reconciliação concluída"); }))
      << s->Erros();
  // Punches raised by monitoring reach the store as they come.
  ASSERT_TRUE(EsperaAte([&] { return NoLog(*s, "(monitoração)"); })) << s->Erros();

  Estado e = LeEstado(banco);
  ASSERT_EQ(e.codigo, 0) << e.erros;
  ASSERT_EQ(e.relogios.size(), 2u);
  for (const auto& j : e.relogios) {
    EXPECT_EQ(j.at("conectado"), true) << j;
    EXPECT_EQ(j.at("arrendamento_vivo"), true) << j;
    EXPECT_EQ(j.at("arrendado_por"), "unico") << j;
    EXPECT_GT(j.at("marcacoes_hoje").get<int64_t>(), 0) << j;  // the sample punches, stored now
    EXPECT_TRUE(j.at("arrendamento_segundos").is_number()) << j;
    EXPECT_FALSE(j.at("conectado_desde").is_null()) << j;
  }

  // The clocks' daemon dies: the service learns it from monitoring and says so.
  r.Derruba();
  const auto desconectados = [&] {
    const Estado agora = LeEstado(banco);
    return agora.relogios.is_array() && agora.relogios.size() == 2 &&
           std::all_of(agora.relogios.begin(), agora.relogios.end(),
                       [](const auto& j) { return j.at("conectado") == false; });
  };
  ASSERT_TRUE(EsperaAte(desconectados)) << LeEstado(banco).relogios << s->Erros();
  // Disconnected for longer than the alert: a non-zero exit for a monitoring system.
  ASSERT_TRUE(EsperaAte([&] { return LeEstado(banco, {"--alerta", "1"}).codigo == 4; }));
  EXPECT_NE(LeEstado(banco, {"--alerta", "1"}).erros.find("desconectado há"), std::string::npos);
  EXPECT_EQ(LeEstado(banco, {"--alerta", "3600"}).codigo, 0);
  EXPECT_NE(LeEstado(banco).relogios[0].at("ultimo_erro"), nullptr);

  r.Volta();
  ASSERT_TRUE(EsperaAte([&] {
    const Estado agora = LeEstado(banco);
    return agora.codigo == 0 && agora.relogios.size() == 2 &&
           std::all_of(agora.relogios.begin(), agora.relogios.end(),
                       [](const auto& j) { return j.at("conectado") == true; });
  })) << s->Erros();

  r.Aquieta();
  ASSERT_TRUE(EsperaAte([&] { return r.Iguais(*armazem::Armazem::Abre(banco, "teste")); }))
      << s->Erros();
  s->Sinaliza(SIGTERM);
  EXPECT_EQ(s->Espera(), 0) << s->Erros();
  const std::string log = s->Erros();
  EXPECT_NE(log.find("serviço encerrado"), std::string::npos) << log;
  EXPECT_NE(log.find("conexão perdida; reconectando"), std::string::npos) << log;
  r.ConfereCom(*armazem::Armazem::Abre(banco, "teste"));

  // Nobody collects now: nothing claims the clocks are connected, and the exit code says so.
  e = LeEstado(banco);
  EXPECT_EQ(e.codigo, 4);
  EXPECT_NE(e.erros.find("relógio 1: nenhum coletor ativo"), std::string::npos) << e.erros;
  for (const auto& j : e.relogios) {
    EXPECT_TRUE(j.at("conectado").is_null()) << j;
    EXPECT_EQ(j.at("arrendamento_vivo"), false) << j;
    EXPECT_TRUE(j.at("arrendado_por").is_null()) << j;
  }
  const auto tabela = Ponto({"servico", "--estado", "--banco", banco}, "estado_tabela");
  EXPECT_NE(tabela.out.find("nenhum coletor ativo"), std::string::npos) << tabela.out;
  // A table for people writes its dates one way: dd/mm/aaaa hh:mm:ss, the store's UTC stamps
  // in local time.
  EXPECT_TRUE(std::regex_search(tabela.out, std::regex(R"(\d{2}/\d{2}/\d{4} \d{2}:\d{2}:\d{2})")))
      << tabela.out;
  EXPECT_FALSE(std::regex_search(tabela.out, std::regex(R"(\d{4}-\d{2}-\d{2})"))) << tabela.out;
}

// The clock's own records (here the employer set while the service monitors it) take NSRs
// among the punches: monitoring asks the clock's fiscal file what stands in such a gap and moves
// the stored cursor over it with the punches after it, so nothing waits for a reconciliation to
// be read again. Reconciliation is an hour away: only monitoring can have moved the cursor.
TEST(Servico, MonitoringMovesTheCursorOverTheClocksOwnRecords) {
  Relogios r("lacuna", 2);
  const std::string banco = NovoSqlite("lacuna");
  auto s = Servico(banco, r, "unico", {"--reconciliar-a-cada", "3600"});
  ASSERT_TRUE(EsperaAte([&] { return NoLog(*s, "(monitoração)"); })) << s->Erros();
  const auto maiorNsr = [&] {
    int64_t maior = 0;
    armazem::Filtro f;
    f.relogio = 2;
    armazem::Armazem::Abre(banco, "teste")->Percorre(f, [&](const armazem::MarcacaoArmazenada& m) {
      maior = std::max(maior, m.nsr);
    });
    return maior;
  };
  const auto relogio = Rede(r.Porta(2), "tarvenix", 2);
  auto empregador = relogio;
  empregador.insert(empregador.begin(), "empregador");
  empregador.insert(empregador.end(), {"--nome", "Acme", "--tipo", "cnpj", "--documento",
                                       "11222333000181", "--cei", "", "--endereco", "Rua A"});
  ASSERT_EQ(Ponto(empregador, "lacuna_empregador").codigo, 0);
  auto afd = relogio;
  afd.insert(afd.begin(), "afd");
  afd.insert(afd.end(), {"--saida", "-"});
  const auto arquivo = Ponto(afd, "lacuna_afd");
  ASSERT_EQ(arquivo.codigo, 0) << arquivo.err;
  int64_t nsrEmpregador = 0;
  for (size_t inicio = 0, fim; (fim = arquivo.out.find("\r\n", inicio)) != std::string::npos;
       inicio = fim + 2)
    if (fim - inicio == 331 && arquivo.out[inicio + 9] == '2')
      nsrEmpregador = std::stoll(arquivo.out.substr(inicio, 9));
  ASSERT_GT(nsrEmpregador, 0) << arquivo.out.substr(0, 400);

  ASSERT_TRUE(EsperaAte([&] { return maiorNsr() > nsrEmpregador + 1; })) << s->Erros();
  const auto cursor = armazem::Armazem::Abre(banco, "teste")->CursorDe(2);
  ASSERT_TRUE(cursor);
  EXPECT_GT(cursor->ultimoNsr, nsrEmpregador) << s->Erros();
  s->Sinaliza(SIGTERM);
  EXPECT_EQ(s->Espera(), 0) << s->Erros();
}

// Under systemd: READY=1 once the first reconciliation is done, WATCHDOG=1 from the tick, and
// each log line with the priority journald files it under. The test is the notify socket.
TEST(Servico, UnderSystemdItSaysWhenItIsReadyFeedsTheWatchdogAndLogsWithPriorities) {
  Relogios r("systemd", 2);
  const std::string banco = NovoSqlite("systemd");
  const std::string caminho = Temporario("notify.sock");
  std::remove(caminho.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_un endereco{};
  endereco.sun_family = AF_UNIX;
  std::snprintf(endereco.sun_path, sizeof endereco.sun_path, "%s", caminho.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco), 0);
  std::vector<std::string> recebidas;
  const auto recebe = [&] {
    char buffer[256];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
      recebidas.emplace_back(buffer, static_cast<size_t>(n));
    return recebidas;
  };
  const auto conta = [&](const std::string& m) {
    const auto v = recebe();
    return static_cast<size_t>(std::count(v.begin(), v.end(), m));
  };
  Processo s(PONTO_BINARIO,
             {"servico", "--banco", banco, "--relogios", r.Arquivo(), "--coletor", "unidade"},
             Temporario("servico_systemd"),
             {{"NOTIFY_SOCKET", caminho}, {"WATCHDOG_USEC", "1000000"}, {"JOURNAL_STREAM", "8:1"}});
  ASSERT_TRUE(EsperaAte([&] { return conta("READY=1") == 1; })) << s.Erros();
  // Ready only after the clocks it took were reconciled.
  EXPECT_NE(s.Erros().find("coleta incremental"), std::string::npos) << s.Erros();
  ASSERT_TRUE(EsperaAte([&] { return conta("WATCHDOG=1") >= 3; })) << s.Erros();
  s.Sinaliza(SIGTERM);
  EXPECT_EQ(s.Espera(), 0) << s.Erros();
  EXPECT_EQ(conta("STOPPING=1"), 1u);
  EXPECT_EQ(conta("READY=1"), 1u);
  ::close(fd);
  // journald's "<N>" at the start of every line, no timestamp of our own.
  std::istringstream linhas(s.Erros());
  size_t informativas = 0;
  for (std::string linha; std::getline(linhas, linha);) {
    ASSERT_TRUE(linha.size() > 3 && linha[0] == '<' && linha[2] == '>') << linha;
    informativas += linha.rfind("<6>info ", 0) == 0;
  }
  EXPECT_GT(informativas, 0u);
}

// SQLite held by another program past the service's busy timeout is an outage like any other:
// logged once, waited out, and nothing lost.
TEST(Servico, ASqliteStoreLockedByAnotherProgramIsWaitedOutAndNothingIsLost) {
  Relogios r("travado", 2);
  const std::string banco = NovoSqlite("travado");
  auto s = Servico(banco, r, "unico", kRapido);
  ASSERT_TRUE(EsperaAte([&] { return NoLog(*s, "pronto: primeira"); })) << s->Erros();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(banco.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_TRUE(EsperaAte([&] { return NoLog(*s, "banco de dados inacessível"); })) << s->Erros();
  ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  ASSERT_TRUE(EsperaAte([&] { return NoLog(*s, "banco de dados de volta"); })) << s->Erros();
  r.Aquieta();
  ASSERT_TRUE(EsperaAte([&] { return r.Iguais(*armazem::Armazem::Abre(banco, "teste")); }))
      << s->Erros();
  s->Sinaliza(SIGTERM);
  EXPECT_EQ(s->Espera(), 0) << s->Erros();
  r.ConfereCom(*armazem::Armazem::Abre(banco, "teste"));
  EXPECT_EQ(Ocorrencias(s->Erros(), "banco de dados inacessível"), 1u) << s->Erros();
}

// ---- Clocks shared among services -------------------------------------------------------------

TEST(Servico, ThreeServicesShareNineClocksEvenlyOnPostgresAndTheRestTakeOverAKilledOne) {
  std::string motivo;
  auto* pg = Postgres::Instancia(&motivo);
  if (!pg) GTEST_SKIP() << "PostgreSQL indisponível: " << motivo;
  const std::string banco = pg->NovoBanco("partilha");
  ASSERT_FALSE(banco.empty());
  Relogios r("partilha", 9);
  Vigia vigia(r);
  std::map<std::string, std::unique_ptr<Processo>> servicos;
  servicos["a"] = Servico(banco, r, "a", kRapido);
  ASSERT_TRUE(vigia.Espera([&] { return Donos(banco).size() == 9; })) << servicos["a"]->Erros();

  const auto iguais = [&](std::set<std::string> nomes, size_t cada) {
    const auto n = PorColetor(Donos(banco));
    if (n.size() != nomes.size()) return false;
    for (const auto& [nome, quantos] : n)
      if (!nomes.count(nome) || quantos != cada) return false;
    return true;
  };
  auto inicio = std::chrono::steady_clock::now();
  servicos["b"] = Servico(banco, r, "b", kRapido);
  servicos["c"] = Servico(banco, r, "c", kRapido);
  ASSERT_TRUE(vigia.Espera([&] { return iguais({"a", "b", "c"}, 3); })) << Donos(banco).size();
  std::cout << "[ medida ] 9 relógios divididos 3/3/3 " << Segundos(inicio)
            << " s depois de b e c iniciarem (arrendamento de 6 s)\n";

  servicos["b"]->Sinaliza(SIGKILL);
  servicos["b"]->Espera();
  inicio = std::chrono::steady_clock::now();
  ASSERT_TRUE(vigia.Espera([&] {
    const auto d = Donos(banco);
    const auto n = PorColetor(d);
    return d.size() == 9 && n.size() == 2 && n.count("a") && n.count("c") && n.at("a") <= 5 &&
           n.at("c") <= 5;
  }));
  std::cout << "[ medida ] os relógios de b assumidos por a e c " << Segundos(inicio)
            << " s depois do SIGKILL\n";

  inicio = std::chrono::steady_clock::now();
  servicos["d"] = Servico(banco, r, "d", kRapido);
  ASSERT_TRUE(vigia.Espera([&] { return iguais({"a", "c", "d"}, 3); }));
  std::cout << "[ medida ] d recebeu sua parte " << Segundos(inicio) << " s depois de iniciar\n";
  // Links counted while the clocks were shared out and taken over; the quiet restart below
  // and its status probes are not part of it.
  const int maisLinks = vigia.MaisLinksNumRelogio();

  r.Aquieta();
  ASSERT_TRUE(vigia.Espera([&] { return r.Iguais(*armazem::Armazem::Abre(banco, "teste")); }));
  for (const char* nome : {"a", "c", "d"}) {
    servicos[nome]->Sinaliza(SIGTERM);
    EXPECT_EQ(servicos[nome]->Espera(), 0) << servicos[nome]->Erros();
  }
  r.ConfereCom(*armazem::Armazem::Abre(banco, "teste"));
  EXPECT_LE(maisLinks, 1) << "um relógio teve dois links ao mesmo tempo: " << vigia.Quando() << "\n"
                          << vigia.Historico({{"a", servicos["a"].get()},
                                              {"b", servicos["b"].get()},
                                              {"c", servicos["c"].get()},
                                              {"d", servicos["d"].get()}});
  // The services saw each other and the store kept their names until each took its leave.
  EXPECT_NE(servicos["a"]->Erros().find("deixado para outro coletor"), std::string::npos);
  const auto estado = LeEstado(banco);
  EXPECT_NE(estado.erros.find("Coletor b parado"), std::string::npos) << estado.erros;
}

// Leases are renewed every third of their period, so a holder's lease never runs low: a
// service below its share, which looks at a lease again the moment it runs out, never finds
// its neighbour's lapsed while both live.
TEST(Servico, LeasesOfLiveServicesAreRenewedLongBeforeTheyRunOut) {
  Relogios r("renovacao", 3);
  const std::string banco = NovoSqlite("renovacao");
  auto a = Servico(banco, r, "a", kRapido);
  ASSERT_TRUE(EsperaAte([&] { return Donos(banco).size() == 3; })) << a->Erros();
  auto b = Servico(banco, r, "b", kRapido);
  // Three clocks, two services: two and one, and it stays so.
  ASSERT_TRUE(EsperaAte([&] {
    const auto n = PorColetor(Donos(banco));
    return n.size() == 2 && n.count("a") && n.count("b");
  })) << b->Erros();
  const auto donos = Donos(banco);
  const size_t assumidos = Ocorrencias(a->Erros() + b->Erros(), "assumido por este coletor");
  // Two lease periods with both alive: every sample sees the same holders, each lease with
  // more than a third of its 6 s left (renewed every 2 s, with 2 s to spare for a busy machine).
  const auto fim = std::chrono::steady_clock::now() + 12s;
  int amostras = 0, mudancas = 0;
  double menor = 6;
  while (std::chrono::steady_clock::now() < fim) {
    std::map<int16_t, std::string> agora;
    for (const auto& e : armazem::Armazem::Abre(banco, "teste")->Estados(false))
      if (e.ArrendamentoVivo()) {
        agora[e.relogio] = e.arrendadoPor;
        menor = std::min(menor, e.segundosRestantes);
      }
    mudancas += agora != donos ? 1 : 0;
    ++amostras;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_GT(amostras, 10);
  EXPECT_EQ(mudancas, 0) << a->Erros() << b->Erros();
  EXPECT_GT(menor, 2.0);
  EXPECT_EQ(Ocorrencias(a->Erros() + b->Erros(), "assumido por este coletor"), assumidos);
  EXPECT_EQ(Ocorrencias(a->Erros() + b->Erros(), "arrendado por outro coletor"), 0u);
  for (auto* s : {a.get(), b.get()}) {
    s->Sinaliza(SIGTERM);
    EXPECT_EQ(s->Espera(), 0) << s->Erros();
  }
}

// ---- The store comes and goes -----------------------------------------------------------------

TEST(Servico, APostgresRestartUnderTwoServicesLosesNothingAndStoresNothingTwice) {
  std::string motivo;
  auto* pg = Postgres::Instancia(&motivo);
  if (!pg) GTEST_SKIP() << "PostgreSQL indisponível: " << motivo;
  const std::string banco = pg->NovoBanco("reinicio");
  ASSERT_FALSE(banco.empty());
  Relogios r("reinicio", 4);
  Vigia vigia(r);
  auto a = Servico(banco, r, "a", kRapido);
  auto b = Servico(banco, r, "b", kRapido);
  ASSERT_TRUE(vigia.Espera([&] {
    return NoLog(*a, "pronto: primeira") && NoLog(*b, "pronto: primeira") &&
           PorColetor(Donos(banco)) == std::map<std::string, size_t>{{"a", 2}, {"b", 2}};
  })) << a->Erros()
      << b->Erros();

  ASSERT_TRUE(pg->Para());
  // Each service notices, once, and stops using its clocks before its leases could run out.
  ASSERT_TRUE(vigia.Espera([&] {
    return NoLog(*a, "coleta suspensa", 2) && NoLog(*b, "coleta suspensa", 2);
  })) << a->Erros()
      << b->Erros();
  EXPECT_EQ(Ocorrencias(a->Erros(), "banco de dados inacessível"), 1u) << a->Erros();
  // The clocks go on recording meanwhile; the services fetch it all once the store is back.
  ASSERT_TRUE(pg->Retoma());
  const auto volta = std::chrono::steady_clock::now();
  const auto gravadas = [&] { return armazem::Armazem::Abre(banco, "teste")->Conta({}); };
  const size_t naVolta = gravadas();
  ASSERT_TRUE(vigia.Espera([&] { return gravadas() > naVolta; }));
  std::cout << "[ medida ] primeira marcação gravada " << Segundos(volta)
            << " s depois de o PostgreSQL voltar\n";
  ASSERT_TRUE(vigia.Espera([&] { return Donos(banco).size() == 4; }));
  std::cout << "[ medida ] arrendamentos de volta " << Segundos(volta) << " s depois\n";
  ASSERT_TRUE(vigia.Espera([&] {
    return NoLog(*a, "banco de dados de volta") && NoLog(*b, "banco de dados de volta");
  })) << a->Erros();

  // A connection cut by the server itself is reopened the same way.
  ASSERT_TRUE(pg->Sql("reinicio",
                      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                      "'reinicio' AND pid <> pg_backend_pid()"));
  ASSERT_TRUE(vigia.Espera([&] {
    return NoLog(*a, "banco de dados de volta", 2) && NoLog(*b, "banco de dados de volta", 2);
  })) << a->Erros()
      << b->Erros();
  // Links counted through the outages; the quiet restart below and the comparison's own reads
  // of the clocks are not part of it.
  const int maisLinks = vigia.MaisLinksNumRelogio();

  r.Aquieta();
  ASSERT_TRUE(vigia.Espera([&] { return r.Iguais(*armazem::Armazem::Abre(banco, "teste")); }))
      << a->Erros() << b->Erros();
  a->Sinaliza(SIGTERM);
  b->Sinaliza(SIGTERM);
  EXPECT_EQ(a->Espera(), 0) << a->Erros();
  EXPECT_EQ(b->Espera(), 0) << b->Erros();
  r.ConfereCom(*armazem::Armazem::Abre(banco, "teste"));
  EXPECT_LE(maisLinks, 1) << "um relógio teve dois links ao mesmo tempo: " << vigia.Quando() << "\n"
                          << vigia.Historico({{"a", a.get()}, {"b", b.get()}});
  // One line per event: libpq's multi-line messages are folded.
  for (const auto* p : {a.get(), b.get()}) {
    std::istringstream linhas(p->Erros());
    for (std::string linha; std::getline(linhas, linha);)
      EXPECT_TRUE(linha.rfind("20", 0) == 0) << "linha sem data: " << linha;
  }
}

}  // namespace
}  // namespace quorvel
