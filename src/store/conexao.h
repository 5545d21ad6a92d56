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

// One row's values, given in its columns' order.
class ValoresDeLinha {
 public:
  virtual ~ValoresDeLinha() = default;
  virtual void Inteiro(int64_t v) = 0;
  virtual void Texto(std::string_view v) = 0;
};

// The rows of a bulk insert, each given value by value.
class LoteDeLinhas {
 public:
  virtual ~LoteDeLinhas() = default;
  virtual size_t Linhas() const = 0;
  virtual size_t Colunas() const = 0;
  virtual void Linha(size_t i, ValoresDeLinha& valores) const = 0;
};

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
  // Inserts `lote`'s rows into `tabela` (`colunas`: their names, comma-separated, in the order
  // each row gives its values), turning away those a unique index already holds; returns the
  // rows inserted. Inside the caller's transaction, each database by its own fastest way.
  virtual size_t InsereSemRepetir(const std::string& tabela, const std::string& colunas,
                                  const class LoteDeLinhas& lote) = 0;
};

// `somenteLeitura`: nothing is created or written through the connection.
std::unique_ptr<Conexao> AbreSqlite(const std::string& caminho, bool somenteLeitura = false);
std::unique_ptr<Conexao> AbrePostgres(const std::string& endereco, bool somenteLeitura = false);

}  // namespace quorvel::armazem::interno
