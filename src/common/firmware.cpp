// The firmware rule every party to a register clock's log pointer shares: the control that
// sets it and the clocks that read it.
#include <algorithm>

#include "quorvel/sdk/czkem.h"

namespace quorvel {

bool PonteiroPorNsr(std::string versao) {
  std::transform(versao.begin(), versao.end(), versao.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  });
  for (size_t pos; (pos = versao.find("VER")) != std::string::npos;) versao.erase(pos, 3);
  const size_t inicio = versao.find_first_not_of(' ');
  if (inicio == std::string::npos) return false;
  const size_t fim = versao.find_last_not_of(' ');
  return versao.compare(inicio, fim - inicio + 1, "2.1.12") >= 0;
}

}  // namespace quorvel
