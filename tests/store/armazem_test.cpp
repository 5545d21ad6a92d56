// The punch store, the same cases against SQLite and against a real PostgreSQL server.
#include "store/armazem.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

#include "quorvel/erro.h"
#include "support/postgres.h"
#include "support/sqlite_recusa.h"

namespace quorvel::armazem {
namespace {

using namespace std::chrono_literals;

MarcacaoArmazenada Registro(int16_t relogio, int64_t nsr, const char* quando,
                            const char* pis = "12345678900") {
  MarcacaoArmazenada m;
  m.relogio = relogio;
  m.modelo = EModeloRelogio_Tarvenix;
  m.nsr = nsr;
  m.momento = DataHora::DeTexto(quando);
  m.pis = pis;
  return m;
}

MarcacaoArmazenada Digital(int16_t relogio, int32_t cartao, const char* quando, int32_t ordem) {
  MarcacaoArmazenada m;
  m.relogio = relogio;
  m.cartao = cartao;
  m.momento = DataHora::DeTexto(quando);
  m.ordem = ordem;
  m.porDigital = true;
  return m;
}

class ArmazemTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string nome = std::string(info->name());
    for (auto& c : nome) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    if (GetParam() == "sqlite") {
      endereco_ =
          ::testing::TempDir() + "armazem_" + std::to_string(::getpid()) + "_" + nome + ".db";
      for (const char* sufixo : {"", "-wal", "-shm"}) std::filesystem::remove(endereco_ + sufixo);
    } else {
      std::string motivo;
      auto* pg = teste::Postgres::Instancia(&motivo);
      if (!pg) GTEST_SKIP() << "PostgreSQL indisponível: " << motivo;
      nome = "t" + std::to_string(std::hash<std::string>{}(nome) % 100000000);
      banco_ = nome;
      endereco_ = pg->NovoBanco(nome);
      ASSERT_FALSE(endereco_.empty()) << "createdb falhou";
    }
  }
  std::unique_ptr<Armazem> Abre(const std::string& coletor = "coletor-a") {
    return Armazem::Abre(endereco_, coletor);
  }
  // Runs SQL on the store's database behind the store's back.
  void Sql(const std::string& comandos) {
    if (GetParam() == "sqlite") {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(endereco_.c_str(), &db), SQLITE_OK);
      char* erro = nullptr;
      const int rc = sqlite3_exec(db, comandos.c_str(), nullptr, nullptr, &erro);
      const std::string texto = erro ? erro : "";
      sqlite3_free(erro);
      sqlite3_close(db);
      ASSERT_EQ(rc, SQLITE_OK) << texto;
    } else {
      ASSERT_TRUE(teste::Postgres::Instancia()->Sql(banco_, comandos)) << comandos;
    }
  }
  std::string endereco_;
  std::string banco_;  // PostgreSQL: the database's name
};

