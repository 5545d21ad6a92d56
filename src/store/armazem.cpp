// The store over either database: one schema, one set of statements, written in the SQL both
// SQLite and PostgreSQL understand (upserts, partial unique indexes).
#include "store/armazem.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "quorvel/erro.h"
#include "store/conexao.h"

namespace quorvel::armazem {

namespace interno {
void Falha(std::string_view metodo, const std::string& mensagem) {
  LancaErro(erro::kArmazem, "Armazem", metodo, mensagem);
}
}  // namespace interno

std::string AgoraUtc() {
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&t, &tm);
  char texto[32];
  std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return texto;
}

namespace {
// With microseconds, and never the same twice in one process: records of one clock or employee
// written one right after the other keep their order.
std::string MarcaDeTempo() {
  static std::mutex trava;
  static int64_t ultima = 0;
  int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  {
    std::lock_guard<std::mutex> l(trava);
    micros = ultima = std::max(micros, ultima + 1);
  }
  const std::time_t t = static_cast<std::time_t>(micros / 1'000'000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char texto[40];
  const size_t n = std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%S", &tm);
  std::snprintf(texto + n, sizeof texto - n, ".%06dZ", static_cast<int>(micros % 1'000'000));
  return texto;
}
}  // namespace

std::string IdentidadeDigital(int32_t cartao, DataHora momento, bool porDigital) {
  return std::to_string(cartao) + ";" + momento.FormataIso() + ";" + (porDigital ? "1" : "0");
}

namespace {

bool EhPostgres(const std::string& e);

using interno::Conexao;
using interno::Linha;
using interno::Valor;

// Each entry takes the schema from the version before it to its own number.
const char* const kMigracoes[] = {
    // 1: punches with both identities, cursors, employees, leases, collector states.
    "CREATE TABLE marcacoes (relogio INTEGER NOT NULL, modelo INTEGER NOT NULL,"
    " nsr BIGINT NOT NULL, cartao INTEGER NOT NULL, data_hora TEXT NOT NULL,"
    " ordem INTEGER NOT NULL, por_digital INTEGER NOT NULL, pis TEXT NOT NULL,"
    " recebida_em TEXT NOT NULL, coletor TEXT NOT NULL);"
    "CREATE UNIQUE INDEX marcacoes_por_nsr ON marcacoes (relogio, nsr) WHERE nsr > 0;"
    "CREATE UNIQUE INDEX marcacoes_por_cartao ON marcacoes (relogio, cartao, data_hora, ordem)"
    " WHERE nsr = 0;"
    "CREATE INDEX marcacoes_por_data ON marcacoes (data_hora);"
    "CREATE TABLE cursores (relogio INTEGER PRIMARY KEY, ultimo_nsr BIGINT NOT NULL,"
    " posicao BIGINT NOT NULL, atualizado_em TEXT NOT NULL);"
    "CREATE TABLE funcionarios (pis TEXT PRIMARY KEY, cpf TEXT NOT NULL, nome TEXT NOT NULL,"
    " atualizado_em TEXT NOT NULL);"
    "CREATE TABLE arrendamentos (relogio INTEGER PRIMARY KEY, coletor TEXT NOT NULL,"
    " expira_em DOUBLE PRECISION NOT NULL);"
    "CREATE TABLE estados (relogio INTEGER PRIMARY KEY, coletor TEXT NOT NULL,"
    " conectado INTEGER NOT NULL, ultima_marcacao TEXT NOT NULL, ultimo_erro TEXT NOT NULL,"
    " atualizado_em TEXT NOT NULL)",
    // 2: the identity of the fingerprint punch a cursor's position stands after.
    "ALTER TABLE cursores ADD COLUMN identidade TEXT NOT NULL DEFAULT ''",
    // 3: collectors' heartbeats; since when a clock is (dis)connected, when a punch was stored.
    "CREATE TABLE coletores (coletor TEXT PRIMARY KEY, visto_em DOUBLE PRECISION NOT NULL,"
    " periodo DOUBLE PRECISION NOT NULL, iniciado_em TEXT NOT NULL);"
    "ALTER TABLE estados ADD COLUMN conectado_desde TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE estados ADD COLUMN gravada_em TEXT NOT NULL DEFAULT ''",
    // 4: what was stored since a moment, for the pages that show punches as they arrive.
    "CREATE INDEX marcacoes_por_recebimento ON marcacoes (recebida_em)",
    // 5: the employer each clock was given, and every version of each employee as read, so
    // the fiscal file takes its header from the store and each punch's CPF from its own time.
    "CREATE TABLE empregadores (relogio INTEGER NOT NULL, tipo TEXT NOT NULL,"
    " documento TEXT NOT NULL, cei TEXT NOT NULL, razao_social TEXT NOT NULL,"
    " endereco TEXT NOT NULL, gravado_em TEXT NOT NULL);"
    "CREATE INDEX empregadores_por_relogio ON empregadores (relogio, gravado_em);"
    "CREATE TABLE funcionarios_versoes (pis TEXT NOT NULL, cpf TEXT NOT NULL,"
    " nome TEXT NOT NULL, lido_em TEXT NOT NULL);"
    "CREATE INDEX funcionarios_versoes_por_pis ON funcionarios_versoes (pis, lido_em);"
    "INSERT INTO funcionarios_versoes (pis, cpf, nome, lido_em)"
    " SELECT pis, cpf, nome, atualizado_em FROM funcionarios",
    // 6: the records of types 2, 4 and 5 a register clock's own fiscal file carries, so the
    // store's export holds them in their NSR places, and what its header says of the clock.
    "CREATE TABLE registros_fiscais (relogio INTEGER NOT NULL, nsr BIGINT NOT NULL,"
    " tipo INTEGER NOT NULL, data_hora TEXT NOT NULL, registro TEXT NOT NULL,"
    " PRIMARY KEY (relogio, nsr));"
    "CREATE TABLE relogios_rep (relogio INTEGER PRIMARY KEY, fabricacao TEXT NOT NULL,"
    " fabricante_cpf INTEGER NOT NULL, fabricante_documento TEXT NOT NULL,"
    " modelo TEXT NOT NULL, lido_em TEXT NOT NULL)",
};
static_assert(std::size(kMigracoes) == kVersaoEsquema);

// Local midnight of today as the UTC text punches are stamped with when stored.
std::string MeiaNoiteLocalUtc() {
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&t, &local);
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  const std::time_t meiaNoite = std::mktime(&local);
  std::tm utc{};
  gmtime_r(&meiaNoite, &utc);
  char texto[32];
  std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return texto;
}

// Statements are run one at a time: libpq and SQLite both take a single statement per call.
std::vector<std::string> Comandos(const std::string& script) {
  std::vector<std::string> r;
  size_t inicio = 0;
  for (size_t p; (p = script.find(';', inicio)) != std::string::npos; inicio = p + 1)
    r.push_back(script.substr(inicio, p - inicio));
  r.push_back(script.substr(inicio));
  return r;
}

// The punch table's columns, each described once: its name, what a stored punch writes there
// and how a row read back fills the punch. Every statement, the bulk insert and the row decode
// follow this order.
struct ContextoDaGravacao {
  int16_t relogio;
  const std::string& agora;    // when stored
  const std::string& coletor;  // by whom
};
struct ColunaMarcacao {
  const char* nome;
  void (*escreve)(const MarcacaoArmazenada&, const ContextoDaGravacao&, interno::ValoresDeLinha&);
  void (*le)(const Linha&, int, MarcacaoArmazenada&);
};
using M = const MarcacaoArmazenada&;
using C = const ContextoDaGravacao&;
using V = interno::ValoresDeLinha&;
constexpr ColunaMarcacao kColunasMarcacao[] = {
    {"relogio", [](M, C c, V v) { v.Inteiro(c.relogio); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) {
       m.relogio = static_cast<int16_t>(l.Inteiro(i));
     }},
    {"modelo", [](M m, C, V v) { v.Inteiro(m.modelo); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) {
       m.modelo = static_cast<EModeloRelogio>(l.Inteiro(i));
     }},
    {"nsr", [](M m, C, V v) { v.Inteiro(m.nsr); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) { m.nsr = l.Inteiro(i); }},
    {"cartao", [](M m, C, V v) { v.Inteiro(m.cartao); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) {
       m.cartao = static_cast<int32_t>(l.Inteiro(i));
     }},
    {"data_hora", [](M m, C, V v) { v.Texto(m.momento.FormataIso()); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) {
       m.momento = DataHora::DeTexto(l.Texto(i));
     }},
    {"ordem", [](M m, C, V v) { v.Inteiro(m.ordem); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) {
       m.ordem = static_cast<int32_t>(l.Inteiro(i));
     }},
    {"por_digital", [](M m, C, V v) { v.Inteiro(m.porDigital ? 1 : 0); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) { m.porDigital = l.Inteiro(i) != 0; }},
    {"pis", [](M m, C, V v) { v.Texto(m.pis); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) { m.pis.assign(l.Texto(i)); }},
    {"recebida_em", [](M, C c, V v) { v.Texto(c.agora); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) { m.recebidaEm.assign(l.Texto(i)); }},
    {"coletor", [](M, C c, V v) { v.Texto(c.coletor); },
     [](const Linha& l, int i, MarcacaoArmazenada& m) { m.coletor.assign(l.Texto(i)); }},
};

const std::string& ColunasDasMarcacoes() {
  static const std::string lista = [] {
    std::string r;
    for (const auto& c : kColunasMarcacao) r += (r.empty() ? "" : ", ") + std::string(c.nome);
    return r;
  }();
  return lista;
}

// A batch of punches of one clock as rows of the punch table.
class LoteDeMarcacoes final : public interno::LoteDeLinhas {
 public:
  LoteDeMarcacoes(ContextoDaGravacao contexto, const std::vector<MarcacaoArmazenada>& marcacoes)
      : contexto_(contexto), marcacoes_(marcacoes) {}
  size_t Linhas() const override { return marcacoes_.size(); }
  size_t Colunas() const override { return std::size(kColunasMarcacao); }
  void Linha(size_t i, interno::ValoresDeLinha& v) const override {
    for (const auto& c : kColunasMarcacao) c.escreve(marcacoes_[i], contexto_, v);
  }

