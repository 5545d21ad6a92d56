// The store's PostgreSQL connection through libpq: parameters sent as text, '?' placeholders
// numbered $1, $2… once per statement text.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <unordered_map>

#include "store/conexao.h"

namespace quorvel::armazem::interno {
namespace {

class LinhaPostgres final : public Linha {
 public:
  LinhaPostgres(const PGresult* r, int linha) : r_(r), linha_(linha) {}
  int64_t Inteiro(int c) const override { return std::strtoll(Valor(c), nullptr, 10); }
  double Real(int c) const override { return std::strtod(Valor(c), nullptr); }
  std::string_view Texto(int c) const override {
    return {PQgetvalue(r_, linha_, c), static_cast<size_t>(PQgetlength(r_, linha_, c))};
  }

 private:
  const char* Valor(int c) const { return PQgetvalue(r_, linha_, c); }
  const PGresult* r_;
  int linha_;
};

struct Resultado {
  PGresult* r;
  ~Resultado() { PQclear(r); }
};

class ConexaoPostgres final : public Conexao {
 public:
  explicit ConexaoPostgres(const std::string& endereco) {
    // A server that is gone must not hang the caller: the connection attempt and a link that
    // stops answering give up within seconds. Written before the address, so anything the
    // address says about them wins.
    const char* const chaves[] = {"connect_timeout",
                                  "keepalives_idle",
                                  "keepalives_interval",
                                  "keepalives_count",
                                  "tcp_user_timeout",
                                  "dbname",
                                  nullptr};
    const char* const valores[] = {"5", "10", "3", "3", "20000", endereco.c_str(), nullptr};
    pg_ = PQconnectdbParams(chaves, valores, /*expand_dbname=*/1);
    if (!pg_ || PQstatus(pg_) != CONNECTION_OK) {
      const std::string m = pg_ ? Limpa(PQerrorMessage(pg_)) : "out of memory";
      PQfinish(pg_);
      pg_ = nullptr;
      Falha("Abre", "não foi possível conectar ao PostgreSQL (" + m + ")");
    }
    // libpq writes the server's notices ("terminating connection due to…") to stderr by
    // itself, breaking the host's one-line log; the failure that follows is reported anyway.
    PQsetNoticeProcessor(
        pg_, [](void*, const char*) {}, nullptr);
    Executa("SET client_min_messages = warning", {});
  }
  ~ConexaoPostgres() override { PQfinish(pg_); }

  int64_t Executa(const std::string& sql, const std::vector<Valor>& parametros) override {
    Resultado r{Roda(sql, parametros)};
    const auto estado = PQresultStatus(r.r);
    if (estado != PGRES_COMMAND_OK && estado != PGRES_TUPLES_OK)
      FalhaDoServidor("Executa", Mensagem(r.r));
    const char* n = PQcmdTuples(r.r);
    return *n ? std::strtoll(n, nullptr, 10) : 0;
  }

  // Rows arrive one at a time (libpq's single-row mode): an export of millions of punches
  // never holds the whole result in memory.
  void Consulta(const std::string& sql, const std::vector<Valor>& parametros,
                const std::function<void(const Linha&)>& linha) override {
    Textos textos(parametros);
    const std::string* nome = Preparado(sql, parametros.size());
    const int enviou =
        nome ? PQsendQueryPrepared(pg_, nome->c_str(), static_cast<int>(parametros.size()),
                                   textos.ponteiros.data(), nullptr, nullptr, 0)
             : PQsendQueryParams(pg_, Numerado(sql).c_str(), 0, nullptr, nullptr, nullptr, nullptr,
                                 0);
    if (!enviou) FalhaDoServidor("Consulta", Limpa(PQerrorMessage(pg_)));
    PQsetSingleRowMode(pg_);
    std::string erro;
    bool interrompida = false;
    std::exception_ptr falhaNoVisitante;
    while (PGresult* r = PQgetResult(pg_)) {
      Resultado guarda{r};
      const auto estado = PQresultStatus(r);
      if (estado == PGRES_SINGLE_TUPLE && !interrompida) {
        try {
          linha(LinhaPostgres(r, 0));
        } catch (...) {
          // The rest of the result is still read, so the connection stays usable.
          interrompida = true;
          falhaNoVisitante = std::current_exception();
        }
      } else if (estado != PGRES_SINGLE_TUPLE && estado != PGRES_TUPLES_OK && erro.empty()) {
        erro = Mensagem(r);
      }
    }
    if (falhaNoVisitante) std::rethrow_exception(falhaNoVisitante);
    if (!erro.empty()) FalhaDoServidor("Consulta", erro);
  }

