// Bit functions shared by the siren operations. 32-bit signed integers throughout.
#pragma once

#include <cstdint>

namespace quorvel {

// 2 to the power n for n in 0..31 (n = 31 gives only the sign bit); 0 otherwise.
int32_t PotenciaDois(int32_t n);

// The value whose n highest bits are set, for n in 1..32; 0 otherwise.
int32_t MascaraBitsAltos(int32_t n);

// valor shifted left by n bits with 32-bit wrap-around, for n in 0..31; 0 otherwise.
int32_t DeslocaBitsEsquerda(int32_t valor, int32_t n);

}  // namespace quorvel