TEST_P(ArmazemTest, APunchIsStoredOnceByItsIdentityWhateverTheBatchesRepeat) {
  auto a = Abre();
  EXPECT_EQ(a->VersaoEsquema(), kVersaoEsquema);
  const std::vector<MarcacaoArmazenada> registros = {Registro(1, 1, "2024-05-06 08:00:00"),
                                                     Registro(1, 2, "2024-05-06 12:00:00")};
  // The same card twice in one second: two punches, told apart by their order.
  const std::vector<MarcacaoArmazenada> digitais = {Digital(2, 7, "2024-05-06 08:00:00", 0),
                                                    Digital(2, 7, "2024-05-06 08:00:00", 1)};
  EXPECT_EQ(a->Grava(1, registros, Cursor{2, 2, ""}), 2u);
  EXPECT_EQ(a->Grava(2, digitais, Cursor{0, 2, ""}), 2u);
  EXPECT_EQ(a->Grava(1, registros, Cursor{2, 2, ""}), 0u);
  EXPECT_EQ(a->Grava(2, digitais, Cursor{0, 2, ""}), 0u);
  // Register identity is clock + NSR: the same NSR with another time is the same record.
  EXPECT_EQ(
      a->Grava(1, {Registro(1, 2, "2024-05-06 12:00:01"), Registro(1, 3, "2024-05-06 13:00:00")},
               Cursor{3, 3, ""}),
      1u);
  // The same NSR on another clock is another punch.
  EXPECT_EQ(a->Grava(3, {Registro(3, 1, "2024-05-06 08:00:00")}, Cursor{1, 1, ""}), 1u);
  EXPECT_EQ(a->Conta({}), 6u);

  // A reopened store sees the same punches (the schema is not created twice).
  a.reset();
  auto b = Abre("coletor-b");
  EXPECT_EQ(b->Conta({}), 6u);
  std::vector<MarcacaoArmazenada> lidas;
  b->Percorre({}, [&](const MarcacaoArmazenada& m) { lidas.push_back(m); });
  ASSERT_EQ(lidas.size(), 6u);
  EXPECT_EQ(lidas[0].nsr, 1);
  EXPECT_EQ(lidas[0].pis, "12345678900");
  EXPECT_EQ(lidas[0].modelo, EModeloRelogio_Tarvenix);
  EXPECT_EQ(lidas[0].coletor, "coletor-a");
  EXPECT_EQ(lidas[0].recebidaEm.size(), 20u);  // aaaa-mm-ddThh:mm:ssZ
  EXPECT_EQ(lidas[2].momento, DataHora::DeTexto("2024-05-06 13:00:00"));
  EXPECT_EQ(lidas[3].cartao, 7);
  EXPECT_TRUE(lidas[3].porDigital);
  EXPECT_EQ(lidas[4].ordem, 1);
  EXPECT_EQ(lidas[5].relogio, 3);
}

TEST_P(ArmazemTest, CursorsFiltersAndEmployeesComeBackAsWritten) {
  auto a = Abre();
  EXPECT_FALSE(a->CursorDe(1));
  a->Grava(1,
           {Registro(1, 10, "2024-05-05 23:59:59"), Registro(1, 11, "2024-05-06 00:00:00"),
            Registro(1, 12, "2024-05-07 08:00:00")},
           Cursor{12, 5, ""});
  a->Grava(2, {Digital(2, 1, "2024-05-06 10:00:00", 0)}, Cursor{0, 40, ""});
  ASSERT_TRUE(a->CursorDe(1));
  EXPECT_EQ(a->CursorDe(1)->ultimoNsr, 12);
  EXPECT_EQ(a->CursorDe(1)->posicao, 5);
  EXPECT_EQ(a->CursorDe(2)->posicao, 40);
  // An empty batch still moves the cursor (a fingerprint log read with nothing new), with the
  // identity of the punch it stands after.
  const std::string identidade =
      IdentidadeDigital(7, DataHora::DeTexto("2024-05-06 10:00:00"), true);
  EXPECT_EQ(identidade, "7;2024-05-06 10:00:00;1");
  a->Grava(2, {}, Cursor{0, 41, identidade});
  EXPECT_EQ(a->CursorDe(2)->posicao, 41);
  EXPECT_EQ(a->CursorDe(2)->identidade, identidade);
  EXPECT_EQ(a->CursorDe(1)->identidade, "");

  Filtro dia6;
  dia6.de = DataHora::DeTexto("2024-05-06 00:00:00");
  dia6.ate = DataHora::DeTexto("2024-05-06 23:59:59");
  EXPECT_EQ(a->Conta(dia6), 2u);
  dia6.relogio = 1;
  EXPECT_EQ(a->Conta(dia6), 1u);
  Filtro relogio2;
  relogio2.relogio = 2;
  EXPECT_EQ(a->Conta(relogio2), 1u);

  // A reader that stops halfway (an export whose output failed) leaves the store usable.
  struct Parou {};
  EXPECT_THROW(a->Percorre({}, [](const MarcacaoArmazenada&) { throw Parou{}; }), Parou);
  EXPECT_EQ(a->Conta({}), 4u);

  a->GravaFuncionarios({{"12345678900", "11122233344", "Ana"}, {"98765432100", "", "Bia"}});
  a->GravaFuncionarios({{"98765432100", "55566677788", "Bia Souza"}});
  const auto f = a->Funcionarios();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f.at("12345678900").cpf, "11122233344");
  EXPECT_EQ(f.at("98765432100").cpf, "55566677788");
  EXPECT_EQ(f.at("98765432100").nome, "Bia Souza");
  // Every version is kept, in the order read; a read that changes nothing adds none.
  a->GravaFuncionarios({{"98765432100", "55566677788", "Bia Souza"}});
  const auto h = a->HistoricoFuncionarios();
  ASSERT_EQ(h.at("98765432100").size(), 2u);
  EXPECT_EQ(h.at("98765432100")[0].second.cpf, "");
  EXPECT_EQ(h.at("98765432100")[1].second.cpf, "55566677788");
  EXPECT_LT(h.at("98765432100")[0].first, h.at("98765432100")[1].first);
  EXPECT_EQ(h.at("12345678900").size(), 1u);

  // The employer each clock was given: the latest, even two within one second.
  EXPECT_FALSE(a->EmpregadorDe(1));
  a->GravaEmpregador({1, false, "11222333000181", "", "Padaria Antiga", "Rua A", ""});
  a->GravaEmpregador({1, true, "52998224725", "123456789012", "Padaria Nova", "Rua B", ""});
  a->GravaEmpregador({2, false, "11444777000161", "", "Outra", "", ""});
  const auto e = a->EmpregadorDe(1);
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->cpf);
  EXPECT_EQ(e->documento, "52998224725");
  EXPECT_EQ(e->cei, "123456789012");
  EXPECT_EQ(e->razaoSocial, "Padaria Nova");
  EXPECT_EQ(e->endereco, "Rua B");
  EXPECT_FALSE(e->gravadoEm.empty());
  EXPECT_EQ(a->EmpregadorDe(2)->razaoSocial, "Outra");
}

