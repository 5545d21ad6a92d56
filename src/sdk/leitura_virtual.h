// How one SDK object walks a virtual clock's log: the fingerprint model's whole log from the
// start, the register model's records from its read pointer. The walk's place belongs to the
// SDK object; the log to the device. Each function runs under the device's lock (its caller
// holds it) and answers the SDK's code: codigo::kSucesso, or why not.
#pragma once

#include <cstdint>
#include <string>

#include "quorvel/sdk/relogio_virtual.h"

namespace quorvel::sdk {

class LeituraDoLogVirtual {
 public:
  // A new link reads register records from the end of the log: only new ones, unless a
  // pointer is set.
  void NoFim(const DispositivoVirtual& d);
  int32_t Recomeca(const DispositivoVirtual& d);
  int32_t Proximo(const DispositivoVirtual& d, int32_t& cartao, int32_t& valor, int32_t& modo,
                  std::string& texto);
  int32_t ProximoNsr(const DispositivoVirtual& d, std::string& nsr, std::string& pis, int32_t& a,
                     int32_t& me, int32_t& di, int32_t& h, int32_t& mi, int32_t& s);
  int32_t Posiciona(const DispositivoVirtual& d, int32_t ponteiro);

 private:
  size_t limiteLido_ = 0;
  uint64_t geracaoLida_ = 0;
  size_t cursorLog_ = 0;
  size_t cursorNsr_ = 0;
};

}  // namespace quorvel::sdk