 private:
  ContextoDaGravacao contexto_;
  const std::vector<MarcacaoArmazenada>& marcacoes_;
};

class ArmazemSql final : public Armazem {
 public:
  ArmazemSql(std::unique_ptr<Conexao> db, std::string coletor, Acesso acesso,
             const std::string& endereco)
      : db_(std::move(db)), coletor_(std::move(coletor)), iniciadoEm_(AgoraUtc()) {
    if (acesso == Acesso::Escrita)
      Migra();
    else
      ConfereEsquema(endereco);
  }

  int VersaoEsquema() override {
    int64_t v = 0;
    db_->Consulta("SELECT versao FROM esquema", {}, [&](const Linha& l) { v = l.Inteiro(0); });
    return static_cast<int>(v);
  }
  const std::string& Coletor() const override { return coletor_; }

  size_t Grava(int16_t relogio, const std::vector<MarcacaoArmazenada>& marcacoes,
               const Cursor& cursor) override {
    const std::string agora = AgoraUtc();
    size_t novas = 0;
    Transacao([&] {
      novas = db_->InsereSemRepetir("marcacoes", ColunasDasMarcacoes(),
                                    LoteDeMarcacoes({relogio, agora, coletor_}, marcacoes));
      db_->Executa(
          "INSERT INTO cursores (relogio, ultimo_nsr, posicao, identidade, atualizado_em)"
          " VALUES (?,?,?,?,?)"
          " ON CONFLICT (relogio) DO UPDATE SET ultimo_nsr = excluded.ultimo_nsr,"
          " posicao = excluded.posicao, identidade = excluded.identidade,"
          " atualizado_em = excluded.atualizado_em",
          {int64_t{relogio}, cursor.ultimoNsr, cursor.posicao, cursor.identidade, agora});
    });
    return novas;
  }