TEST_P(ArmazemTest, PagesCountsAndTheLatestStoredServeAPageThatNeverReadsTheWholeTable) {
  auto a = Abre();
  // Clock 1 (register): two employees over two days; clock 2 (fingerprint): card 7.
  std::vector<MarcacaoArmazenada> um;
  for (int i = 0; i < 25; ++i) {
    char quando[32];
    std::snprintf(quando, sizeof quando, "2024-05-06 %02d:%02d:00", 8 + i / 10, i % 10);
    um.push_back(Registro(1, i + 1, quando, i % 2 ? "11111111111" : "22222222222"));
  }
  um.push_back(Registro(1, 26, "2024-05-07 09:00:00", "22222222222"));
  a->Grava(1, um, Cursor{26, 26, ""});
  a->Grava(2, {Digital(2, 7, "2024-05-06 08:00:30", 0), Digital(2, 7, "2024-05-06 08:00:30", 1)},
           Cursor{0, 2, ""});

  // Pages in time order, clock after clock within a second, none twice, none missed.
  Filtro todos;
  std::vector<std::string> vistos;
  for (size_t desloc = 0;; desloc += 10) {
    const auto pagina = a->Pagina(todos, desloc, 10);
    ASSERT_LE(pagina.size(), 10u);
    for (const auto& m : pagina)
      vistos.push_back(std::to_string(m.relogio) + "/" + std::to_string(m.nsr) + "/" +
                       std::to_string(m.ordem) + "@" + m.momento.FormataIso());
    if (pagina.size() < 10) break;
  }
  ASSERT_EQ(vistos.size(), 28u);
  EXPECT_EQ(vistos[0], "1/1/0@2024-05-06 08:00:00");
  EXPECT_EQ(vistos[1], "2/0/0@2024-05-06 08:00:30");
  EXPECT_EQ(vistos[2], "2/0/1@2024-05-06 08:00:30");
  EXPECT_EQ(vistos.back(), "1/26/0@2024-05-07 09:00:00");
  EXPECT_EQ(std::set<std::string>(vistos.begin(), vistos.end()).size(), vistos.size());
  EXPECT_TRUE(a->Pagina(todos, 28, 10).empty());

  // An employee by PIS (register) or by card (fingerprint); an employee nobody has: nothing.
  Filtro ana;
  ana.funcionario = FiltroFuncionario{{"11111111111"}, std::nullopt};
  EXPECT_EQ(a->Conta(ana), 12u);
  Filtro cartao;
  cartao.funcionario = FiltroFuncionario{{}, 7};
  EXPECT_EQ(a->Conta(cartao), 2u);
  Filtro ambos;
  ambos.funcionario = FiltroFuncionario{{"11111111111", "22222222222"}, 7};
  EXPECT_EQ(a->Conta(ambos), 28u);
  Filtro ninguem;
  ninguem.funcionario = FiltroFuncionario{};
  EXPECT_EQ(a->Conta(ninguem), 0u);
  EXPECT_TRUE(a->Pagina(ninguem, 0, 10).empty());
  // A card is a fingerprint clock's: the register clock's punches keep card 0, never matched.
  Filtro zero;
  zero.funcionario = FiltroFuncionario{{}, 0};
  EXPECT_EQ(a->Conta(zero), 0u);

  // Per hour of one day for a set of clocks; per day.
  Filtro dia;
  dia.de = DataHora::DeTexto("2024-05-06 00:00:00");
  dia.ate = DataHora::DeTexto("2024-05-06 23:59:59");
  dia.relogios = {1, 2};
  using Contagens = std::vector<std::pair<std::string, int64_t>>;
  EXPECT_EQ(a->ContaPor(dia, Periodo::Hora),
            (Contagens{{"2024-05-06 08", 12}, {"2024-05-06 09", 10}, {"2024-05-06 10", 5}}));
  dia.relogios = {2};
  EXPECT_EQ(a->ContaPor(dia, Periodo::Hora), (Contagens{{"2024-05-06 08", 2}}));
  EXPECT_EQ(a->ContaPor({}, Periodo::Dia), (Contagens{{"2024-05-06", 27}, {"2024-05-07", 1}}));

  // What was stored since a moment, newest first and bounded.
  const auto recentes = a->RecebidasDesde("2000-01-01T00:00:00Z", 5);
  ASSERT_EQ(recentes.size(), 5u);
  for (size_t i = 1; i < recentes.size(); ++i)
    EXPECT_GE(recentes[i - 1].recebidaEm, recentes[i].recebidaEm);
  EXPECT_TRUE(a->RecebidasDesde("2999-01-01T00:00:00Z", 5).empty());
}

