// The commands of ponto in one table: each command's name, its lines in the general help, its
// options and what each takes, its own help and its handler. The help, the parsing of the
// command line, the dispatch and the manual page's command sections are all made from it, so a
// command is added in one place.
//
// Each handler returns the process exit code: 0 done, 1 the component raised an error, 2 bad
// input, 3 a clock refused, 4 no connection, 130 cancelled with Ctrl-C.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "opcoes.h"

namespace ponto {

// What an option takes: one value, none (a flag), or two ("--assinar CERT CHAVE").
enum class Argumento { Valor, Marcador, Par };

struct Opcao {
  std::string nome;
  Argumento argumento;
};

struct Comando {
  std::string nome;
  // Its lines in the general help: how it is called, what it does. A command may share its
  // line with another ("habilitar | desabilitar") and have none of its own.
  std::vector<std::pair<std::string, std::string>> resumo;
  std::vector<Opcao> opcoes;  // its own; every command takes OpcoesComuns() too
  bool posicionais = false;   // takes words after its name (funcionarios ACAO, exportar afd)
  std::string ajuda;          // "ponto NOME --ajuda", naming every option it takes
  int (*executa)(const Opcoes&) = nullptr;
};

// The options every command takes: which clocks, how to print.
const std::vector<Opcao>& OpcoesComuns();
// The commands in the order the general help lists them.
const std::vector<Comando>& TabelaDeComandos();
// The command of that name, or null.
const Comando* ComandoDe(const std::string& nome);

// "ponto --ajuda": the commands a line each, then the clock, store and output options.
std::string AjudaGeral();

// Runs the command the options name (or prints the help they ask for).
int Executa(const Opcoes& opcoes);

}  // namespace ponto