  std::optional<Cursor> CursorDe(int16_t relogio) override {
    std::optional<Cursor> c;
    db_->Consulta("SELECT ultimo_nsr, posicao, identidade FROM cursores WHERE relogio = ?",
                  {int64_t{relogio}}, [&](const Linha& l) {
                    c = Cursor{l.Inteiro(0), l.Inteiro(1), std::string(l.Texto(2))};
                  });
    return c;
  }

  void GravaFuncionarios(const std::vector<Funcionario>& funcionarios,
                         const std::string& lidoEm) override {
    const std::string agora = lidoEm.empty() ? MarcaDeTempo() : lidoEm;
    Transacao([&] {
      for (const auto& f : funcionarios) {
        // A version is kept only when it says something new of the employee.
        db_->Executa(
            "INSERT INTO funcionarios_versoes (pis, cpf, nome, lido_em) SELECT ?, ?, ?, ?"
            " WHERE NOT EXISTS (SELECT 1 FROM funcionarios WHERE pis = ? AND cpf = ? AND nome = ?)",
            {f.pis, f.cpf, f.nome, agora, f.pis, f.cpf, f.nome});
        db_->Executa(
            "INSERT INTO funcionarios (pis, cpf, nome, atualizado_em) VALUES (?,?,?,?)"
            " ON CONFLICT (pis) DO UPDATE SET cpf = excluded.cpf, nome = excluded.nome,"
            " atualizado_em = excluded.atualizado_em",
            {f.pis, f.cpf, f.nome, agora});
      }
    });
  }