TEST_P(ArmazemTest, ALeaseHasOneHolderUntilItExpiresOrIsGivenUp) {
  auto a = Abre("a"), b = Abre("b");
  EXPECT_TRUE(a->Arrenda(1, 30s));
  EXPECT_FALSE(b->Arrenda(1, 30s));
  EXPECT_TRUE(a->Arrenda(1, 30s));  // renewed by its holder
  EXPECT_TRUE(b->Arrenda(2, 30s));
  // Giving up is for the holder, one clock at a time: a release by another collector leaves
  // the holder's lease, and the holder's release of clock 1 leaves its lease on clock 5.
  EXPECT_TRUE(a->Arrenda(5, 30s));
  b->Libera(1);
  EXPECT_FALSE(b->Arrenda(1, 30s));
  a->Libera(1);
  EXPECT_FALSE(b->Arrenda(5, 30s));
  EXPECT_TRUE(b->Arrenda(1, 30s));
  EXPECT_FALSE(a->Arrenda(1, 30s));
  // A lease that was not renewed in time is taken over.
  EXPECT_TRUE(a->Arrenda(3, 0s));
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(b->Arrenda(3, 30s));

  EstadoRelogio e;
  e.relogio = 1;
  e.conectado = true;
  e.ultimaMarcacao = "2024-05-06 08:00:00";
  b->GravaEstado(e);
  e.relogio = 4;
  e.conectado = false;
  e.ultimoErro = "sem conexão";
  a->GravaEstado(e);
  const auto estados = a->Estados(true);
  ASSERT_EQ(estados.size(), 5u);
  EXPECT_EQ(estados[0].relogio, 1);
  EXPECT_TRUE(estados[0].conectado);
  EXPECT_EQ(estados[0].coletor, "b");
  EXPECT_EQ(estados[0].arrendadoPor, "b");
  EXPECT_GT(estados[0].segundosRestantes, 20);
  EXPECT_EQ(estados[1].relogio, 2);
  EXPECT_EQ(estados[3].ultimoErro, "sem conexão");
  EXPECT_TRUE(estados[3].arrendadoPor.empty());
  EXPECT_FALSE(estados[3].ArrendamentoVivo());
  EXPECT_TRUE(estados[0].ArrendamentoVivo());
}

