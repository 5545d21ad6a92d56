// A network backend's link to its clock: the stream, the handshake (version, key, model), one
// exchange at a time, one request sent ahead of need, and the log size the clock pushes.
//
// Thread rules: none of its own. A link belongs to one SDK object, whose caller serializes the
// calls, as for every CZKEM.
//
// What a link resets when it closes (a disconnect, a new connect, a lost link, a violation):
// the stream, the frames half read, the request sent ahead and its answer, the subscription
// and the size last pushed; then whatever its owner registered with `aoFechar` (the owner's
// read caches, which describe the clock at the other end). It keeps the model the clock last
// announced and the numbering of requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "quorvel/enumeracoes.h"
#include "quorvel/erro.h"
#include "quorvel/sdk/czkem.h"
#include "quorvel/sdk/sdk_rede.h"
#include "sdk/protocol/protocol.h"
#include "sdk/rede/fluxo.h"

namespace quorvel::sdk::rede {

class Enlace {
 public:
  // `ultimoErro`: the backend's last error, which a lost link and a refusal set.
  Enlace(const OpcoesRede& opcoes, int32_t& ultimoErro, std::function<void()> aoFechar)
      : opcoes_(opcoes), ultimoErro_(ultimoErro), aoFechar_(std::move(aoFechar)) {}

  // On a closed link (closed before the stream was opened, so the clock never sees two links
  // of one SDK object): the hello (the clock's version and model), the key's proof when
  // the clock asks for it, and the subscription to its log size. False with the last error set
  // (codigo::kLinkPerdido when `fluxo` is null or the link fell, a refusal's code otherwise).
  bool Abre(std::unique_ptr<Fluxo> fluxo);
  void Fecha();
  bool Aberto() const { return fluxo_ != nullptr; }

  // Closes, sets codigo::kLinkPerdido, and returns false: how every call reports a lost link.
  bool Perdido();
  // The clock broke the protocol: the link is closed and an Erro codigo::kFalhaProtocolo thrown.
  [[noreturn]] void Violacao(const std::string& motivo);

  // Sends one frame and waits for its answer. Nothing: the link was lost (and is closed).
  std::optional<protocol::Quadro> Troca(uint8_t op, std::string carga);
  // A request for what the caller will want next, sent now so the clock prepares it while the
  // caller works on the current answer. Used only if the next request is that very one.
  void PedeAdiantado(uint8_t op, std::string carga);
  // The answer to `carga`: the one asked for ahead when it is that request, else a new exchange.
  std::optional<protocol::Quadro> TrocaAdiantada(uint8_t op, std::string carga);
  // A request sent ahead with operation `op` is dropped (its answer asked for what no longer
  // holds).
  void DescartaAdiantado(uint8_t op);

  // An error frame: the clock refused; false with its code as the last error. A failed call on
  // the clock is thrown on as codigo::kFalhaDeChamada; a malformed request is a violation.
  bool Recusa(const protocol::Quadro& f);

  // One request and its answer, read by `le`: a lost link, a refusal and a malformed answer end
  // the way every call's do. `adiantada`: the answer may be the one asked for ahead.
  template <class Le>
  bool Pede(uint8_t op, std::string carga, Le&& le, bool adiantada = false) {
    auto f = adiantada ? TrocaAdiantada(op, std::move(carga)) : Troca(op, std::move(carga));
    if (!f) return Perdido();
    if (f->op == protocol::kErro) return Recusa(*f);
    try {
      protocol::Leitor r(f->carga);
      return le(r, *f);
    } catch (const protocol::ErroDeProtocolo& e) {
      Violacao(e.what());
    }
  }

  // ---- The log's size, pushed by the clock ----------------------------------------------
  // After the handshake the link subscribes; the clock then pushes its log's size whenever it
  // changes (once durable) and at least every second. True while that size can stand in for
  // asking: pushes keep coming (3 s) and a real exchange happened in the last 20 s (which keeps
  // a silently dead peer from going unnoticed). Takes in what was pushed meanwhile.
  bool PushConfiavel();
  uint64_t GeracaoPush() const { return geracaoPush_; }
  int64_t TamanhoPush() const { return tamanhoPush_; }

  // The model the clock announced on the last link opened (kept after it closes).
  std::optional<EModeloRelogio> ModeloAnunciado() const { return modeloAnunciado_; }

 private:
  struct Adiantado {
    uint8_t op;
    uint32_t id;
    std::string pedido;  // the request's payload: what it asked for
    std::optional<protocol::Quadro> resposta;
  };

  std::optional<protocol::Quadro> Aguarda(uint8_t op, uint32_t id);
  static bool EhPush(const protocol::Quadro& f);
  void RecebePush(const protocol::Quadro& f);
  bool Assina();
  bool Drena();

  const OpcoesRede& opcoes_;
  int32_t& ultimoErro_;
  std::function<void()> aoFechar_;
  std::unique_ptr<Fluxo> fluxo_;
  protocol::Decodificador decodificador_;
  uint32_t sequencia_ = 0;
  std::optional<Adiantado> adiantado_;
  std::optional<EModeloRelogio> modeloAnunciado_;
  bool assinado_ = false;
  uint64_t geracaoPush_ = 0;
  int64_t tamanhoPush_ = -1;
  std::chrono::steady_clock::time_point ultimoPush_{}, ultimaTroca_{};
};

}  // namespace quorvel::sdk::rede
