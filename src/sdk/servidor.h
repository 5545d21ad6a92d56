// The clock's side of the protocol: one session per connection, answering frames with an
// SDK object connected to the served virtual clock.
#pragma once

#include <memory>
#include <string>

#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/protocol/protocol.h"

namespace quorvel::protocol {

// Executes a call (`op` from kPrimeiraChamada) with its arguments; reference arguments are
// updated in place. Throws ErroDeProtocolo when the arguments do not fit the operation.
bool ExecutaChamada(CZKEM& sdk, uint8_t op, std::vector<Valor>& args);

class SessaoServidor {
 public:
  // `key` empty: no proof is asked for.
  SessaoServidor(std::shared_ptr<sdk::DispositivoVirtual> device, std::string key);
  // The encoded response to one request frame (an error frame for a bad request).
  std::string Responde(const Quadro& pedido);
  // True after a failed proof: the connection is to be closed once the answer is sent.
  bool Encerrando() const { return encerrando_; }
  // True while the key's proof is awaited (after the hello, when a key is asked for).
  bool ProvaPendente() const { return state_ == State::AwaitProof; }
  // True once the link may operate: the hello answered and the key, if any, proven.
  bool Pronta() const { return state_ == State::Ready; }
  // The error frame refusing `pedido` without looking at it; the connection is to be closed
  // once it is sent (as after a wrong key).
  std::string Recusa(const Quadro& pedido, int32_t codigo, const std::string& mensagem);
  // For a link that subscribed: the push frame telling the log's size when it changed since
  // the last one, or when `pulso` (a heartbeat the client times its trust by); else nothing.
  // Called only once what changed is durable.
  std::string Aviso(bool pulso);

 private:
  std::string QuadroDeErro(uint32_t id, int32_t code, const std::string& message);
  // The answer to a run of next-item reads (kLote, kLogDeRegistros): count, more, the last error
  // after the run, the log's size as it ends, then the items.
  std::string RespostaDeLote(uint32_t id, uint8_t op, int32_t n, bool resposta,
                             std::string_view itens);
  enum class State { AwaitHello, AwaitProof, Ready } state_ = State::AwaitHello;
  std::shared_ptr<sdk::DispositivoVirtual> dispositivo_;
  std::shared_ptr<CZKEM> sdk_;
  std::string chave_, desafio_, nonce_;
  bool encerrando_ = false;
  bool assinado_ = false;
  sdk::DispositivoVirtual::VersaoLog avisado_{0, 0};
};

}  // namespace quorvel::protocol