// Characters the bulk load's text format gives a meaning to (quotes, backslashes, tabs, line
// ends) come back as they went in, by the straight load and by the one that turns repeats away.
TEST_P(ArmazemTest, TextsWithTheBulkLoadsSpecialCharactersComeBackAsTheyWentIn) {
  const std::string coletor = "sala \\ 2\t\"norte\"\r\nfundos";
  auto a = Abre(coletor);
  const std::vector<MarcacaoArmazenada> primeiro = {Registro(5, 1, "2024-05-06 08:00:00", "a\\b"),
                                                    Registro(5, 2, "2024-05-06 09:00:00", "c\td")};
  EXPECT_EQ(a->Grava(5, primeiro, Cursor{2, 2, ""}), 2u);
  // A batch that repeats a stored punch, with a new one beside it.
  EXPECT_EQ(
      a->Grava(5, {primeiro[1], Registro(5, 3, "2024-05-06 10:00:00", "e\nf'g")}, Cursor{3, 3, ""}),
      1u);
  std::vector<std::string> lidos;
  a->Percorre({}, [&](const MarcacaoArmazenada& m) {
    EXPECT_EQ(m.coletor, coletor);
    lidos.push_back(m.pis);
  });
  EXPECT_EQ(lidos, (std::vector<std::string>{"a\\b", "c\td", "e\nf'g"}));
}

// A store written by the program of the schema before this one is migrated when a collector
// opens it, with everything it held; a reader is told to let a collection update it.
TEST_P(ArmazemTest, AStoreOfThePreviousSchemaIsMigratedByACollectorWithEverythingItHeld) {
  {
    auto a = Abre();
    a->Grava(1, {Registro(1, 1, "2024-05-06 08:00:00"), Registro(1, 2, "2024-05-06 12:00:00")},
             Cursor{2, 2, ""});
    a->Grava(2, {Digital(2, 7, "2024-05-06 08:00:00", 0)}, Cursor{0, 1, "7;2024-05-06 08:00:00;1"});
    a->GravaFuncionarios({{"12345678900", "52998224725", "Ana"}});
    a->GravaEmpregador({1, false, "11222333000181", "", "Padaria", "Rua A, 1", ""});
  }
  // What the program of schema 5 left: the tables it had, and its number.
  ASSERT_EQ(kVersaoEsquema, 6) << "this test describes the schema before the current one";
  Sql("DROP TABLE registros_fiscais; DROP TABLE relogios_rep; UPDATE esquema SET versao = 5");
  try {
    Armazem::Abre(endereco_, "leitor", Acesso::Leitura);
    FAIL() << "um leitor abriu um esquema antigo";
  } catch (const Erro& e) {
    EXPECT_NE(e.Descricao().find("o atualiza"), std::string::npos) << e.Descricao();
  }
  auto a = Abre();
  EXPECT_EQ(a->VersaoEsquema(), kVersaoEsquema);
  EXPECT_EQ(a->Conta({}), 3u);
  ASSERT_TRUE(a->CursorDe(1));
  EXPECT_EQ(a->CursorDe(1)->ultimoNsr, 2);
  EXPECT_EQ(a->CursorDe(2)->identidade, "7;2024-05-06 08:00:00;1");
  EXPECT_EQ(a->Funcionarios().at("12345678900").cpf, "52998224725");
  ASSERT_TRUE(a->EmpregadorDe(1));
  EXPECT_EQ(a->EmpregadorDe(1)->razaoSocial, "Padaria");
  // The new tables are there and work; what was stored before is stored once still.
  EXPECT_EQ(a->GravaRegistrosFiscais(
                {{1, 3, 2, DataHora::DeTexto("2024-05-06 13:00:00"), "0000000032Padaria"}}),
            1u);
  EXPECT_EQ(a->RegistrosFiscais({}).size(), 1u);
  EXPECT_EQ(a->Grava(1, {Registro(1, 2, "2024-05-06 12:00:00")}, Cursor{2, 2, ""}), 0u);
}

