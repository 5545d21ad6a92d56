// The punch store at process level: ponto against relogio-virtual, collections killed and run
// again, two collector services sharing PostgreSQL with one of them killed, the fiscal export
// of what was collected. The store is compared with what the clocks hold.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "store/afd.h"
#include "store/armazem.h"
#include "support/daemon.h"
#include "support/postgres.h"
#include "support/processo.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using teste::Daemon;
using teste::Processo;

std::string Temporario(const std::string& nome) {
  return ::testing::TempDir() + "banco_" + std::to_string(::getpid()) + "_" + nome;
}

std::string NovoSqlite(const std::string& nome) {
  const std::string c = Temporario(nome + ".db");
  for (const char* s : {"", "-wal", "-shm"}) std::remove((c + s).c_str());
  return c;
}

struct Saida {
  int codigo;
  std::string out, err;
};

Saida Ponto(const std::vector<std::string>& args, const std::string& nome) {
  Processo p(PONTO_BINARIO, args, Temporario(nome));
  const int codigo = p.Espera();
  return {codigo, p.Saida(), p.Erros()};
}

// How many punches the clock holds now (status, "marcacoes").
int64_t NoRelogio(const std::vector<std::string>& relogio) {
  auto args = relogio;
  args.insert(args.begin(), "status");
  args.insert(args.end(), {"--formato", "json"});
  const auto s = Ponto(args, "status");
  const auto j = nlohmann::json::parse(s.out, nullptr, false);
  if (j.is_discarded() || j.empty()) return -1;
  return j[0].at("marcacoes").get<int64_t>();
}

std::vector<std::string> Rede(int porta, const char* modelo, int codigo = 1) {
  return {"--relogio", std::to_string(codigo),
          "--ip",      "127.0.0.1:" + std::to_string(porta),
          "--modelo",  modelo};
}

TEST(ColetaNoBanco, KilledMidBatchThenRunAgainStoresEveryPunchOnceAndThenOnlyWhatIsNew) {
  for (const char* modelo : {"tarvenix", "quorvel"}) {
    SCOPED_TRACE(modelo);
    const bool registro = std::string(modelo) == "tarvenix";
    // Seeded in one burst: the fingerprint punches share cards and seconds by the thousand, so
    // their order within a second is what tells them apart.
    Daemon d(
        {"--relogio", std::string("codigo=1,porta=0,exemplo,capacidade=400000,modelo=") + modelo,
         "--semear", "150000"},
        1);
    const auto relogio = Rede(d.Porta(0), modelo);
    const std::string banco = NovoSqlite(std::string("mata_") + modelo);
    auto coleta = relogio;
    coleta.insert(coleta.begin(), "coletar");
    coleta.insert(coleta.end(), {"--banco", banco, "--formato", "json"});
    for (int ms : {150, 400, 700}) {
      Processo p(PONTO_BINARIO, coleta, Temporario("morta"));
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      p.Sinaliza(SIGKILL);
      p.Espera();
    }
    const auto total = NoRelogio(relogio);
    ASSERT_GT(total, 150000);
    const auto completa = Ponto(coleta, "completa");
    ASSERT_EQ(completa.codigo, 0) << completa.err;
    auto banco_ = armazem::Armazem::Abre(banco, "teste");
    EXPECT_EQ(banco_->Conta({}), static_cast<size_t>(total));
    if (registro) {
      std::set<int64_t> nsrs;
      banco_->Percorre({}, [&](const auto& m) { nsrs.insert(m.nsr); });
      EXPECT_EQ(nsrs.size(), static_cast<size_t>(total));
      EXPECT_EQ(*nsrs.begin(), 1);
      EXPECT_EQ(*nsrs.rbegin(), total);
    }

    // Nothing new: nothing read from a register clock, nothing stored from either.
    const auto de_novo = Ponto(coleta, "de_novo");
    ASSERT_EQ(de_novo.codigo, 0) << de_novo.err;
    const auto j = nlohmann::json::parse(de_novo.out);
    EXPECT_EQ(j[0].at("novas"), 0);
    if (registro) {
      EXPECT_EQ(j[0].at("lidas"), 0);
    }
  }
}

