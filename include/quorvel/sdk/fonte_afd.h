// What a register clock hands out besides the device calls: its own fiscal file (AFD), as the
// clock writes it (every record type in one NSR sequence, its CRC, its trailer). An SDK object
// that can fetch it implements FonteDoAfd beside CZKEM; a host asks with dynamic_cast, so
// backends without it (and the control) are untouched.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quorvel::sdk {

// One part of the file. Dates are aaaammdd (0: open) and take records by the clock's own date,
// as a clock's fiscal port does for a period.
struct PedidoAfd {
  int32_t de = 0, ate = 0;
  int64_t depois = 0;  // the part goes on after this NSR; 0: the first part, with the header
  int64_t limite = 0;  // the file's last NSR, as the first part fixed it (0 in the first)
};

struct ParteAfd {
  int64_t limite = 0;   // the last NSR the file covers: what arrives meanwhile stays out
  int64_t proximo = 0;  // the NSR to go on after; 0 once the part ending the file was given
  std::string texto;    // whole records, ISO-8859-1, each ending CR LF
};

class FonteDoAfd {
 public:
  virtual ~FonteDoAfd() = default;
  // False with the SDK object's last error: kNaoSuportado for a fingerprint clock or a clock
  // program that predates the request, kArgumentoInvalido for a bad period, kLinkPerdido.
  virtual bool LeParteDoAfd(const PedidoAfd& pedido, ParteAfd& parte) = 0;
};

// The whole file, part after part, each handed to `escreve` as it comes. False as soon as a
// part is refused (the SDK object's last error says why) or `continua` says to stop.
bool LeAfd(FonteDoAfd& fonte, int32_t de, int32_t ate,
           const std::function<void(std::string_view)>& escreve,
           const std::function<bool()>& continua = {});

}  // namespace quorvel::sdk
