// Collection into the punch store: only what is new, in batches that each leave the store
// consistent, so an interrupted run is completed by the next one — nothing lost, nothing twice.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "quorvel/comunicacao_zk.h"
#include "store/armazem.h"

namespace ponto {

struct ResultadoColeta {
  size_t lidas = 0;  // punches the clock handed over past the stored cursor
  size_t novas = 0;  // of those, stored now (the rest were already there)
  // The fingerprint log no longer holds the punch the cursor stands after: it was erased or
  // the clock replaced, and it was read from its start.
  bool logRecomecado = false;
  std::optional<quorvel::DataHora> ultima;  // the last punch read
  std::unordered_set<std::string> pis;      // of the register punches read
};

// Punches per transaction: a kill loses at most the batch in flight, which the cursor (moved in
// the same transaction) makes the next run read again.
inline constexpr size_t kMarcacoesPorLote = 10000;

// Register model: from the stored NSR (or record count, for firmware that counts records),
// each run of kMarcacoesPorLote stored as it is read, so a collection cut short keeps what it
// read. Fingerprint model: the clock hands its whole log over; only positions past the stored
// cursor are written, each with its order among the punches of that card in that second
// (which needs the whole log: the order counts the punches before it). Nothing when the
// collection was cancelled (Ctrl-C; runs already stored stay). Raises the control's Erro and
// the store's.
std::optional<ResultadoColeta> ColetaNovas(quorvel::ComunicacaoZK& controle,
                                           const quorvel::Relogio& relogio,
                                           quorvel::armazem::Armazem& armazem);

// Which NSRs after `depois` and up to `ate` the clock holds as records other than punches
// (employer, time set, employee): nothing when it cannot say.
using NsrsSemMarcacao =
    std::function<std::optional<std::set<int64_t>>(int64_t depois, int64_t ate)>;
// Gaps longer than this are punches missed, not asked about.
inline constexpr int64_t kMaiorLacunaConsultada = 100;

// Register-model punches raised by monitoring, stored at once. The cursor moves only over NSRs
// that follow it without a gap, or over the clock's other records as `semMarcacao` names them:
// punches made while nobody was collecting stay behind the cursor, for the next incremental
// collection to fetch. Returns what was read and stored.
ResultadoColeta GravaMonitoradas(quorvel::armazem::Armazem& armazem, int16_t relogio,
                                 const std::vector<std::shared_ptr<quorvel::Marcacao>>& marcacoes,
                                 const NsrsSemMarcacao& semMarcacao = {});

// The clock's own answer for GravaMonitoradas, from its fiscal file (register clocks that hand
// it out by this program's protocol or in process); nothing for one that cannot or a link that
// fell meanwhile.
std::optional<std::set<int64_t>> OutrosRegistrosDoRelogio(quorvel::ComunicacaoZK& controle,
                                                          int16_t relogio, int64_t depois,
                                                          int64_t ate);

// The fiscal export turns each punch's PIS into a CPF from the clock's own employee records:
// read back and kept in the store — always (`sempre`: a CPF corrected on the clock is found by
// that read, and applies from then on), or only when one of `pis` is not known to the store
// yet. Returns how many employees were read.
size_t AtualizaFuncionarios(quorvel::ComunicacaoZK& controle, int16_t relogio,
                            quorvel::armazem::Armazem& armazem,
                            const std::unordered_set<std::string>& pis, bool sempre);

}  // namespace ponto
