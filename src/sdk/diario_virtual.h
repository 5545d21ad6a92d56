// The virtual clock's durable storage: a journal of checksummed records and a snapshot it is
// compacted into. Used by the clock daemon; see docs/virtual-clock.md for the file formats.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorvel/sdk/relogio_virtual.h"

namespace quorvel::sdk {

// A journal that cannot be trusted: the message names the file, the line and the byte.
struct ErroDiario : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct OpcoesDiario {
  // Damaged records are moved to "<journal>.danificado" instead of stopping the start.
  bool reparar = false;
  // Fault switch for tests: every write after this many fails as a full disk would (-1: never).
  int64_t falharEscritaApos = -1;
  // The journal is compacted into the snapshot once it grows past this many bytes.
  uint64_t compactarApos = 16u << 20;
};

// Journal file: one record per line, "<crc32c, 8 hex> <sequence> <json>\n", the checksum over
// "<sequence> <json>". Snapshot file "<journal>.instantaneo": the device's binary image tagged
// with the last sequence it holds, so records up to it are skipped when both exist.
class DiarioVirtual {
 public:
  // Loads the snapshot and replays the journal into `dispositivo`, cutting a torn last record
  // (one that a crash left without its end of line). Throws ErroDiario for damage anywhere
  // else, unless `opcoes.reparar`. Each thing worth telling goes to `relatorio` as a line.
  // Then takes every later change of `dispositivo`.
  DiarioVirtual(std::string caminho, std::shared_ptr<DispositivoVirtual> dispositivo,
                OpcoesDiario opcoes, std::vector<std::string>& relatorio);
  ~DiarioVirtual();
  DiarioVirtual(const DiarioVirtual&) = delete;
  DiarioVirtual& operator=(const DiarioVirtual&) = delete;

  // Records applied at the start (snapshot records included).
  uint64_t Retomados() const { return retomados_; }

  // Writes pile up in memory and reach the file in one write at Sincroniza (for seeding).
  void EmLote(bool emLote);

  // Makes every record written since the last call durable (one fdatasync for all of them):
  // the group commit. Answers to the changes may leave only after it. Throws ErroDiario when
  // the disk would not keep them.
  void Sincroniza();

  // Compacts when the journal grew past the threshold, the log was cleared or a repair moved
  // records out; true if it did. A compaction that fails (a full disk) changes nothing: the
  // journal goes on holding everything, and the next try comes kEsperaCompactacao later.
  bool CompactaSeConvem();
  static constexpr std::chrono::seconds kEsperaCompactacao{30};
  // What is worth a log line each since the last call: writes or a compaction that started
  // failing, or that work again.
  std::vector<std::string> TomaAvisos();
  // Writes the snapshot (temporary file, fsync, rename, fsync of the folder) and starts an
  // empty journal the same way. A crash at any point leaves a state that loads whole.
  void Compacta();

  const std::string& Caminho() const { return caminho_; }
  uint64_t TamanhoDoDiario() const { return tamanho_; }

 private:
  void Grava(const std::string& registros);
  void Escreve(const std::string& bytes);
  [[noreturn]] void Recusada(const std::string& motivo);
  void Recupera(std::vector<std::string>& relatorio);

  std::string caminho_;
  std::shared_ptr<DispositivoVirtual> dispositivo_;
  OpcoesDiario opcoes_;
  int fd_ = -1;
  uint64_t tamanho_ = 0;    // bytes of whole records in the journal
  uint64_t sequencia_ = 0;  // of the last record written
  uint64_t retomados_ = 0;
  int64_t escritas_ = 0;
  bool sujo_ = false;  // written since the last fdatasync
  bool emLote_ = false;
  bool limpou_ = false;            // a clear since the last compaction
  bool compactarAoAbrir_ = false;  // a repair moved records out
  bool compactacaoFalhando_ = false;
  bool gravacaoFalhando_ = false;  // the last write was refused (told once)
  std::string identidade_;
  bool identidadePendente_ = false;  // the journal does not yet begin with the clock's identity
  std::chrono::steady_clock::time_point proximaCompactacao_{};
  std::vector<std::string> avisos_;
  std::string pendente_;  // seeding: records waiting for Sincroniza
};

}  // namespace quorvel::sdk
