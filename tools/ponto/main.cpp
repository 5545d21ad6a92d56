// ponto: the command-line host. main() only parses and dispatches.
#include <iostream>
#include <string_view>

#include "comandos.h"
#include "quorvel/erro.h"
#include "quorvel/versao.h"
#include "sessao.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]) == "--version" || std::string_view(argv[i]) == "--versao") {
      std::cout << "ponto " << QUORVEL_VERSAO_PROJETO << "\n";
      return 0;
    }
  try {
    return ponto::Executa(ponto::LeOpcoes(argc, argv));
  } catch (const ponto::ErroDeUso& e) {
    std::cerr << "ponto: " << e.what() << "\n";
    return 2;
  } catch (const ponto::ErroDeConexao& e) {
    std::cerr << "ponto: " << e.what() << "\n";
    return 4;
  } catch (const quorvel::Erro& e) {
    std::string d = e.Descricao();
    for (size_t p; (p = d.find("\r\n")) != std::string::npos;) d.replace(p, 2, "\n  ");
    std::cerr << "ponto: erro " << e.Numero() << ": " << d << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "ponto: falha inesperada: " << e.what() << "\n";
    return 1;
  }
}