// A clock's records besides punches: kept once per clock and NSR, read back by clock, period
// and NSR, accents intact.
TEST_P(ArmazemTest, AClocksFiscalRecordsAreKeptOnceAndReadBackByPeriodInNsrOrder) {
  auto a = Abre();
  using R = Armazem::RegistroFiscal;
  const std::vector<R> registros = {
      {2, 40, 5, DataHora::DeTexto("2024-05-07 10:00:00"), "0000000405…Jo\u00e3o"},
      {2, 12, 2, DataHora::DeTexto("2024-05-06 09:00:00"), "0000000122São João"},
      {3, 12, 4, DataHora::DeTexto("2024-05-06 09:30:00"), "0000000124"}};
  EXPECT_EQ(a->GravaRegistrosFiscais(registros), 3u);
  EXPECT_EQ(a->GravaRegistrosFiscais({registros[1], registros[0]}), 0u);
  Filtro doRelogio;
  doRelogio.relogio = 2;
  const auto lidos = a->RegistrosFiscais(doRelogio);
  ASSERT_EQ(lidos.size(), 2u);
  EXPECT_EQ(lidos[0].nsr, 12);
  EXPECT_EQ(lidos[0].tipo, 2);
  EXPECT_EQ(lidos[0].registro, "0000000122São João");
  EXPECT_EQ(lidos[0].momento, DataHora::DeTexto("2024-05-06 09:00:00"));
  EXPECT_EQ(lidos[1].nsr, 40);
  Filtro doDia;
  doDia.de = DataHora::DeTexto("2024-05-07 00:00:00");
  const auto dia = a->RegistrosFiscais(doDia);
  ASSERT_EQ(dia.size(), 1u);
  EXPECT_EQ(dia[0].relogio, 2);
  EXPECT_EQ(dia[0].nsr, 40);

  // What the clock's file says of the clock: the latest read replaces it.
  EXPECT_FALSE(a->IdentificacaoDe(2));
  a->GravaIdentificacao({2, "00004000010000123", false, "11222333000181", "T1"});
  a->GravaIdentificacao({2, "00004000010000123", true, "52998224725", "Modelo São"});
  const auto i = a->IdentificacaoDe(2);
  ASSERT_TRUE(i);
  EXPECT_TRUE(i->fabricanteCpf);
  EXPECT_EQ(i->fabricanteDocumento, "52998224725");
  EXPECT_EQ(i->modelo, "Modelo São");
  EXPECT_FALSE(a->IdentificacaoDe(3));
}

TEST_P(ArmazemTest, TextsWithQuotesAndBackslashesComeBackAsWritten) {
  const std::string coletor = "sala \"A\" \\ portaria\tfundos\r\nN", pis = "1\\2\"3,{4}\\N\t";
  auto a = Abre(coletor);
  EXPECT_EQ(a->Grava(1, {Registro(1, 1, "2024-05-06 08:00:00", pis.c_str())}, Cursor{1, 1, ""}),
            1u);
  std::vector<MarcacaoArmazenada> lidas;
  a->Percorre({}, [&](const MarcacaoArmazenada& m) { lidas.push_back(m); });
  ASSERT_EQ(lidas.size(), 1u);
  EXPECT_EQ(lidas[0].pis, pis);
  EXPECT_EQ(lidas[0].coletor, coletor);
}

TEST_P(ArmazemTest, ABatchThatFailsPartWayKeepsNothingAndTheStoreStaysUsable) {
  auto a = Abre();
  std::string identidade;
  if (GetParam() == "sqlite") {
    // The cursor's write, after the punches', is refused by the database.
    ASSERT_NO_FATAL_FAILURE(
        teste::RecusaInsercoes(endereco_, "cursores", "recusado", "NEW.relogio = 9"));
  } else {
    identidade = "\xff\xfe";  // not UTF-8: the server refuses the cursor's write
  }
  EXPECT_ANY_THROW(
      a->Grava(9, {Registro(9, 1, "2024-05-06 08:00:00"), Registro(9, 2, "2024-05-06 09:00:00")},
               Cursor{2, 2, identidade}));
  EXPECT_EQ(a->Conta({}), 0u);
  EXPECT_FALSE(a->CursorDe(9));
  EXPECT_EQ(a->Grava(1, {Registro(1, 1, "2024-05-06 08:00:00")}, Cursor{1, 1, ""}), 1u);
  EXPECT_EQ(a->Conta({}), 1u);
  EXPECT_EQ(a->CursorDe(1)->ultimoNsr, 1);
}

