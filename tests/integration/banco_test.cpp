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

#include "afd/afd.h"
#include "store/armazem.h"
#include "support/coleta_processo.h"
#include "support/daemon.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using namespace teste;

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

// A register collection stores each run as it reads it: killed while the clock is still being
// read (the daemon, slowed, has been asked for the tenth run of its log), the store already
// holds what was read before, and the next collection goes on after it instead of from the
// start. Once, nothing was written until the whole clock had been read.
TEST(ColetaNoBanco, ARegisterCollectionKilledWhileReadingKeepsWhatItReadAndGoesOnFromThere) {
  const std::string registro = Temporario("lendo.log");
  std::remove(registro.c_str());
  Daemon d({"--relogio", "codigo=1,porta=0,modelo=tarvenix,capacidade=400000", "--semear", "200000",
            "--atraso", "20", "--detalhar"},
           1, registro);
  const auto relogio = Rede(d.Porta(0), "tarvenix");
  const std::string banco = NovoSqlite("lendo");
  auto coleta = relogio;
  coleta.insert(coleta.begin(), "coletar");
  coleta.insert(coleta.end(), {"--banco", banco, "--formato", "json"});
  auto pedidos = [&] { return Ocorrencias(LeArquivo(registro), "pedido log de registros"); };
  size_t antes = 0;
  for (int corrida = 0; corrida < 2; ++corrida) {
    const size_t ja = pedidos();
    Processo p(PONTO_BINARIO, coleta, Temporario("lendo_morta"));
    // Runs of 4,096 records: by the tenth request at least eight were handed over, and every
    // 10,000 of them were stored before the reading went on.
    ASSERT_TRUE(EsperaAte([&] { return pedidos() >= ja + 10; })) << LeArquivo(registro);
    p.Sinaliza(SIGKILL);
    p.Espera();
    const size_t agora = armazem::Armazem::Abre(banco, "teste")->Conta({});
    EXPECT_GE(agora, antes + 10000) << "corrida " << corrida;
    antes = agora;
  }
  ASSERT_LT(antes, 200000u);
  const auto completa = Ponto(coleta, "lendo_completa");
  ASSERT_EQ(completa.codigo, 0) << completa.err;
  // The last run read only what the killed ones had not stored.
  const auto j = nlohmann::json::parse(completa.out);
  EXPECT_EQ(j[0].at("lidas").get<size_t>(), 200000u - antes);
  auto b = armazem::Armazem::Abre(banco, "teste");
  std::set<int64_t> nsrs;
  b->Percorre({}, [&](const auto& m) { nsrs.insert(m.nsr); });
  EXPECT_EQ(b->Conta({}), 200000u);
  EXPECT_EQ(nsrs.size(), 200000u);
  EXPECT_EQ(*nsrs.begin(), 1);
  EXPECT_EQ(*nsrs.rbegin(), 200000);
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
    apaga.push_back("--sim");
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
  const auto recusada =
      Ponto({"exportar", "afd", "--banco", outro, "--saida", afd2, "--rascunho"}, "recusada");
  EXPECT_EQ(recusada.codigo, 1);
  EXPECT_NE(recusada.err.find("sem CPF conhecido"), std::string::npos) << recusada.err;
  EXPECT_NE(recusada.err.find("PIS 12034567899"), std::string::npos) << recusada.err;
  EXPECT_FALSE(std::ifstream(afd2).good());
  const auto omitida = Ponto(
      {"exportar", "afd", "--banco", outro, "--saida", afd2, "--omitir-sem-cpf", "--rascunho"},
      "omitida");
  EXPECT_EQ(omitida.codigo, 0) << omitida.err;
  EXPECT_NE(omitida.err.find("omitidas"), std::string::npos) << omitida.err;
}

}  // namespace
}  // namespace quorvel
