// The collector's web page: every clock at a glance, punches arriving live, search, counts and
// exports, served over HTTP by `ponto servico --web` (beside the collection) and `ponto web`
// (a machine that only shows a store). It reads the store and changes nothing in it; its one
// action, "atualizar agora", asks the service to reconcile a clock and needs the token.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "opcoes.h"
#include "web/consultas.h"

namespace ponto::web {

struct Configuracao {
  std::string host = "127.0.0.1";
  int porta = 8080;  // 0: a free port, told by Url()
  bool loopback = true;
  // Bearer token every API request must carry; required to bind outside loopback, and for
  // the action wherever the page is bound.
  std::optional<std::string> token;
  std::string banco;
  std::optional<std::string> arquivoRelogios;  // header fields of the AFD, as exportar's
  std::vector<RelogioConhecido> relogios;
  // "atualizar agora" for a clock: an empty text when the service took the request, else why
  // not. Absent where no service collects (ponto web). Called from the server's threads.
  std::function<std::string(int16_t)> atualizar;
  // One line per event worth a log line (a bind, a store that went away).
  std::function<void(const std::string&)> registra;
};

// --web ENDEREÇO:PORTA and --web-token ARQUIVO, checked: an address outside loopback without a
// token, a token file that cannot be read or holds a short token, are ErroDeUso.
Configuracao ConfiguracaoDe(const Opcoes& o);

class Painel {
 public:
  // Listening when it returns; ErroDeUso when the address cannot be bound.
  explicit Painel(Configuracao c);
  ~Painel();  // stops: watchers let go, threads joined
  Painel(const Painel&) = delete;
  Painel& operator=(const Painel&) = delete;
  std::string Url() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ponto web: the page over a store, until SIGTERM or Ctrl-C.
int Web(const Opcoes& o);

}  // namespace ponto::web