TEST_P(ArmazemTest, HeartbeatsTellLiveCollectorsFromStoppedOnesAndStatesKeepWhatWasSaid) {
  auto a = Abre("a"), b = Abre("b");
  a->Pulsa(30s);
  b->Pulsa(0s);  // a period already over: stopped as soon as it is looked at
  std::this_thread::sleep_for(20ms);
  auto coletores = a->Coletores();
  ASSERT_EQ(coletores.size(), 2u);
  EXPECT_EQ(coletores[0].nome, "a");
  EXPECT_TRUE(coletores[0].Vivo());
  EXPECT_LT(coletores[0].segundosDesdePulso, 20);
  EXPECT_FALSE(coletores[0].iniciadoEm.empty());
  EXPECT_EQ(coletores[1].nome, "b");
  EXPECT_FALSE(coletores[1].Vivo());
  a->Pulsa(30s);  // a second beat updates, never adds
  b->Despede();
  coletores = b->Coletores();
  ASSERT_EQ(coletores.size(), 1u);
  EXPECT_EQ(coletores[0].nome, "a");

  // What a service says about a clock comes back whole, with the punches stored today.
  EstadoRelogio e;
  e.relogio = 7;
  e.conectado = false;
  e.conectadoDesde = "2026-12-08T10:00:00Z";
  e.gravadaEm = "2026-12-08T10:05:00Z";
  e.ultimaMarcacao = "2026-12-08 07:04:00";
  a->GravaEstado(e);
  MarcacaoArmazenada hoje = Registro(7, 1, "2024-05-06 08:00:00");
  a->Grava(7, {hoje}, Cursor{1, 1, ""});
  const auto estados = a->Estados(true);
  ASSERT_EQ(estados.size(), 1u);
  EXPECT_EQ(estados[0].conectadoDesde, e.conectadoDesde);
  EXPECT_EQ(estados[0].gravadaEm, e.gravadaEm);
  EXPECT_EQ(estados[0].marcacoesHoje, 1);  // stored now, whatever the punch's own date
}

TEST_P(ArmazemTest, ConcurrentCollectorsWritingOverlappingBatchesStoreTheUnionOnce) {
  // Two collectors (a monitor and a collection, or two services) race on the same punches.
  constexpr int kTotal = 3000;
  auto escreve = [&](const std::string& coletor, int passo) {
    auto s = Abre(coletor);
    std::vector<MarcacaoArmazenada> lote;
    for (int n = 1; n <= kTotal; ++n) {
      lote.push_back(Registro(1, n, "2024-05-06 08:00:00"));
      if (lote.size() == static_cast<size_t>(passo)) {
        s->Grava(1, lote, Cursor{n, n, ""});
        lote.clear();
      }
    }
    s->Grava(1, lote, Cursor{kTotal, kTotal, ""});
  };
  Abre();  // the schema, before the race
  std::thread t1(escreve, "a", 300), t2(escreve, "b", 170);
  t1.join();
  t2.join();
  auto s = Abre();
  EXPECT_EQ(s->Conta({}), static_cast<size_t>(kTotal));
  std::set<int64_t> nsrs;
  s->Percorre({}, [&](const MarcacaoArmazenada& m) { nsrs.insert(m.nsr); });
  EXPECT_EQ(nsrs.size(), static_cast<size_t>(kTotal));
}

