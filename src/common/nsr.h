// A punch's NSR as a number, for whoever orders or resumes by it: the control's cursors and the
// collector's.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel {

// Digits only, at most 18 of them (what always fits in 64 bits); nothing for any other text.
inline std::optional<int64_t> NsrNumerico(std::string_view nsr) {
  if (nsr.empty() || nsr.size() > 18) return std::nullopt;
  int64_t valor = 0;
  for (char c : nsr) {
    if (c < '0' || c > '9') return std::nullopt;
    valor = valor * 10 + (c - '0');
  }
  return valor;
}

}  // namespace quorvel