// A fingerprint log erased and refilled past the stored position is another log: the stored
// position is not trusted once the punch it stands after is gone, so every new punch is stored.
TEST(ColetaNoBanco, AFingerprintLogErasedAndRefilledPastTheStoredPositionIsStoredWhole) {
  const std::string diario = Temporario("apagado.jsonl");
  std::remove(diario.c_str());
  const std::string banco = NovoSqlite("apagado");
  const auto coleta = [&](const std::vector<std::string>& relogio) {
    auto args = relogio;
    args.insert(args.begin(), "coletar");
    args.insert(args.end(), {"--banco", banco, "--formato", "json"});
    const auto r = Ponto(args, "coleta_apagado");
    EXPECT_EQ(r.codigo, 0) << r.err;
    return r;
  };
  {
    Daemon d({"--relogio", "codigo=1,porta=0,modelo=quorvel,dados=" + diario, "--semear", "195"},
             1);
    const auto relogio = Rede(d.Porta(0), "quorvel");
    coleta(relogio);
    auto apaga = relogio;
    apaga.insert(apaga.begin(), "apagar-marcacoes");
    const auto apagou = Ponto(apaga, "apaga");
    ASSERT_EQ(apagou.codigo, 0) << apagou.err;
  }
  // 200 new punches, an hour later by the clock, so none shares a second with the old ones.
  Daemon d({"--relogio", "codigo=1,porta=0,modelo=quorvel,desvio=3600,dados=" + diario, "--semear",
            "200"},
           1);
  const auto relogio = Rede(d.Porta(0), "quorvel");
  ASSERT_EQ(NoRelogio(relogio), 200);
  const auto r = coleta(relogio);
  const auto j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << r.out;
  EXPECT_EQ(j[0].at("novas"), 200);
  EXPECT_NE(r.err.find("foram apagadas desde a última coleta"), std::string::npos) << r.err;
  auto lido = armazem::Armazem::Abre(banco, "teste");
  EXPECT_EQ(lido->Conta({}), 395u);
  // Read again: the same log now, nothing new and nothing twice.
  const auto de_novo = coleta(relogio);
  EXPECT_EQ(nlohmann::json::parse(de_novo.out)[0].at("novas"), 0);
  EXPECT_EQ(de_novo.err.find("apagadas"), std::string::npos) << de_novo.err;
  EXPECT_EQ(lido->Conta({}), 395u);
}

