// Helpers shared by the configuration operations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::configuracao {

// Decimal text of (hora AND 255) x 256 + (minuto AND 255): 08:30 gives "2078".
std::string ValorHorarioSirene(int32_t hora, int32_t minuto);

// -46 unless 1 <= codigo <= 50, naming `metodo`.
void ConfirmaCodigoSirene(int32_t codigo, std::string_view metodo);

}  // namespace quorvel::configuracao