  std::unordered_map<std::string, Versoes> HistoricoFuncionarios() override {
    std::unordered_map<std::string, Versoes> r;
    db_->Consulta(
        "SELECT pis, cpf, nome, lido_em FROM funcionarios_versoes ORDER BY pis, lido_em", {},
        [&](const Linha& l) {
          Funcionario f{std::string(l.Texto(0)), std::string(l.Texto(1)), std::string(l.Texto(2))};
          r[f.pis].emplace_back(std::string(l.Texto(3)), std::move(f));
        });
    return r;
  }

  void GravaEmpregador(const Empregador& e) override {
    Transacao([&] {
      db_->Executa(
          "INSERT INTO empregadores (relogio, tipo, documento, cei, razao_social, endereco,"
          " gravado_em) VALUES (?,?,?,?,?,?,?)",
          {int64_t{e.relogio}, std::string(e.cpf ? "cpf" : "cnpj"), e.documento, e.cei,
           e.razaoSocial, e.endereco, MarcaDeTempo()});
    });
  }

  std::optional<Empregador> EmpregadorDe(int16_t relogio) override {
    std::optional<Empregador> r;
    db_->Consulta(
        "SELECT tipo, documento, cei, razao_social, endereco, gravado_em FROM empregadores"
        " WHERE relogio = ? ORDER BY gravado_em DESC LIMIT 1",
        {int64_t{relogio}}, [&](const Linha& l) {
          r = Empregador{relogio,
                         l.Texto(0) == "cpf",
                         std::string(l.Texto(1)),
                         std::string(l.Texto(2)),
                         std::string(l.Texto(3)),
                         std::string(l.Texto(4)),
                         std::string(l.Texto(5))};
        });
    return r;
  }

  size_t GravaRegistrosFiscais(const std::vector<RegistroFiscal>& registros) override {
    size_t novos = 0;
    Transacao([&] {
      for (const auto& r : registros)
        novos += static_cast<size_t>(db_->Executa(
            "INSERT INTO registros_fiscais (relogio, nsr, tipo, data_hora, registro)"
            " VALUES (?,?,?,?,?) ON CONFLICT (relogio, nsr) DO NOTHING",
            {int64_t{r.relogio}, r.nsr, int64_t{r.tipo}, r.momento.FormataIso(), r.registro}));
    });
    return novos;
  }