TEST(ColetaNoBanco, OnlyNewPunchesAreReadFromTheRegisterClockAndTheAfdCarriesTheirCpf) {
  const std::string diario = Temporario("afd.jsonl");
  std::remove(diario.c_str());
  const std::string espec = "codigo=1,porta=0,exemplo,modelo=tarvenix,dados=" + diario;
  std::optional<Daemon> d;
  d.emplace(std::vector<std::string>{"--relogio", espec}, 1);
  const std::string banco = NovoSqlite("afd");
  auto relogio = Rede(d->Porta(0), "tarvenix");
  auto coleta = relogio;
  coleta.insert(coleta.begin(), "coletar");
  coleta.insert(coleta.end(), {"--banco", banco, "--formato", "json"});
  const auto primeira = Ponto(coleta, "primeira");
  ASSERT_EQ(primeira.codigo, 0) << primeira.err;
  const int64_t antes = NoRelogio(relogio);

  // New punches arrive (the daemon restarted from its journal, generating for a while).
  d.reset();
  d.emplace(std::vector<std::string>{"--relogio", espec, "--marcacoes-por-minuto", "1200"}, 1);
  relogio = Rede(d->Porta(0), "tarvenix");
  coleta = relogio;
  coleta.insert(coleta.begin(), "coletar");
  coleta.insert(coleta.end(), {"--banco", banco, "--formato", "json"});
  std::this_thread::sleep_for(1500ms);
  d.reset();
  d.emplace(std::vector<std::string>{"--relogio", espec}, 1);
  relogio = Rede(d->Porta(0), "tarvenix");
  coleta = relogio;
  coleta.insert(coleta.begin(), "coletar");
  coleta.insert(coleta.end(), {"--banco", banco, "--formato", "json"});
  const int64_t depois = NoRelogio(relogio);
  ASSERT_GT(depois, antes);
  const auto segunda = Ponto(coleta, "segunda");
  ASSERT_EQ(segunda.codigo, 0) << segunda.err;
  const auto j = nlohmann::json::parse(segunda.out);
  EXPECT_EQ(j[0].at("lidas"), depois - antes);
  EXPECT_EQ(j[0].at("novas"), depois - antes);

  // The fiscal file: one type-3 line per punch, each CRC right, the trailer counting them.
  const std::string afd = Temporario("saida.afd");
  const auto exp = Ponto(
      {"exportar", "afd", "--banco", banco, "--saida", afd, "--fuso", "-0300", "--razao-social",
       "Empresa Exemplo", "--empregador-documento", "12345678000195", "--fabricacao",
       "00004000010000123", "--fabricante-documento", "98765432000198", "--modelo-rep", "T1"},
      "afd");
  ASSERT_EQ(exp.codigo, 0) << exp.err;
  std::ifstream in(afd, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string texto = ss.str();
  std::vector<std::string> linhas;
  for (size_t p; (p = texto.find("\r\n")) != std::string::npos; texto.erase(0, p + 2))
    linhas.push_back(texto.substr(0, p));
  ASSERT_EQ(static_cast<int64_t>(linhas.size()), depois + 2);
  EXPECT_EQ(linhas[0].size(), 302u);
  int64_t nsr = 0;
  for (size_t i = 1; i + 1 < linhas.size(); ++i) {
    const std::string& l = linhas[i];
    ASSERT_EQ(l.size(), 50u) << l;
    EXPECT_EQ(std::stoll(l.substr(0, 9)), ++nsr);
    EXPECT_EQ(l[9], '3');
    EXPECT_EQ(l.substr(29, 5), "-0300");
    EXPECT_EQ(l[45], ' ');
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", afd::Crc16Kermit(l.substr(0, 46)));
    EXPECT_EQ(l.substr(46), crc);
  }
  EXPECT_EQ(std::stoll(linhas.back().substr(18, 9)), depois);

  // An employee removed from the clock before their punches were collected: no CPF is known
  // for them, and no file is written unless they are left out on purpose.
  auto exclui = relogio;
  exclui.insert(exclui.begin(), {"funcionarios", "excluir"});
  exclui.insert(exclui.end(), {"--codigo", "1"});
  ASSERT_EQ(Ponto(exclui, "exclui").codigo, 0);
  const std::string outro = NovoSqlite("afd_sem_cpf");
  auto coleta2 = relogio;
  coleta2.insert(coleta2.begin(), "coletar");
  coleta2.insert(coleta2.end(), {"--banco", outro});
  ASSERT_EQ(Ponto(coleta2, "coleta_sem_cpf").codigo, 0);
  const std::string afd2 = Temporario("sem_cpf.afd");
  std::remove(afd2.c_str());
  const auto recusada = Ponto({"exportar", "afd", "--banco", outro, "--saida", afd2}, "recusada");
  EXPECT_EQ(recusada.codigo, 1);
  EXPECT_NE(recusada.err.find("sem CPF conhecido"), std::string::npos) << recusada.err;
  EXPECT_NE(recusada.err.find("PIS 12034567899"), std::string::npos) << recusada.err;
  EXPECT_FALSE(std::ifstream(afd2).good());
  const auto omitida =
      Ponto({"exportar", "afd", "--banco", outro, "--saida", afd2, "--omitir-sem-cpf"}, "omitida");
  EXPECT_EQ(omitida.codigo, 0) << omitida.err;
  EXPECT_NE(omitida.err.find("omitidas"), std::string::npos) << omitida.err;
}

// ---- The collector service ------------------------------------------------------------------

// Clocks 1..n (odd: fingerprint, even: register) in one daemon, each with a journal, so the
// daemon can be stopped and served again quiet — same state, same ports — for the comparison.
class Relogios {
 public:
  Relogios(const std::string& nome, int n) : nome_(nome), n_(n) {
    Inicia(true, std::vector<int>(static_cast<size_t>(n), 0));
    for (int i = 0; i < n; ++i) portas_.push_back(d_->Porta(static_cast<size_t>(i)));
  }
  // Stops generating: the daemon is restarted from its journals on the same ports.
  void Aquieta() {
    d_.reset();
    Inicia(false, portas_);
  }
  std::string Arquivo() const {
    const std::string caminho = Temporario(nome_ + "_relogios.txt");
    std::ofstream f(caminho);
    for (int i = 1; i <= n_; ++i)
      f << i << ";127.0.0.1:" << portas_[static_cast<size_t>(i - 1)] << ";" << Modelo(i) << "\n";
    return caminho;
  }
  // Every clock's punches are in the store, each once.
  void ConfereCom(armazem::Armazem& banco) const {
    for (int i = 1; i <= n_; ++i) {
      const auto total = NoRelogio(Rede(portas_[static_cast<size_t>(i - 1)], Modelo(i), i));
      armazem::Filtro f;
      f.relogio = static_cast<int16_t>(i);
      EXPECT_EQ(static_cast<int64_t>(banco.Conta(f)), total) << "relógio " << i;
      EXPECT_GT(total, 0);
    }
  }

 private:
  static const char* Modelo(int i) { return i % 2 == 0 ? "tarvenix" : "quorvel"; }
  void Inicia(bool gerando, const std::vector<int>& portas) {
    std::vector<std::string> args;
    if (gerando) args = {"--marcacoes-por-minuto", "300"};
    for (int i = 1; i <= n_; ++i) {
      const std::string diario = Temporario(nome_ + "_" + std::to_string(i) + ".jsonl");
      if (gerando) std::remove(diario.c_str());
      args.insert(args.end(),
                  {"--relogio", "codigo=" + std::to_string(i) +
                                    ",porta=" + std::to_string(portas[static_cast<size_t>(i - 1)]) +
                                    ",exemplo,modelo=" + Modelo(i) + ",dados=" + diario});
    }
    d_.emplace(args, static_cast<size_t>(n_));
  }
  std::string nome_;
  int n_;
  std::vector<int> portas_;
  std::optional<Daemon> d_;
};

std::unique_ptr<Processo> Servico(const std::string& banco, const Relogios& r, const char* nome,
                                  std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"servico",   "--banco",   banco, "--relogios",
                                   r.Arquivo(), "--coletor", nome};
  args.insert(args.end(), extra.begin(), extra.end());
  return std::make_unique<Processo>(PONTO_BINARIO, args,
                                    Temporario(std::string("servico_") + nome));
}

