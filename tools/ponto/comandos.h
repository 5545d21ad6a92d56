// The commands of ponto. Each returns the process exit code:
// 0 done, 1 the component raised an error, 2 bad input, 3 a clock refused, 4 no connection,
// 130 cancelled with Ctrl-C.
#pragma once

#include <map>
#include <string>

#include "opcoes.h"

namespace ponto {

int Executa(const Opcoes& opcoes);

// "ponto --ajuda": the commands in a line each, the clock, store and output options.
const char* AjudaGeral();
// "ponto COMANDO --ajuda", by command.
const std::map<std::string, std::string>& AjudaDosComandos();

}  // namespace ponto
