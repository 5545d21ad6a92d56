// What the store needs from a database: statements with '?' placeholders, rows read by
// column, transactions, and the few expressions the two dialects write differently.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvel::armazem::interno {

using Valor = std::variant<std::nullptr_t, int64_t, double, std::string>;

class Linha {
 public:
  virtual ~Linha() = default;
  virtual int64_t Inteiro(int coluna) const = 0;
  virtual double Real(int coluna) const = 0;
  virtual std::string_view Texto(int coluna) const = 0;
};

// Raises the store's error: erro::kArmazem, class "Armazem".
[[noreturn]] void Falha(std::string_view metodo, const std::string& mensagem);

class Conexao {
 public:
  virtual ~Conexao() = default;
  // Runs one statement; returns the number of rows it inserted, changed or deleted.
  virtual int64_t Executa(const std::string& sql, const std::vector<Valor>& parametros = {}) = 0;
  virtual void Consulta(const std::string& sql, const std::vector<Valor>& parametros,
                        const std::function<void(const Linha&)>& linha) = 0;
  // A write transaction. SQLite takes its write lock at once, so two writers never meet
  // halfway through and deadlock.
  virtual void Inicia() = 0;
  virtual void Confirma() = 0;
  virtual void Desfaz() noexcept = 0;
  // Serializes schema migrations of concurrent openers (inside a transaction).
  virtual void TravaMigracao() = 0;
  // SQL for the database's own clock, in seconds since 1970: leases use the database's time so
  // that collectors on machines whose clocks disagree still agree on who holds a clock.
  virtual std::string Epoca() const = 0;
  // True where a batch goes best through the database's bulk load (PostgreSQL's COPY).
  virtual bool CopiaEmLote() const { return false; }
  // Runs `copy` (a "COPY … FROM STDIN" in text format) with `dados` as its input: rows of
  // tab-separated fields, each line ended by '\n', escaped as that format asks; returns the
  // rows loaded. A row a unique index already holds sets `duplicou` and loads nothing (the
  // transaction must be rolled back to before it); any other failure raises. Only where
  // CopiaEmLote() is true.
  virtual int64_t Copia(const std::string& copy, const std::string& dados, bool& duplicou) {
    (void)copy, (void)dados, (void)duplicou;
    Falha("Copia", "carga em lote indisponível neste banco.");
  }
};

// `somenteLeitura`: nothing is created or written through the connection.
std::unique_ptr<Conexao> AbreSqlite(const std::string& caminho, bool somenteLeitura = false);
std::unique_ptr<Conexao> AbrePostgres(const std::string& endereco, bool somenteLeitura = false);

}  // namespace quorvel::armazem::interno