  void Inicia() override { Executa("BEGIN", {}); }
  void Confirma() override { Executa("COMMIT", {}); }
  void Desfaz() noexcept override {
    if (PGresult* r = PQexec(pg_, "ROLLBACK")) PQclear(r);
  }
  void TravaMigracao() override { Executa("SELECT pg_advisory_xact_lock(4370, 1)", {}); }
  // By COPY, the database's own bulk load. Straight into the table first, under a savepoint:
  // a first collection never meets a row already stored. A batch that does (a collection
  // resumed after a crash, two collectors while a lease passes over) makes COPY stop at that
  // row; the savepoint undoes it, and the batch goes by COPY into a table of this session and
  // from there in one INSERT … SELECT that turns the stored ones away. Resumed batches usually
  // meet their first stored row at their first row, so the attempt costs them little.
  size_t InsereSemRepetir(const std::string& tabela, const std::string& colunas,
                          const LoteDeLinhas& lote) override {
    if (lote.Linhas() == 0) return 0;
    struct TextoDeCopy final : ValoresDeLinha {
      std::string dados;
      void Inteiro(int64_t v) override {
        dados += std::to_string(v);
        dados += '\t';
      }
      // Backslash, tab and line ends escaped, as COPY's text format reads a field.
      void Texto(std::string_view v) override {
        for (char c : v) {
          switch (c) {
            case '\\':
              dados += "\\\\";
              break;
            case '\t':
              dados += "\\t";
              break;
            case '\n':
              dados += "\\n";
              break;
            case '\r':
              dados += "\\r";
              break;
            default:
              dados += c;
          }
        }
        dados += '\t';
      }
    } copia;
    copia.dados.reserve(lote.Linhas() * 96);
    for (size_t i = 0; i < lote.Linhas(); ++i) {
      lote.Linha(i, copia);
      copia.dados.back() = '\n';  // the last field's tab ends the row
    }
    Executa("SAVEPOINT lote", {});
    bool duplicou = false;
    const int64_t direto =
        Copia("COPY " + tabela + " (" + colunas + ") FROM STDIN", copia.dados, duplicou);
    if (!duplicou) {
      Executa("RELEASE SAVEPOINT lote", {});
      return static_cast<size_t>(direto);
    }
    Executa("ROLLBACK TO SAVEPOINT lote", {});
    // Emptied at every commit, and gone with a rolled-back transaction's rows.
    const std::string lado = tabela + "_lote";
    Executa(
        "CREATE TEMP TABLE IF NOT EXISTS " + lado + " (LIKE " + tabela + ") ON COMMIT DELETE ROWS",
        {});
    Copia("COPY " + lado + " (" + colunas + ") FROM STDIN", copia.dados, duplicou);
    return static_cast<size_t>(Executa("INSERT INTO " + tabela + " (" + colunas + ") SELECT " +
                                           colunas + " FROM " + lado + " ON CONFLICT DO NOTHING",
                                       {}));
  }
  std::string Epoca() const override {
    return "CAST(extract(epoch FROM clock_timestamp()) AS DOUBLE PRECISION)";
  }

 private:
  // Runs `copy` (a "COPY … FROM STDIN" in text format) with `dados` as its input; returns the
  // rows loaded. A row a unique index already holds sets `duplicou` and loads nothing (the
  // transaction must be rolled back to before it); any other failure raises.
  int64_t Copia(const std::string& copy, const std::string& dados, bool& duplicou) {
    duplicou = false;
    int64_t linhas = 0;
    Resultado inicio{PQexec(pg_, copy.c_str())};
    if (!inicio.r || PQresultStatus(inicio.r) != PGRES_COPY_IN)
      FalhaDoServidor("Copia", inicio.r ? Mensagem(inicio.r) : Limpa(PQerrorMessage(pg_)));
    // In pieces of 1 MiB: libpq copies what it is given into its own buffer.
    constexpr size_t kPedaco = 1u << 20;
    std::string erro;
    for (size_t i = 0; i < dados.size() && erro.empty(); i += kPedaco) {
      const size_t n = std::min(kPedaco, dados.size() - i);
      if (PQputCopyData(pg_, dados.data() + i, static_cast<int>(n)) != 1)
        erro = Limpa(PQerrorMessage(pg_));
    }
    if (PQputCopyEnd(pg_, erro.empty() ? nullptr : erro.c_str()) != 1 && erro.empty())
      erro = Limpa(PQerrorMessage(pg_));
    while (PGresult* r = PQgetResult(pg_)) {
      Resultado guarda{r};
      if (PQresultStatus(r) == PGRES_COMMAND_OK) {
        const char* n = PQcmdTuples(r);
        linhas = *n ? std::strtoll(n, nullptr, 10) : 0;
      } else if (erro.empty()) {
        const char* estado = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        duplicou = estado && std::string_view(estado) == "23505";  // unique_violation
        erro = Mensagem(r);
      }
    }
    if (duplicou) return 0;
    if (!erro.empty()) FalhaDoServidor("Copia", erro);
    return linhas;
  }