  void GravaIdentificacao(const IdentificacaoRelogio& i) override {
    db_->Executa(
        "INSERT INTO relogios_rep (relogio, fabricacao, fabricante_cpf, fabricante_documento,"
        " modelo, lido_em) VALUES (?,?,?,?,?,?) ON CONFLICT (relogio) DO UPDATE SET"
        " fabricacao = excluded.fabricacao, fabricante_cpf = excluded.fabricante_cpf,"
        " fabricante_documento = excluded.fabricante_documento, modelo = excluded.modelo,"
        " lido_em = excluded.lido_em",
        {int64_t{i.relogio}, i.fabricacao, int64_t{i.fabricanteCpf ? 1 : 0}, i.fabricanteDocumento,
         i.modelo, MarcaDeTempo()});
  }

  std::optional<IdentificacaoRelogio> IdentificacaoDe(int16_t relogio) override {
    std::optional<IdentificacaoRelogio> r;
    db_->Consulta(
        "SELECT fabricacao, fabricante_cpf, fabricante_documento, modelo FROM relogios_rep"
        " WHERE relogio = ?",
        {int64_t{relogio}}, [&](const Linha& l) {
          r = IdentificacaoRelogio{relogio, std::string(l.Texto(0)), l.Inteiro(1) != 0,
                                   std::string(l.Texto(2)), std::string(l.Texto(3))};
        });
    return r;
  }

  std::vector<RegistroFiscal> RegistrosFiscais(const Filtro& filtro) override {
    Filtro f = filtro;
    f.funcionario.reset();
    std::vector<Valor> p;
    const std::string onde = Onde(f, p);
    std::vector<RegistroFiscal> r;
    db_->Consulta(
        "SELECT relogio, nsr, tipo, data_hora, registro FROM registros_fiscais" + onde +
            " ORDER BY relogio, nsr",
        p, [&](const Linha& l) {
          r.push_back({static_cast<int16_t>(l.Inteiro(0)), l.Inteiro(1),
                       static_cast<int32_t>(l.Inteiro(2)),
                       DataHora::DeTexto(std::string(l.Texto(3))), std::string(l.Texto(4))});
        });
    return r;
  }

  std::unordered_map<std::string, Funcionario> Funcionarios() override {
    std::unordered_map<std::string, Funcionario> r;
    db_->Consulta("SELECT pis, cpf, nome FROM funcionarios", {}, [&](const Linha& l) {
      Funcionario f{std::string(l.Texto(0)), std::string(l.Texto(1)), std::string(l.Texto(2))};
      r.emplace(f.pis, std::move(f));
    });
    return r;
  }

  void Percorre(const Filtro& filtro,
                const std::function<void(const MarcacaoArmazenada&)>& visita) override {
    std::vector<Valor> p;
    const std::string onde = Onde(filtro, p);
    LeMarcacoes(onde + " ORDER BY relogio, nsr, data_hora, ordem, cartao", p, visita);
  }

  size_t Conta(const Filtro& filtro) override {
    std::vector<Valor> p;
    int64_t n = 0;
    db_->Consulta("SELECT COUNT(*) FROM marcacoes" + Onde(filtro, p), p,
                  [&](const Linha& l) { n = l.Inteiro(0); });
    return static_cast<size_t>(n);
  }

  std::vector<MarcacaoArmazenada> Pagina(const Filtro& filtro, size_t deslocamento,
                                         size_t limite) override {
    std::vector<Valor> p;
    const std::string onde = Onde(filtro, p);
    p.push_back(static_cast<int64_t>(limite));
    p.push_back(static_cast<int64_t>(deslocamento));
    std::vector<MarcacaoArmazenada> r;
    LeMarcacoes(onde + " ORDER BY data_hora, relogio, nsr, ordem, cartao LIMIT ? OFFSET ?", p,
                [&](const MarcacaoArmazenada& m) { r.push_back(m); });
    return r;
  }

  std::vector<std::pair<std::string, int64_t>> ContaPor(const Filtro& filtro,
                                                        Periodo periodo) override {
    std::vector<Valor> p;
    // The clock time is stored as "aaaa-mm-dd hh:mm:ss": its prefix is the hour or the day.
    const std::string grupo =
        periodo == Periodo::Hora ? "SUBSTR(data_hora, 1, 13)" : "SUBSTR(data_hora, 1, 10)";
    std::vector<std::pair<std::string, int64_t>> r;
    db_->Consulta("SELECT " + grupo + ", COUNT(*) FROM marcacoes" + Onde(filtro, p) + " GROUP BY " +
                      grupo + " ORDER BY " + grupo,
                  p, [&](const Linha& l) { r.emplace_back(l.Texto(0), l.Inteiro(1)); });
    return r;
  }

