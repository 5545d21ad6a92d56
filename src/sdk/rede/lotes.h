// Walks read in batches: the next-item reads of a list (users) from kLote frames of typed
// items, and the register log from compact kLogDeRegistros runs decoded in place. Both are
// dropped when the link closes: they describe the clock at the other end.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sdk/rede/enlace.h"

namespace quorvel::sdk::rede {

inline constexpr int32_t kItensPorLote = 4096;  // next-item reads asked for in one frame

// The head of a run's answer (kLote, kLogDeRegistros).
struct CabecalhoDeLote {
  int32_t itens;
  bool mais;
  int32_t erro;        // the last error after the run
  int32_t tamanhoLog;  // the log's size as the run ended
};
CabecalhoDeLote LeCabecalhoDeLote(Enlace& enlace, protocol::Leitor& r);

class LeiturasEmLote {
 public:
  // `aoLer`: every item of a users' walk as its batch arrives, in order.
  LeiturasEmLote(Enlace& enlace, int32_t& ultimoErro,
                 std::function<void(const protocol::Valor& usuario)> aoLer)
      : enlace_(enlace), ultimoErro_(ultimoErro), aoLer_(std::move(aoLer)) {}

  // The next item of operation `op`'s walk into `args` (which hold the request's values and
  // kinds); false at the walk's end, with the clock's last error, or when the link fell.
  bool Proximo(uint8_t op, std::vector<protocol::Valor>& args);
  void Esquece(uint8_t op) { lotes_.erase(op); }
  void Reset() { lotes_.clear(); }

 private:
  struct Lote {
    std::deque<std::vector<protocol::Valor>> itens;
    bool terminou = false;
    int32_t erroFinal = 0;
  };

  Enlace& enlace_;
  int32_t& ultimoErro_;
  std::function<void(const protocol::Valor&)> aoLer_;
  std::map<uint8_t, Lote> lotes_;
};

class RegistrosNsr {
 public:
  RegistrosNsr(Enlace& enlace, int32_t& ultimoErro) : enlace_(enlace), ultimoErro_(ultimoErro) {}

  // A walk (SdkReadAllLogs). True when the last walk reached the end of the log and no push
  // since says it grew: the walk would find nothing, and its finished run already says so.
  // Otherwise the records already fetched (and a run asked for ahead) are the next ones and
  // stay, since the clock's position does not move; only a finished walk is asked again.
  bool RecomecaSemNovidade();
  // The next record (SdkGetNextNsrLog), decoded from the run in place: no per-record objects.
  bool Proximo(int32_t maquina, std::string& nsr, std::string& pis, int32_t& a, int32_t& me,
               int32_t& d, int32_t& h, int32_t& mi, int32_t& s);
  void Reset() {
    lote_ = Lote{};
    fim_.reset();
  }

 private:
  struct Lote {
    std::string dados;  // the answer's payload
    size_t posicao = 0;
    int32_t restantes = 0;
    bool terminou = false;
    int32_t erroFinal = 0;
  };
  // Where the last finished walk ended, by the pushes' account of the log.
  struct FimDoLog {
    uint64_t geracao;
    int64_t tamanho;
  };

  bool Busca(int32_t maquina);

  Enlace& enlace_;
  int32_t& ultimoErro_;
  Lote lote_;
  std::optional<FimDoLog> fim_;
};

}  // namespace quorvel::sdk::rede
