// The one error type of the component and the description layout every failure uses.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "quorvel/codigos.h"

namespace quorvel {

// A numbered failure. `what()` is the description. The component's own failures carry
// negative numbers; failures of the platform (overflow, type mismatch, ...) carry the
// platform's customary positive numbers so that wrapping handlers can embed them whole.
class Erro : public std::exception {
 public:
  Erro(int32_t numero, std::string descricao) : numero_(numero), descricao_(std::move(descricao)) {}

  int32_t Numero() const noexcept { return numero_; }
  const std::string& Descricao() const noexcept { return descricao_; }
  const char* what() const noexcept override { return descricao_.c_str(); }

 private:
  int32_t numero_;
  std::string descricao_;
};

// message + CR LF + "Classe: " + class + CR LF + "Método: " + method, nothing else.
std::string MontaMensagemErro(std::string_view mensagem, std::string_view classe,
                              std::string_view metodo);

// Raises a component error in the one description layout.
[[noreturn]] void LancaErro(int32_t numero, std::string_view mensagem, std::string_view classe,
                            std::string_view metodo);
// The same for a named error, with `valor` in its text's place for one.
[[noreturn]] void LancaErro(const ErroDoComponente& erro, std::string_view classe,
                            std::string_view metodo, std::string_view valor = {});

// Platform failures (numbers 6, 13, 5, 9, 91, 457) with clear descriptions.
[[noreturn]] void LancaEstouro();
[[noreturn]] void LancaTiposIncompativeis(std::string_view detalhe = {});
[[noreturn]] void LancaArgumentoInvalido(std::string_view detalhe = {});
[[noreturn]] void LancaIndiceForaDoIntervalo();
[[noreturn]] void LancaObjetoNaoDefinido();

// The description of whatever is currently being handled (call only inside a catch block).
// An `Erro` gives its description, any other exception its what(), anything else a fixed text.
std::string DescricaoDaExcecaoAtual();
// The number of the failure currently being handled (call only inside a catch block);
// failures that are not an `Erro` count as -1.
int32_t NumeroDaExcecaoAtual();

// Narrows to 16 bits, raising the overflow error outside -32768..32767.
int16_t Para16Bits(int64_t valor);

// Runs `corpo`; any failure becomes error -1 "Ocorreu um erro desconhecido! - " + the caught
// description, naming `classe` and `metodo`.
template <class F>
decltype(auto) EnvolveErro(std::string_view classe, std::string_view metodo, F&& corpo) {
  try {
    return corpo();
  } catch (...) {
    LancaErro(erro::kDesconhecido, classe, metodo, DescricaoDaExcecaoAtual());
  }
}

}  // namespace quorvel
