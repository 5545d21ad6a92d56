// Templates read ahead. A reader of every employee asks for each one's fingers in turn. When it
// asks for a finger of a user the last walk delivered, the fingers of that user and of the
// users after it are read in one round trip; each answer (true or false, with its last error)
// is then handed out once, as the clock gave it. A write drops what was read ahead; a new
// users' walk and a closed link drop the users too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/rede/enlace.h"

namespace quorvel::sdk::rede {

class TemplatesAntecipados {
 public:
  TemplatesAntecipados(Enlace& enlace, int32_t& ultimoErro)
      : enlace_(enlace), ultimoErro_(ultimoErro) {}

  // A user the walk delivered, in order.
  void AnotaUsuario(const protocol::Valor& id);
  // The answer to template read `op` with `args` (user at 1, finger at 2) from what was read
  // ahead, reading ahead when the user is one the walk delivered; nothing when the caller is to
  // make the single call (which also reports a link that fell on the way).
  std::optional<bool> Entrega(uint8_t op, std::vector<protocol::Valor>& args);
  void EsqueceRespostas() { antecipadas_.clear(); }
  void Reset();

 private:
  struct Antecipada {
    bool resposta;
    int32_t erro;
    std::vector<protocol::Valor> args;
  };
  static constexpr size_t kUsuariosAntecipados = 256;
  static constexpr int32_t kDedosAntecipados = 10;

  static std::string ChaveId(const protocol::Valor& id);
  static std::string Chave(uint8_t op, const protocol::Valor& id, int32_t dedo);
  bool Antecipa(uint8_t op, const std::vector<protocol::Valor>& modelo, size_t inicio);

  Enlace& enlace_;
  int32_t& ultimoErro_;
  std::vector<protocol::Valor> usuarios_;
  std::unordered_map<std::string, size_t> posicaoUsuario_;
  std::unordered_map<std::string, Antecipada> antecipadas_;
};

}  // namespace quorvel::sdk::rede
