#include "quorvel/global.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace quorvel {

namespace {

// Both tables are built once and never change; building them in a function-local static
// makes the first use thread-safe as well.
const std::array<int32_t, 32>& TabelaPotencias() {
  static const std::array<int32_t, 32> tabela = [] {
    std::array<int32_t, 32> t{};
    t[0] = 1;
    for (std::size_t i = 1; i <= 30; ++i) t[i] = 2 * t[i - 1];
    t[31] = INT32_MIN;
    return t;
  }();
  return tabela;
}

const std::array<int32_t, 32>& TabelaMascaras() {
  static const std::array<int32_t, 32> tabela = [] {
    std::array<int32_t, 32> t{};
    t[31] = -1;
    t[0] = INT32_MIN;
    for (int32_t i = 31; i >= 2; --i)
      t[static_cast<std::size_t>(i - 1)] = t[static_cast<std::size_t>(i)] - PotenciaDois(31 - i);
    return t;
  }();
  return tabela;
}

}  // namespace

int32_t PotenciaDois(int32_t n) {
  if (n < 0 || n > 31) return 0;
  return TabelaPotencias()[static_cast<std::size_t>(n)];
}

int32_t MascaraBitsAltos(int32_t n) {
  if (n < 1 || n > 32) return 0;
  return TabelaMascaras()[static_cast<std::size_t>(n - 1)];
}

int32_t DeslocaBitsEsquerda(int32_t valor, int32_t n) {
  if (n == 0) return valor;
  if (n < 0 || n > 31) return 0;
  // Keep the bits that survive the shift, multiply in 64 bits and fold back into 32.
  const int64_t baixos = static_cast<int64_t>(valor & ~MascaraBitsAltos(n));
  int64_t produto = baixos * static_cast<int64_t>(static_cast<uint32_t>(PotenciaDois(n)));
  if (produto > INT32_MAX) produto -= 4294967296LL;
  return static_cast<int32_t>(produto);
}

}  // namespace quorvel
