// ponto's manual page, made from the help texts and the option table the program itself uses,
// so the page cannot say other than `ponto --ajuda`.
#pragma once

#include <string>
#include <vector>

namespace ponto {

// The command lines of the README's tour ("ponto ..." lines of its first sh block after the
// tour's heading), comments taken away; they are the page's examples.
std::vector<std::string> ComandosDoTour(const std::string& readme);

// The page in roff (man(7)), in Portuguese: name, synopsis, description, every command with its
// help and options, the clock and output options, environment, files, exit status, examples.
std::string ManualDoPonto(const std::vector<std::string>& exemplos);

}  // namespace ponto