  const std::string& Numerado(const std::string& sql) {
    auto [it, novo] = numerados_.try_emplace(sql);
    if (novo) {
      int n = 0;
      for (char c : sql) it->second += c == '?' ? "$" + std::to_string(++n) : std::string(1, c);
    }
    return it->second;
  }

  // A statement with parameters is prepared once per connection: a batch of ten thousand
  // punches is then 40 executions of one plan, not 40 parses and plans.
  const std::string* Preparado(const std::string& sql, size_t parametros) {
    if (parametros == 0) return nullptr;
    auto [it, novo] = preparados_.try_emplace(sql);
    if (novo) {
      it->second = "q" + std::to_string(preparados_.size());
      Resultado r{PQprepare(pg_, it->second.c_str(), Numerado(sql).c_str(),
                            static_cast<int>(parametros), nullptr)};
      if (!r.r || PQresultStatus(r.r) != PGRES_COMMAND_OK) {
        const std::string m = r.r ? Mensagem(r.r) : Limpa(PQerrorMessage(pg_));
        preparados_.erase(it);
        FalhaDoServidor("Prepara", m);
      }
    }
    return &it->second;
  }

  // Parameters as the texts libpq sends (nullptr for NULL).
  struct Textos {
    explicit Textos(const std::vector<Valor>& parametros)
        : textos(parametros.size()), ponteiros(parametros.size()) {
      for (size_t i = 0; i < parametros.size(); ++i) {
        const Valor& v = parametros[i];
        if (const auto* x = std::get_if<int64_t>(&v))
          textos[i] = std::to_string(*x);
        else if (const auto* d = std::get_if<double>(&v))
          textos[i] = std::to_string(*d);
        else if (const auto* t = std::get_if<std::string>(&v))
          textos[i] = *t;
        ponteiros[i] = std::holds_alternative<std::nullptr_t>(v) ? nullptr : textos[i].c_str();
      }
    }
    std::vector<std::string> textos;
    std::vector<const char*> ponteiros;
  };

  PGresult* Roda(const std::string& sql, const std::vector<Valor>& parametros) {
    Textos textos(parametros);
    const std::string* nome = Preparado(sql, parametros.size());
    PGresult* r =
        nome ? PQexecPrepared(pg_, nome->c_str(), static_cast<int>(parametros.size()),
                              textos.ponteiros.data(), nullptr, nullptr, 0)
             : PQexecParams(pg_, Numerado(sql).c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
    if (!r) FalhaDoServidor("Executa", Limpa(PQerrorMessage(pg_)));
    return r;
  }

  // libpq's text on one line: its hints come on lines of their own, indented with tabs.
  static std::string Limpa(std::string m) {
    std::string r;
    for (size_t i = 0; i < m.size(); ++i) {
      if (m[i] != '\n') {
        r += m[i] == '\t' ? ' ' : m[i];
        continue;
      }
      while (i + 1 < m.size() && (m[i + 1] == '\t' || m[i + 1] == ' ')) ++i;
      if (i + 1 < m.size()) r += "; ";
    }
    while (!r.empty() && r.back() == ' ') r.pop_back();
    return r;
  }

  // The server's (or libpq's) text inside a Portuguese sentence saying what failed: a link that
  // fell is told apart from a command the server refused.
  [[noreturn]] void FalhaDoServidor(std::string_view metodo, const std::string& texto) {
    const bool caiu = !pg_ || PQstatus(pg_) == CONNECTION_BAD;
    Falha(metodo,
          std::string(caiu ? "a conexão com o PostgreSQL caiu" : "o PostgreSQL recusou o comando") +
              " (" + texto + ")");
  }

  static std::string Mensagem(const PGresult* r) { return Limpa(PQresultErrorMessage(r)); }

  PGconn* pg_ = nullptr;
  std::unordered_map<std::string, std::string> numerados_;
  std::unordered_map<std::string, std::string> preparados_;  // SQL -> statement name
};

}  // namespace

std::unique_ptr<Conexao> AbrePostgres(const std::string& endereco, bool somenteLeitura) {
  auto c = std::make_unique<ConexaoPostgres>(endereco);
  // Every transaction of the session, and every statement outside one, only reads.
  if (somenteLeitura) c->Executa("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY", {});
  return c;
}

}  // namespace quorvel::armazem::interno
