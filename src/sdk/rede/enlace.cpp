#include "sdk/rede/enlace.h"

#include "sdk/protocol/prova.h"

namespace quorvel::sdk::rede {

using namespace protocol;

bool Enlace::Abre(std::unique_ptr<Fluxo> fluxo) {
  if (!fluxo) {
    ultimoErro_ = codigo::kLinkPerdido;
    return false;
  }
  fluxo_ = std::move(fluxo);
  modeloAnunciado_.reset();  // the clock at the other end says anew
  const std::string nonce = BytesAleatorios(16);
  Escritor w;
  w.U8(kVersaoDoProtocolo);
  w.Bytes(nonce);
  auto f = Troca(kOla, std::move(w.Dados()));
  if (!f) return Perdido();
  if (f->op == kErro) {
    Recusa(*f);
    Fecha();
    return false;
  }
  bool exigeChave = false;
  std::string desafio;
  try {
    Leitor r(f->carga);
    if (r.U8() != kVersaoDoProtocolo) Violacao("versão diferente");
    exigeChave = r.U8() == 1;
    desafio = std::string(r.Bytes(16));
    const uint8_t modelo = r.U8();
    if (modelo != EModeloRelogio_Quorvel && modelo != EModeloRelogio_Tarvenix)
      Violacao("modelo " + std::to_string(modelo) + " desconhecido");
    modeloAnunciado_ = static_cast<EModeloRelogio>(modelo);
    r.Texto();  // the firmware, for people reading the exchange
    r.ExigeFim();
  } catch (const ErroDeProtocolo& e) {
    Violacao(e.what());
  }
  if (exigeChave) {
    if (opcoes_.chave.empty()) {
      Fecha();
      ultimoErro_ = codigo::kChaveExigida;
      return false;
    }
    auto p = Troca(kProva, Prova(opcoes_.chave, desafio, nonce));
    if (!p) return Perdido();
    if (p->op == kErro) {
      Recusa(*p);
      Fecha();
      return false;
    }
  }
  if (!Assina()) return Perdido();
  ultimoErro_ = 0;
  return true;
}

void Enlace::Fecha() {
  fluxo_.reset();
  adiantado_.reset();
  decodificador_ = Decodificador();
  assinado_ = false;
  tamanhoPush_ = -1;
  aoFechar_();
}

bool Enlace::Perdido() {
  Fecha();
  ultimoErro_ = codigo::kLinkPerdido;
  return false;
}

void Enlace::Violacao(const std::string& motivo) {
  Fecha();
  ultimoErro_ = codigo::kLinkPerdido;
  throw Erro(codigo::kFalhaProtocolo, "O relógio violou o protocolo: " + motivo + ".");
}

std::optional<Quadro> Enlace::Troca(uint8_t op, std::string carga) {
  if (!fluxo_) return std::nullopt;
  // A request sent ahead is answered first: its answer is taken off the line and kept.
  if (adiantado_ && !adiantado_->resposta) {
    adiantado_->resposta = Aguarda(adiantado_->op, adiantado_->id);
    if (!adiantado_->resposta) {
      adiantado_.reset();
      return std::nullopt;
    }
  }
  const uint32_t id = ++sequencia_;
  ContaTroca();
  if (!fluxo_->Envia(Codifica({op, id, std::move(carga)}), opcoes_.tempoRespostaMs))
    return std::nullopt;
  return Aguarda(op, id);
}

void Enlace::PedeAdiantado(uint8_t op, std::string carga) {
  if (!fluxo_ || adiantado_) return;
  const uint32_t id = ++sequencia_;
  ContaTroca();
  if (!fluxo_->Envia(Codifica({op, id, carga}), opcoes_.tempoRespostaMs)) return;
  adiantado_ = Adiantado{op, id, std::move(carga), std::nullopt};
}

std::optional<Quadro> Enlace::TrocaAdiantada(uint8_t op, std::string carga) {
  if (adiantado_ && adiantado_->op == op && adiantado_->pedido == carga) {
    Adiantado a = std::move(*adiantado_);
    adiantado_.reset();
    if (a.resposta) return a.resposta;
    return Aguarda(a.op, a.id);
  }
  return Troca(op, std::move(carga));
}

void Enlace::DescartaAdiantado(uint8_t op) {
  if (adiantado_ && adiantado_->op == op) adiantado_.reset();
}

// Waits for the answer to request `id`; pushes met on the way are taken in.
std::optional<Quadro> Enlace::Aguarda(uint8_t op, uint32_t id) {
  const auto prazo =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(opcoes_.tempoRespostaMs);
  char buffer[65536];
  for (;;) {
    std::optional<Quadro> f;
    try {
      f = decodificador_.Proximo();
    } catch (const ErroDeProtocolo&) {
      return std::nullopt;  // a corrupted frame: the line is not to be trusted any more
    }
    if (f) {
      if (EhPush(*f)) {
        RecebePush(*f);
        continue;
      }
      if (f->id != id) Violacao("resposta a outro pedido");
      if (f->op != (op | kBitDeResposta) && f->op != kErro) Violacao("resposta de outro tipo");
      ultimaTroca_ = std::chrono::steady_clock::now();
      return f;
    }
    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
        prazo - std::chrono::steady_clock::now());
    if (resta.count() <= 0) return std::nullopt;
    const ssize_t n = fluxo_->Recebe(buffer, sizeof buffer, static_cast<int>(resta.count()));
    if (n <= 0) return std::nullopt;
    decodificador_.Alimenta(buffer, static_cast<size_t>(n));
  }
}