TEST(Servico, OnSqliteKeepsTheStoreCurrentReportsItsStateAndStopsCleanlyOnSigterm) {
  Relogios r("sqlite", 2);
  const std::string banco = NovoSqlite("servico");
  auto s = Servico(banco, r, "unico", {"--reconciliar-a-cada", "2"});
  std::this_thread::sleep_for(4000ms);
  r.Aquieta();  // the service's links drop; it reconnects and reconciles
  std::this_thread::sleep_for(6000ms);
  s->Sinaliza(SIGTERM);
  EXPECT_EQ(s->Espera(), 0) << s->Erros();
  const std::string log = s->Erros();
  EXPECT_NE(log.find("serviço encerrado"), std::string::npos) << log;
  EXPECT_NE(log.find("(monitoração)"), std::string::npos) << log;
  EXPECT_NE(log.find("conexão restabelecida"), std::string::npos) << log;
  r.ConfereCom(*armazem::Armazem::Abre(banco, "teste"));

  const auto estado =
      Ponto({"servico", "--estado", "--banco", banco, "--formato", "json"}, "estado");
  ASSERT_EQ(estado.codigo, 0) << estado.err;
  const auto j = nlohmann::json::parse(estado.out);
  ASSERT_EQ(j.size(), 2u);
  EXPECT_EQ(j[0].at("coletor"), "unico");
  EXPECT_EQ(j[0].at("conectado"), "não");           // it said so when it stopped
  EXPECT_TRUE(j[0].at("arrendado_por").is_null());  // and gave its leases up
}

TEST(Servico, TwoServicesShareFiveClocksOnPostgresAndTheSurvivorTakesOverAKilledOnesClocks) {
  std::string motivo;
  auto* pg = teste::Postgres::Instancia(&motivo);
  if (!pg) GTEST_SKIP() << "PostgreSQL indisponível: " << motivo;
  const std::string banco = pg->NovoBanco("servicos");
  ASSERT_FALSE(banco.empty());
  Relogios r("pg", 5);
  const std::vector<std::string> rapido = {"--arrendamento", "6", "--reconciliar-a-cada", "3"};
  auto a = Servico(banco, r, "a", rapido);
  std::this_thread::sleep_for(1500ms);  // a takes every clock first
  auto b = Servico(banco, r, "b", rapido);
  std::this_thread::sleep_for(3000ms);

  auto donos = [&] {
    std::map<int16_t, std::string> d;
    for (const auto& e : armazem::Armazem::Abre(banco, "teste")->Estados())
      if (!e.arrendadoPor.empty() && e.segundosRestantes > 0) d[e.relogio] = e.arrendadoPor;
    return d;
  };
  const auto antes = donos();
  ASSERT_EQ(antes.size(), 5u);
  for (const auto& [relogio, dono] : antes) EXPECT_EQ(dono, "a") << "relógio " << relogio;

  a->Sinaliza(SIGKILL);
  a->Espera();
  const auto morte = std::chrono::steady_clock::now();
  std::map<int16_t, std::string> depois;
  while (std::chrono::steady_clock::now() - morte < 30s) {
    depois = donos();
    if (depois.size() == 5 &&
        std::all_of(depois.begin(), depois.end(), [](const auto& p) { return p.second == "b"; }))
      break;
    std::this_thread::sleep_for(100ms);
  }
  const auto assumiu = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - morte);
  ASSERT_EQ(depois.size(), 5u);
  for (const auto& [relogio, dono] : depois) EXPECT_EQ(dono, "b") << "relógio " << relogio;
  std::cout << "[ medida ] b assumiu os 5 relógios " << assumiu.count()
            << " ms depois do SIGKILL de a\n";

  // The clocks go quiet; b reconnects, reconciles, and the store equals the clocks.
  std::this_thread::sleep_for(2000ms);
  r.Aquieta();
  std::this_thread::sleep_for(8000ms);
  b->Sinaliza(SIGTERM);
  EXPECT_EQ(b->Espera(), 0) << b->Erros();
  r.ConfereCom(*armazem::Armazem::Abre(banco, "teste"));
  EXPECT_NE(b->Erros().find("assumido por este coletor"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