  std::vector<MarcacaoArmazenada> RecebidasDesde(const std::string& desde, size_t limite) override {
    std::vector<MarcacaoArmazenada> r;
    LeMarcacoes(" WHERE recebida_em >= ? ORDER BY recebida_em DESC LIMIT ?",
                {desde, static_cast<int64_t>(limite)},
                [&](const MarcacaoArmazenada& m) { r.push_back(m); });
    return r;
  }

  bool Arrenda(int16_t relogio, std::chrono::seconds validade) override {
    // Taken when free, expired or already ours; under concurrent takers the database's row
    // lock makes exactly one of them win.
    const std::string epoca = db_->Epoca();
    return db_->Executa(
               "INSERT INTO arrendamentos (relogio, coletor, expira_em) VALUES (?, ?, " + epoca +
                   " + CAST(? AS DOUBLE PRECISION)) ON CONFLICT (relogio) DO UPDATE SET"
                   " coletor = excluded.coletor, expira_em = excluded.expira_em"
                   " WHERE arrendamentos.coletor = excluded.coletor OR arrendamentos.expira_em < " +
                   epoca,
               {int64_t{relogio}, coletor_, static_cast<double>(validade.count())}) > 0;
  }

  void Libera(int16_t relogio) override {
    db_->Executa("DELETE FROM arrendamentos WHERE relogio = ? AND coletor = ?",
                 {int64_t{relogio}, coletor_});
  }

  void GravaEstado(const EstadoRelogio& e) override {
    db_->Executa(
        "INSERT INTO estados (relogio, coletor, conectado, conectado_desde, ultima_marcacao,"
        " gravada_em, ultimo_erro, atualizado_em) VALUES (?,?,?,?,?,?,?,?)"
        " ON CONFLICT (relogio) DO UPDATE SET"
        " coletor = excluded.coletor, conectado = excluded.conectado,"
        " conectado_desde = excluded.conectado_desde, ultima_marcacao = excluded.ultima_marcacao,"
        " gravada_em = excluded.gravada_em, ultimo_erro = excluded.ultimo_erro,"
        " atualizado_em = excluded.atualizado_em",
        {int64_t{e.relogio}, coletor_, int64_t{e.conectado ? 1 : 0}, e.conectadoDesde,
         e.ultimaMarcacao, e.gravadaEm, e.ultimoErro, AgoraUtc()});
  }

  std::vector<EstadoRelogio> Estados(bool contarHoje) override {
    const double agora = Agora();
    std::vector<EstadoRelogio> r;
    // The day's punches counted in one pass grouped by clock, not once per clock: a site of a
    // thousand clocks made that a thousand passes over the day's rows at every look.
    std::string hoje = "0";
    std::vector<Valor> parametros;
    if (contarHoje) {
      hoje = "COALESCE(h.n, 0)";
      parametros.emplace_back(std::in_place_type<std::string>, MeiaNoiteLocalUtc());
    }
    db_->Consulta(
        "SELECT c.relogio, COALESCE(e.coletor, ''), COALESCE(e.conectado, 0),"
        " COALESCE(e.conectado_desde, ''), COALESCE(e.ultima_marcacao, ''),"
        " COALESCE(e.gravada_em, ''), COALESCE(e.ultimo_erro, ''),"
        " COALESCE(e.atualizado_em, ''), COALESCE(a.coletor, ''), COALESCE(a.expira_em, 0), " +
            hoje +
            " FROM (SELECT relogio FROM estados UNION SELECT relogio FROM arrendamentos) c"
            " LEFT JOIN estados e ON e.relogio = c.relogio"
            " LEFT JOIN arrendamentos a ON a.relogio = c.relogio" +
            (contarHoje ? " LEFT JOIN (SELECT relogio, COUNT(*) AS n FROM marcacoes WHERE"
                          " recebida_em >= ? GROUP BY relogio) h ON h.relogio = c.relogio"
                        : "") +
            " ORDER BY c.relogio",
        parametros, [&](const Linha& l) {
          EstadoRelogio e;
          e.relogio = static_cast<int16_t>(l.Inteiro(0));
          e.coletor.assign(l.Texto(1));
          e.conectado = l.Inteiro(2) != 0;
          e.conectadoDesde.assign(l.Texto(3));
          e.ultimaMarcacao.assign(l.Texto(4));
          e.gravadaEm.assign(l.Texto(5));
          e.ultimoErro.assign(l.Texto(6));
          e.atualizadoEm.assign(l.Texto(7));
          e.arrendadoPor.assign(l.Texto(8));
          e.segundosRestantes = e.arrendadoPor.empty() ? 0 : l.Real(9) - agora;
          e.marcacoesHoje = l.Inteiro(10);
          r.push_back(std::move(e));
        });
    return r;
  }