bool Enlace::Recusa(const Quadro& f) {
  Leitor r(f.carga);
  int32_t numero = 0;
  std::string mensagem;
  try {
    numero = r.I32();
    mensagem = r.Texto();
  } catch (const ErroDeProtocolo&) {
    Violacao("quadro de erro malformado");
  }
  if (numero == protocol::codigo::kFalhaNaChamada) throw Erro(codigo::kFalhaDeChamada, mensagem);
  // A clock of this protocol version made before an operation was added does not know it:
  // that operation is not supported there, and the link is as good as before.
  if (numero == protocol::codigo::kPedidoMalformado && mensagem == "operação desconhecida") {
    ultimoErro_ = codigo::kNaoSuportado;
    return false;
  }
  if (numero == protocol::codigo::kPedidoMalformado) Violacao("pedido recusado: " + mensagem);
  ultimoErro_ = numero;
  return false;
}

bool Enlace::EhPush(const Quadro& f) { return f.id == 0 && f.op == (kAssinatura | kBitDeResposta); }

void Enlace::RecebePush(const Quadro& f) {
  try {
    Leitor r(f.carga);
    const uint64_t geracao = static_cast<uint32_t>(r.I32()) |
                             (static_cast<uint64_t>(static_cast<uint32_t>(r.I32())) << 32);
    const int32_t tamanho = r.I32();
    r.ExigeFim();
    if (tamanho < 0) Violacao("tamanho de log negativo");
    geracaoPush_ = geracao;
    tamanhoPush_ = tamanho;
    ultimoPush_ = std::chrono::steady_clock::now();
  } catch (const ErroDeProtocolo& e) {
    Violacao(e.what());
  }
}

// False when the link was lost on the way.
bool Enlace::Assina() {
  if (!opcoes_.assinar) return true;
  auto f = Troca(kAssinatura, {});
  if (!f) return false;
  if (f->op == kErro) return true;  // then every visit asks the clock, as before
  Quadro inicial = *f;
  inicial.id = 0;
  RecebePush(inicial);
  assinado_ = true;
  return true;
}

// Takes in what the clock pushed; false when that showed the link lost.
bool Enlace::Drena() {
  char buffer[4096];
  for (;;) {
    std::optional<Quadro> f;
    try {
      f = decodificador_.Proximo();
    } catch (const ErroDeProtocolo&) {
      return false;
    }
    if (f) {
      if (adiantado_ && !adiantado_->resposta && f->id == adiantado_->id) {
        if (f->op != (adiantado_->op | kBitDeResposta) && f->op != kErro)
          Violacao("resposta de outro tipo");
        adiantado_->resposta = std::move(f);
        continue;
      }
      if (!EhPush(*f)) Violacao("quadro sem pedido");
      RecebePush(*f);
      continue;
    }
    const ssize_t n = fluxo_->LeSemEsperar(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    decodificador_.Alimenta(buffer, static_cast<size_t>(n));
  }
}

bool Enlace::PushConfiavel() {
  if (!assinado_ || !fluxo_) return false;
  if (!Drena()) {
    Perdido();
    return false;  // the call then goes out and reports the lost link
  }
  const auto agora = std::chrono::steady_clock::now();
  return tamanhoPush_ >= 0 && agora - ultimoPush_ < std::chrono::seconds(3) &&
         agora - ultimaTroca_ < std::chrono::seconds(20);
}

}  // namespace quorvel::sdk::rede
