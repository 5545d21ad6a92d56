// The punch store: every punch collected from the clocks kept once, with how far each clock
// has been collected, the PIS -> CPF table the fiscal export needs, and the leases that let
// several collectors share the clocks. Two implementations behind one interface: SQLite (one
// file, the embedded default) and PostgreSQL (shared by collectors on several machines).
//
// The store lives outside the control: it knows punches, not clocks or connections.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "quorvel/data_hora.h"
#include "quorvel/enumeracoes.h"

namespace quorvel::armazem {

// Every failure of the store (cannot open, schema newer than this program, a statement the
// database refused) is an Erro numbered erro::kArmazem, class "Armazem", the database's own
// message in the description.

// The schema this program writes. A database with a newer one is refused, an older one
// migrated on open.
inline constexpr int kVersaoEsquema = 6;

// A punch as the store keeps it. Its identity: register model, clock + NSR; fingerprint model,
// clock + card + time + `ordem` (0 for the first punch of that card at that second in the
// clock's log, 1 for the second...).
struct MarcacaoArmazenada {
  int16_t relogio = 0;
  EModeloRelogio modelo = EModeloRelogio_Quorvel;
  DataHora momento;  // the clock's own local time
  int32_t cartao = 0;
  bool porDigital = false;
  int32_t ordem = 0;
  int64_t nsr = 0;  // 0 for the fingerprint model
  std::string pis;
  // Filled when read back: when (UTC, "aaaa-mm-ddThh:mm:ssZ") and by which collector.
  std::string recebidaEm;
  std::string coletor;
};

// How far a clock has been collected. Register model: the last NSR stored and the number of
// records read from the start of its log (the pointer of firmware that counts records).
// Fingerprint model: the position in the clock's log after the last punch stored, and the
// identity of the punch at that position (`IdentidadeDigital`), so that a log erased and
// refilled past the position is not taken for the one that was read.
struct Cursor {
  int64_t ultimoNsr = 0;
  int64_t posicao = 0;
  std::string identidade;  // empty: none known (nothing read yet, or a store of schema 1)
};

// A fingerprint punch's identity in a cursor: card, time and whether by fingerprint.
std::string IdentidadeDigital(int32_t cartao, DataHora momento, bool porDigital);

// One employee's punches: those with one of these PIS (register clocks) or this card
// (fingerprint clocks). Both empty: none.
struct FiltroFuncionario {
  std::vector<std::string> pis;
  std::optional<int32_t> cartao;
};

// Which punches to read back; empty fields do not filter. `ate` is inclusive. `relogio` and
// `relogios` (any of them) both hold when both are given.
struct Filtro {
  std::optional<DataHora> de, ate;
  std::optional<int16_t> relogio;
  std::vector<int16_t> relogios;
  std::optional<FiltroFuncionario> funcionario;
};

// What a count is grouped by: the hour ("aaaa-mm-dd hh") or the day ("aaaa-mm-dd") of the
// punch's clock time.
enum class Periodo { Hora, Dia };

// What a collector service last said about a clock.
struct EstadoRelogio {
  int16_t relogio = 0;
  std::string coletor;
  bool conectado = false;
  std::string conectadoDesde;  // UTC, since when `conectado` holds (connected or not)
  std::string ultimaMarcacao;  // "aaaa-mm-dd hh:mm:ss", clock time
  std::string gravadaEm;       // UTC, when the last punch of the clock was stored
  std::string ultimoErro;
  std::string atualizadoEm;  // UTC
  // Filled when read back: punches of the clock stored since local midnight.
  int64_t marcacoesHoje = 0;
  // Lease: who holds the clock now and for how many more seconds (negative: expired).
  std::string arrendadoPor;
  double segundosRestantes = 0;
  bool ArrendamentoVivo() const { return !arrendadoPor.empty() && segundosRestantes > 0; }
};

// A collector service as its heartbeat shows it.
struct ColetorVisto {
  std::string nome;
  std::string iniciadoEm;         // UTC
  double segundosDesdePulso = 0;  // by the database's clock
  double periodo = 0;             // its lease period: a heartbeat older than this is a stop
  bool Vivo() const { return segundosDesdePulso < periodo; }
};

// Who opens the store: a collector writes (and creates and migrates it); a reader only reads.
enum class Acesso { Escrita, Leitura };

class Armazem {
 public:
  // "postgresql://…" or "postgres://…" (or "host=… dbname=…") opens PostgreSQL; anything else
  // is a SQLite file, created on first use (WAL mode). The schema is created or migrated.
  // `coletor` names this collector in every punch it stores and in the leases it takes.
  // Acesso::Leitura never creates nor changes anything: a SQLite file that does not exist, a
  // file or database without the store's schema, or one of an older schema is an error naming
  // it; SQLite opens read-only, PostgreSQL in read-only transactions. Raises erro::kArmazem.
  static std::unique_ptr<Armazem> Abre(const std::string& endereco, std::string coletor,
                                       Acesso acesso = Acesso::Escrita);

  virtual ~Armazem() = default;
  virtual int VersaoEsquema() = 0;
  virtual const std::string& Coletor() const = 0;

  // In one transaction: stores the punches (all of clock `relogio`) not stored yet (a punch already
  // there is left as it is, enforced by the database's unique keys) and sets the clock's cursor.
  // Returns how many were new. Nothing is stored when it raises.
  virtual size_t Grava(int16_t relogio, const std::vector<MarcacaoArmazenada>& marcacoes,
                       const Cursor& cursor) = 0;
  // The clock's cursor; nothing before its first collection.
  virtual std::optional<Cursor> CursorDe(int16_t relogio) = 0;