  void Pulsa(std::chrono::seconds periodo) override {
    db_->Executa("INSERT INTO coletores (coletor, visto_em, periodo, iniciado_em) VALUES (?, " +
                     db_->Epoca() +
                     ", CAST(? AS DOUBLE PRECISION), ?) ON CONFLICT (coletor) DO UPDATE SET"
                     " visto_em = excluded.visto_em, periodo = excluded.periodo",
                 {coletor_, static_cast<double>(periodo.count()), iniciadoEm_});
  }

  void Despede() override { db_->Executa("DELETE FROM coletores WHERE coletor = ?", {coletor_}); }

  std::vector<ColetorVisto> Coletores() override {
    const double agora = Agora();
    std::vector<ColetorVisto> r;
    db_->Consulta("SELECT coletor, iniciado_em, visto_em, periodo FROM coletores ORDER BY coletor",
                  {}, [&](const Linha& l) {
                    r.push_back({std::string(l.Texto(0)), std::string(l.Texto(1)),
                                 agora - l.Real(2), l.Real(3)});
                  });
    return r;
  }

 private:
  // The punches a statement's tail (WHERE, ORDER, LIMIT) selects, one at a time.
  void LeMarcacoes(const std::string& resto, const std::vector<Valor>& p,
                   const std::function<void(const MarcacaoArmazenada&)>& visita) {
    MarcacaoArmazenada m;
    db_->Consulta("SELECT " + ColunasDasMarcacoes() + " FROM marcacoes" + resto, p,
                  [&](const Linha& l) {
                    for (size_t c = 0; c < std::size(kColunasMarcacao); ++c)
                      kColunasMarcacao[c].le(l, static_cast<int>(c), m);
                    visita(m);
                  });
  }

  // Now by the database's clock, in seconds: what leases and heartbeats are measured by.
  double Agora() {
    double agora = 0;
    db_->Consulta("SELECT " + db_->Epoca(), {}, [&](const Linha& l) { agora = l.Real(0); });
    return agora;
  }

  template <class F>
  void Transacao(F&& corpo) {
    db_->Inicia();
    try {
      corpo();
      db_->Confirma();
    } catch (...) {
      db_->Desfaz();
      throw;
    }
  }

