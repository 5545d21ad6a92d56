// Command-line options of ponto: positional words and --name value pairs.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ponto {

// Bad input from the person at the keyboard: a clear message, exit code 2.
struct ErroDeUso : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Opcoes {
  std::vector<std::string> posicionais;
  std::map<std::string, std::string> valores;
  std::set<std::string> marcadores;

  bool Tem(const std::string& nome) const { return valores.count(nome) || marcadores.count(nome); }
  std::optional<std::string> Valor(const std::string& nome) const;
  std::string Obrigatorio(const std::string& nome) const;
  // The two values of an option that takes two ("--assinar CERT CHAVE").
  std::optional<std::pair<std::string, std::string>> Par(const std::string& nome) const;
  // A whole number in [minimo, maximo]; ErroDeUso naming the option otherwise.
  long long Numero(const std::string& nome, long long minimo, long long maximo) const;
};

// Splits argv by the command table (comandos.h): each command with its own options and the
// common ones; an unknown option, a missing value or a stray word is an ErroDeUso.
Opcoes LeOpcoes(int argc, const char* const* argv);

// A whole number from text, or nothing.
// The known name closest to a mistyped one (at most two edits, and at most a third of its
// letters), for "você quis dizer …?"; nothing when none is that close.
std::optional<std::string> Parecido(const std::string& digitado,
                                    const std::vector<std::string>& conhecidos);
// " Você quis dizer X?" or nothing.
std::string QuisDizer(const std::string& digitado, const std::vector<std::string>& conhecidos);

std::optional<long long> NumeroDe(const std::string& texto);

}  // namespace ponto