  // PIS -> CPF (and name) from the clocks' employee records; a PIS already known is updated,
  // and each new or changed record is kept in the history as read at `lidoEm` (UTC
  // "aaaa-mm-ddThh:mm:ssZ"; empty: now), so a CPF corrected on the clock applies from then on.
  struct Funcionario {
    std::string pis, cpf, nome;
  };
  virtual void GravaFuncionarios(const std::vector<Funcionario>& funcionarios,
                                 const std::string& lidoEm = "") = 0;
  virtual std::unordered_map<std::string, Funcionario> Funcionarios() = 0;
  // Every version of each employee, oldest first: (read at, UTC; the record then).
  using Versoes = std::vector<std::pair<std::string, Funcionario>>;
  virtual std::unordered_map<std::string, Versoes> HistoricoFuncionarios() = 0;

  // The employer a clock was given (`ponto empregador`), newest last; kept, never replaced.
  struct Empregador {
    int16_t relogio = 0;
    bool cpf = false;  // the document is a CPF, not a CNPJ
    std::string documento, cei, razaoSocial, endereco;
    std::string gravadoEm;  // UTC; filled when read back
  };
  virtual void GravaEmpregador(const Empregador& e) = 0;
  virtual std::optional<Empregador> EmpregadorDe(int16_t relogio) = 0;

  // A register clock's fiscal record other than a punch (employer, clock set, employee: types
  // 2, 4 and 5), as the clock's own fiscal file wrote it; kept once per clock and NSR.
  struct RegistroFiscal {
    int16_t relogio = 0;
    int64_t nsr = 0;
    int32_t tipo = 0;
    DataHora momento;      // the clock's date-time the record gives first
    std::string registro;  // the line, CRC included (UTF-8 here; the file's is ISO-8859-1)
  };
  // Returns how many were new.
  virtual size_t GravaRegistrosFiscais(const std::vector<RegistroFiscal>& registros) = 0;
  // Those that pass the filter's clocks and period (its employee part does not apply), by
  // clock and NSR.
  virtual std::vector<RegistroFiscal> RegistrosFiscais(const Filtro& filtro) = 0;
  // What a register clock's own fiscal file says of the clock: the latest one read replaces it.
  struct IdentificacaoRelogio {
    int16_t relogio = 0;
    std::string fabricacao;  // manufacturing number
    bool fabricanteCpf = false;
    std::string fabricanteDocumento, modelo;
  };
  virtual void GravaIdentificacao(const IdentificacaoRelogio& i) = 0;
  virtual std::optional<IdentificacaoRelogio> IdentificacaoDe(int16_t relogio) = 0;

  // The stored punches that pass `filtro`, by clock, then NSR (register) or time and order.
  virtual void Percorre(const Filtro& filtro,
                        const std::function<void(const MarcacaoArmazenada&)>& visita) = 0;
  virtual size_t Conta(const Filtro& filtro) = 0;
  // At most `limite` of the punches that pass `filtro`, skipping the first `deslocamento`, in
  // time order (then clock, NSR, order, card): a page for people, never the whole table.
  virtual std::vector<MarcacaoArmazenada> Pagina(const Filtro& filtro, size_t deslocamento,
                                                 size_t limite) = 0;
  // How many punches pass `filtro` in each hour or day that has any, in order.
  virtual std::vector<std::pair<std::string, int64_t>> ContaPor(const Filtro& filtro,
                                                                Periodo periodo) = 0;
  // The punches stored at or after `desde` (UTC text as `recebidaEm`), newest first, at most
  // `limite`: what a watcher has not seen yet. Cheap on a large store (an index serves it).
  virtual std::vector<MarcacaoArmazenada> RecebidasDesde(const std::string& desde,
                                                         size_t limite) = 0;

  // Takes or renews the lease of a clock for `validade`, by the database's clock: true when
  // this collector holds it now (it was free, expired, or already ours).
  virtual bool Arrenda(int16_t relogio, std::chrono::seconds validade) = 0;
  // Gives a lease up at once, so another collector can take the clock without waiting.
  virtual void Libera(int16_t relogio) = 0;

  virtual void GravaEstado(const EstadoRelogio& estado) = 0;
  // Every clock a collector reported on or leased, by clock. `contarHoje`: with the punches
  // stored since local midnight (a pass over the day's rows, for people: the collectors' own
  // rounds do without).
  virtual std::vector<EstadoRelogio> Estados(bool contarHoje) = 0;

  // This collector's heartbeat, by the database's clock, with the lease period it works by
  // (within which the next heartbeat comes); Despede removes it at a clean exit.
  virtual void Pulsa(std::chrono::seconds periodo) = 0;
  virtual void Despede() = 0;
  // Every collector that ever published a heartbeat and did not take its leave, by name.
  virtual std::vector<ColetorVisto> Coletores() = 0;
};

// Now as the UTC text the store stamps ("aaaa-mm-ddThh:mm:ssZ"), for what a collector reports.
std::string AgoraUtc();

// The store a command uses when none is named: "ponto.db" in the working directory, or the
// file named by the environment variable PONTO_BANCO.
std::string BancoPadrao();

}  // namespace quorvel::armazem