  static std::string Onde(const Filtro& f, std::vector<Valor>& p) {
    std::string onde;
    auto junta = [&](const char* condicao, Valor v) {
      onde += onde.empty() ? " WHERE " : " AND ";
      onde += condicao;
      p.push_back(std::move(v));
    };
    if (f.de) junta("data_hora >= ?", f.de->FormataIso());
    if (f.ate) junta("data_hora <= ?", f.ate->FormataIso());
    if (f.relogio) junta("relogio = ?", int64_t{*f.relogio});
    auto lista = [&](const char* coluna, auto&& valores) {
      std::string c = std::string(coluna) + " IN (";
      for (size_t i = 0; i < valores.size(); ++i) {
        c += i ? ", ?" : "?";
        p.push_back(Valor(valores[i]));
      }
      return c + ")";
    };
    if (!f.relogios.empty()) {
      std::vector<int64_t> relogios(f.relogios.begin(), f.relogios.end());
      onde += onde.empty() ? " WHERE " : " AND ";
      onde += lista("relogio", relogios);
    }
    if (f.funcionario) {
      std::vector<std::string> quem;
      if (!f.funcionario->pis.empty()) quem.push_back(lista("pis", f.funcionario->pis));
      if (f.funcionario->cartao) {
        // A register clock's punch carries the PIS, not the card: a card names a fingerprint
        // clock's employee.
        quem.push_back("(nsr = 0 AND cartao = ?)");
        p.push_back(int64_t{*f.funcionario->cartao});
      }
      onde += onde.empty() ? " WHERE " : " AND ";
      onde += quem.empty() ? "1 = 0"
                           : (quem.size() == 1 ? quem[0] : "(" + quem[0] + " OR " + quem[1] + ")");
    }
    return onde;
  }

  // A reader takes the store as it is: its schema must be this program's.
  void ConfereEsquema(const std::string& endereco) {
    std::optional<int64_t> versao;
    try {
      db_->Consulta("SELECT versao FROM esquema", {},
                    [&](const Linha& l) { versao = l.Inteiro(0); });
    } catch (const Erro&) {
      // No schema table: not a store (or an empty database).
    }
    if (!versao)
      interno::Falha("Abre", (EhPostgres(endereco) ? std::string("o banco PostgreSQL")
                                                   : "\"" + endereco + "\"") +
                                 " não é um banco de marcações (nenhuma coleta o gravou ainda).");
    if (*versao != kVersaoEsquema)
      interno::Falha(
          "Abre", "o banco está na versão " + std::to_string(*versao) +
                      " do esquema e este programa lê a " + std::to_string(kVersaoEsquema) +
                      (*versao < kVersaoEsquema ? "; uma coleta (ponto coletar --banco) o atualiza."
                                                : "; atualize o programa."));
  }

  void Migra() {
    Transacao([&] {
      db_->TravaMigracao();
      db_->Executa("CREATE TABLE IF NOT EXISTS esquema (versao INTEGER NOT NULL)");
      std::optional<int64_t> versao;
      db_->Consulta("SELECT versao FROM esquema", {},
                    [&](const Linha& l) { versao = l.Inteiro(0); });
      if (!versao) {
        db_->Executa("INSERT INTO esquema (versao) VALUES (0)");
        versao = 0;
      }
      if (*versao > kVersaoEsquema)
        interno::Falha("Abre", "o banco está na versão " + std::to_string(*versao) +
                                   " do esquema, mais nova que a " +
                                   std::to_string(kVersaoEsquema) +
                                   " deste programa; atualize o programa.");
      for (int64_t v = *versao; v < kVersaoEsquema; ++v) {
        for (const auto& comando : Comandos(kMigracoes[v])) db_->Executa(comando);
        db_->Executa("UPDATE esquema SET versao = ?", {v + 1});
      }
    });
  }

  std::unique_ptr<Conexao> db_;
  std::string coletor_;
  std::string iniciadoEm_;  // when this program opened the store: a collector's start
};

bool EhPostgres(const std::string& e) {
  return e.rfind("postgresql://", 0) == 0 || e.rfind("postgres://", 0) == 0 ||
         e.find("dbname=") != std::string::npos || e.find("host=") != std::string::npos;
}

}  // namespace

std::unique_ptr<Armazem> Armazem::Abre(const std::string& endereco, std::string coletor,
                                       Acesso acesso) {
  if (endereco.empty()) interno::Falha("Abre", "nenhum banco informado.");
  const bool leitura = acesso == Acesso::Leitura;
  auto db = EhPostgres(endereco) ? interno::AbrePostgres(endereco, leitura)
                                 : interno::AbreSqlite(endereco, leitura);
  return std::make_unique<ArmazemSql>(std::move(db), std::move(coletor), acesso, endereco);
}

std::string BancoPadrao() {
  const char* e = std::getenv("PONTO_BANCO");
  return e && *e ? e : "ponto.db";
}

}  // namespace quorvel::armazem
