// Writes ponto's manual page to stdout, with the README's tour (the first argument) as its
// examples. Run by the build; not installed.
#include <fstream>
#include <iostream>
#include <sstream>

#include "manual.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "uso: gera-manual README.md\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  std::stringstream readme;
  readme << in.rdbuf();
  const auto exemplos = ponto::ComandosDoTour(readme.str());
  if (!in || exemplos.empty()) {
    std::cerr << "gera-manual: sem o passeio de " << argv[1] << "\n";
    return 1;
  }
  std::cout << ponto::ManualDoPonto(exemplos);
  return std::cout.good() ? 0 : 1;
}
