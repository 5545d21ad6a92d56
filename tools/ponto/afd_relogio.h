// ponto afd: a register clock's own fiscal file (AFD), fetched from the clock.
#pragma once

#include "opcoes.h"
#include "sessao.h"

namespace ponto {

// Writes the file of the session's one clock to --saida (default: the name the file's own
// header gives it; "-": standard output), only once it arrived whole.
int AfdDoRelogio(const Opcoes& o, Sessao& s);

}  // namespace ponto
