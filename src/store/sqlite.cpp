// The store's SQLite connection: one file, WAL mode, statements prepared once and reused.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>

#include "store/conexao.h"

namespace quorvel::armazem::interno {
namespace {

class LinhaSqlite final : public Linha {
 public:
  explicit LinhaSqlite(sqlite3_stmt* s) : s_(s) {}
  int64_t Inteiro(int c) const override { return sqlite3_column_int64(s_, c); }
  double Real(int c) const override { return sqlite3_column_double(s_, c); }
  std::string_view Texto(int c) const override {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, c));
    return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(s_, c)))
             : std::string_view();
  }

 private:
  sqlite3_stmt* s_;
};

// What SQLite said, in a Portuguese sentence first; its own text follows in parentheses. For a
// store that could not be opened, `caminho` lets the usual causes be named.
std::string Motivo(sqlite3* db, const std::string& caminho = {}, bool somenteLeitura = false) {
  const int rc = db ? (sqlite3_errcode(db) & 0xFF) : SQLITE_NOMEM;
  const std::string dele = db ? sqlite3_errmsg(db) : "out of memory";
  std::string dito;
  switch (rc) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      dito = "o banco está ocupado por outro processo";
      break;
    case SQLITE_FULL:
      dito = "disco cheio";
      break;
    case SQLITE_READONLY:
      dito = "o banco só pode ser lido (permissão ou sistema de arquivos)";
      break;
    case SQLITE_PERM:
    case SQLITE_AUTH:
      dito = "sem permissão";
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      dito = "o arquivo está danificado ou não é um banco SQLite";
      break;
    case SQLITE_IOERR:
      dito = "erro de entrada e saída no disco";
      break;
    case SQLITE_NOMEM:
      dito = "sem memória";
      break;
    case SQLITE_CANTOPEN: {
      const auto barra = caminho.rfind('/');
      const std::string pasta =
          barra == std::string::npos ? "." : (barra == 0 ? "/" : caminho.substr(0, barra));
      struct stat st {};
      if (::stat(pasta.c_str(), &st) != 0)
        dito = "a pasta \"" + pasta + "\" não existe";
      else if (::stat(caminho.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        dito = "é uma pasta, não um arquivo";
      else if (::access(caminho.c_str(), somenteLeitura ? R_OK : R_OK | W_OK) != 0 &&
               ::access(caminho.c_str(), F_OK) == 0)
        dito = "sem permissão para " + std::string(somenteLeitura ? "ler" : "ler e gravar") +
               " o arquivo";
      else
        dito = "sem permissão na pasta \"" + pasta + "\" ou arquivo inacessível";
      break;
    }
    default:
      dito = "o SQLite recusou a operação";
  }
  return dito + " (" + dele + ")";
}

constexpr size_t kParametrosPorInsercao = 2560;

std::string Insercao(const std::string& tabela, const std::string& colunas, size_t porLinha,
                     size_t linhas) {
  std::string uma = "(";
  for (size_t c = 0; c < porLinha; ++c) uma += c ? ",?" : "?";
  uma += ")";
  std::string sql = "INSERT INTO " + tabela + " (" + colunas + ") VALUES ";
  for (size_t i = 0; i < linhas; ++i) sql += (i ? "," : "") + uma;
  return sql + " ON CONFLICT DO NOTHING";
}

class ConexaoSqlite final : public Conexao {
 public:
  ConexaoSqlite(const std::string& caminho, bool somenteLeitura) {
    // A reader given a path that is not there (a typo) must not leave an empty store behind
    // and report nothing found.
    if (somenteLeitura && ::access(caminho.c_str(), F_OK) != 0)
      Falha("Abre", "o banco \"" + caminho + "\" não existe.");
    const int modo =
        somenteLeitura ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(caminho.c_str(), &db_, modo | SQLITE_OPEN_FULLMUTEX, nullptr) !=
        SQLITE_OK) {
      const std::string m = Motivo(db_, caminho, somenteLeitura);
      sqlite3_close(db_);
      db_ = nullptr;
      Falha("Abre", "não foi possível abrir o banco \"" + caminho + "\": " + m);
    }
    // A second collector or an export waits for a writer instead of failing at once.
    sqlite3_busy_timeout(db_, 10000);
    if (somenteLeitura) return;  // the writer that made it chose WAL, which stays with the file
    try {
      Executa("PRAGMA journal_mode=WAL", {});
      Executa("PRAGMA synchronous=NORMAL", {});
    } catch (...) {
      // A file that is not a store fails here: no destructor runs for a half-made connection.
      Fecha();
      throw;
    }
  }
  ~ConexaoSqlite() override { Fecha(); }

  int64_t Executa(const std::string& sql, const std::vector<Valor>& parametros) override {
    sqlite3_stmt* s = Prepara(sql, parametros);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    }
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) Falha("Executa", Motivo(db_));
    return sqlite3_changes(db_);
  }

  void Consulta(const std::string& sql, const std::vector<Valor>& parametros,
                const std::function<void(const Linha&)>& linha) override {
    sqlite3_stmt* s = Prepara(sql, parametros);
    struct Reinicia {
      sqlite3_stmt* s;
      ~Reinicia() { sqlite3_reset(s); }
    } reinicia{s};
    LinhaSqlite l(s);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) linha(l);
    if (rc != SQLITE_DONE) Falha("Consulta", Motivo(db_));
  }

  void Inicia() override { Executa("BEGIN IMMEDIATE", {}); }
  void Confirma() override { Executa("COMMIT", {}); }
  void Desfaz() noexcept override { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }
  void TravaMigracao() override {}  // BEGIN IMMEDIATE already excludes other writers
  std::string Epoca() const override { return "((julianday('now') - 2440587.5) * 86400.0)"; }

  // Many rows per statement: fewer statements for a large batch, under SQLite's parameter
  // limit; the rest one per statement, so only two statement texts are ever prepared.
  size_t InsereSemRepetir(const std::string& tabela, const std::string& colunas,
                          const LoteDeLinhas& lote) override {
    const size_t porInsercao = std::max<size_t>(1, kParametrosPorInsercao / lote.Colunas());
    const std::string cheia = Insercao(tabela, colunas, lote.Colunas(), porInsercao),
                      uma = Insercao(tabela, colunas, lote.Colunas(), 1);
    struct Parametros final : ValoresDeLinha {
      std::vector<Valor> p;
      void Inteiro(int64_t v) override { p.emplace_back(v); }
      void Texto(std::string_view v) override { p.emplace_back(std::string(v)); }
    } valores;
    valores.p.reserve(porInsercao * lote.Colunas());
    size_t novas = 0;
    for (size_t i = 0; i < lote.Linhas();) {
      const size_t n = lote.Linhas() - i >= porInsercao ? porInsercao : 1;
      valores.p.clear();
      for (size_t k = 0; k < n; ++k, ++i) lote.Linha(i, valores);
      novas += static_cast<size_t>(Executa(n == 1 ? uma : cheia, valores.p));
    }
    return novas;
  }

 private:
  void Fecha() noexcept {
    for (auto& [sql, s] : preparados_) sqlite3_finalize(s);
    preparados_.clear();
    sqlite3_close(db_);
    db_ = nullptr;
  }

  sqlite3_stmt* Prepara(const std::string& sql, const std::vector<Valor>& parametros) {
    sqlite3_stmt*& s = preparados_[sql];
    if (!s && sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &s, nullptr) !=
                  SQLITE_OK) {
      const std::string m = Motivo(db_);
      preparados_.erase(sql);
      Falha("Prepara", m);
    }
    sqlite3_clear_bindings(s);
    for (size_t i = 0; i < parametros.size(); ++i) {
      const int n = static_cast<int>(i + 1);
      const Valor& v = parametros[i];
      if (const auto* x = std::get_if<int64_t>(&v))
        sqlite3_bind_int64(s, n, *x);
      else if (const auto* d = std::get_if<double>(&v))
        sqlite3_bind_double(s, n, *d);
      else if (const auto* t = std::get_if<std::string>(&v))
        sqlite3_bind_text(s, n, t->data(), static_cast<int>(t->size()), SQLITE_STATIC);
      else
        sqlite3_bind_null(s, n);
    }
    return s;
  }

  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> preparados_;
};

}  // namespace

std::unique_ptr<Conexao> AbreSqlite(const std::string& caminho, bool somenteLeitura) {
  return std::make_unique<ConexaoSqlite>(caminho, somenteLeitura);
}

}  // namespace quorvel::armazem::interno
