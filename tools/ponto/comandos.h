// The commands of ponto. Each returns the process exit code:
// 0 done, 1 the component raised an error, 2 bad input, 3 a clock refused, 4 no connection,
// 130 cancelled with Ctrl-C.
#pragma once

#include "opcoes.h"

namespace ponto {

int Executa(const Opcoes& opcoes);

}  // namespace ponto