// A reader (exportar, relatorio, servico --estado) never creates a store nor writes to one: a
// store not there is an error saying so, and a write through a reader is refused.
TEST_P(ArmazemTest, AReaderNeverCreatesNorWritesAStore) {
  try {
    Armazem::Abre(endereco_, "leitor", Acesso::Leitura);
    ADD_FAILURE() << "um banco que não existe foi aberto para leitura";
  } catch (const Erro& e) {
    EXPECT_NE(
        e.Descricao().find(GetParam() == "sqlite" ? "não existe" : "não é um banco de marcações"),
        std::string::npos)
        << e.Descricao();
  }
  if (GetParam() == "sqlite") {
    EXPECT_FALSE(std::filesystem::exists(endereco_));
  }
  Abre()->Grava(1, {Registro(1, 1, "2024-05-06 08:00:00")}, Cursor{1, 1, ""});
  auto leitor = Armazem::Abre(endereco_, "leitor", Acesso::Leitura);
  size_t lidas = 0;
  leitor->Percorre({}, [&](const MarcacaoArmazenada&) { ++lidas; });
  EXPECT_EQ(lidas, 1u);
  EXPECT_THROW(leitor->Grava(1, {Registro(1, 2, "2024-05-06 12:00:00")}, Cursor{2, 2, ""}), Erro);
  lidas = 0;
  Abre()->Percorre({}, [&](const MarcacaoArmazenada&) { ++lidas; });
  EXPECT_EQ(lidas, 1u);
}

INSTANTIATE_TEST_SUITE_P(Bancos, ArmazemTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

// A store written by the program of schema 1 (before cursors had identities and collectors
// heartbeats) is migrated on open: every cursor kept, its identity unknown (so the next
// collection checks by reading the log whole).
TEST(ArmazemSqlite, AStoreOfSchemaOneIsMigratedKeepingItsCursors) {
  const std::string caminho =
      ::testing::TempDir() + "armazem_v1_" + std::to_string(::getpid()) + ".db";
  std::filesystem::remove(caminho);
  {
    auto a = Armazem::Abre(caminho, "x");
    a->Grava(4, {}, Cursor{0, 17, "1;2024-05-06 10:00:00;1"});
    a->GravaFuncionarios({{"12034567899", "52998224725", "Ana"}}, "2024-01-02T03:04:05Z");
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(caminho.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "DROP TABLE registros_fiscais;"
                         "DROP TABLE relogios_rep;"
                         "DROP TABLE empregadores;"
                         "DROP TABLE funcionarios_versoes;"
                         "ALTER TABLE cursores DROP COLUMN identidade;"
                         "DROP TABLE coletores;"
                         "DROP INDEX marcacoes_por_recebimento;"
                         "ALTER TABLE estados DROP COLUMN conectado_desde;"
                         "ALTER TABLE estados DROP COLUMN gravada_em;"
                         "UPDATE esquema SET versao = 1",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  auto a = Armazem::Abre(caminho, "x");
  EXPECT_EQ(a->VersaoEsquema(), kVersaoEsquema);
  ASSERT_TRUE(a->CursorDe(4));
  EXPECT_EQ(a->CursorDe(4)->posicao, 17);
  EXPECT_EQ(a->CursorDe(4)->identidade, "");
  // The employees known before the history existed are its first versions.
  const auto historico = a->HistoricoFuncionarios();
  ASSERT_EQ(historico.count("12034567899"), 1u);
  ASSERT_EQ(historico.at("12034567899").size(), 1u);
  EXPECT_EQ(historico.at("12034567899")[0].first, "2024-01-02T03:04:05Z");
  EXPECT_EQ(historico.at("12034567899")[0].second.cpf, "52998224725");
  EXPECT_FALSE(a->EmpregadorDe(4));
}

TEST(ArmazemSqlite, ADatabaseFromANewerProgramIsRefusedAndAnUnopenablePathExplained) {
  const std::string caminho =
      ::testing::TempDir() + "armazem_novo_" + std::to_string(::getpid()) + ".db";
  std::filesystem::remove(caminho);
  Armazem::Abre(caminho, "x");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(caminho.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "UPDATE esquema SET versao = 99", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  try {
    Armazem::Abre(caminho, "x");
    FAIL() << "aceitou um esquema mais novo";
  } catch (const Erro& e) {
    EXPECT_EQ(e.Numero(), erro::kArmazem);
    EXPECT_NE(e.Descricao().find("versão 99"), std::string::npos) << e.Descricao();
  }
  try {
    Armazem::Abre("/nao/existe/ponto.db", "x");
    FAIL();
  } catch (const Erro& e) {
    EXPECT_EQ(e.Numero(), erro::kArmazem);
    EXPECT_NE(e.Descricao().find("/nao/existe/ponto.db"), std::string::npos);
  }
}

}  // namespace
}  // namespace quorvel::armazem
