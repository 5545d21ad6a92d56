#include "sdk/protocol/servidor.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <stdexcept>

#include "sdk/protocol/operacoes.h"

namespace quorvel::protocol {

namespace {

void ConfereArgumentos(uint8_t op, const std::vector<Value>& args) {
  const auto& calls = Calls();
  if (op < kFirstCall || op >= kFirstCall + calls.size())
    throw ProtocolError("operação desconhecida");
  const CallSpec& spec = calls[op - kFirstCall];
  if (args.size() != spec.params.size())
    throw ProtocolError(std::string("argumentos errados para ") + spec.name);
  for (size_t i = 0; i < args.size(); ++i) {
    const Kind k = spec.params[i];
    const bool ok = (k == Kind::Int && std::holds_alternative<int32_t>(args[i])) ||
                    (k == Kind::Bool && std::holds_alternative<bool>(args[i])) ||
                    (k == Kind::Str && std::holds_alternative<std::string>(args[i]));
    if (!ok) throw ProtocolError(std::string("tipo de argumento errado para ") + spec.name);
  }
}

// Reads a client may ask for ahead of need: they change nothing on the clock.
bool EhLeituraAntecipavel(uint8_t op) {
  return op == OpOf("SdkGetUserTemplate") || op == OpOf("SdkGetUserTemplateByTextId");
}

bool EhLeituraEmLote(uint8_t op) {
  return op == OpOf("SdkGetNextLog") || op == OpOf("SdkGetNextNsrLog") ||
         op == OpOf("SdkGetNextUserInfo") || op == OpOf("SdkGetNextUserInfoWithPis");
}

}  // namespace

bool ExecuteCall(CZKEM& s, uint8_t op, std::vector<Value>& a) {
  using Executor = bool (*)(CZKEM&, std::vector<Value>&);
  static constexpr Executor kExecutores[] = {
#define QUORVEL_EXECUTOR(nome) &operacoes::Operacao<&CZKEM::nome>::Executa,
      QUORVEL_OPERACOES_DE_CHAMADA(QUORVEL_EXECUTOR)
#undef QUORVEL_EXECUTOR
  };
  ConfereArgumentos(op, a);
  return kExecutores[op - kFirstCall](s, a);
}

std::string Proof(const std::string& key, const std::string& challenge, const std::string& nonce) {
  const std::string dados = challenge + nonce;
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int tamanho = 0;
  if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char*>(dados.data()), dados.size(), mac, &tamanho))
    throw std::runtime_error("falha ao calcular a prova da chave");
  return std::string(reinterpret_cast<char*>(mac), tamanho);
}

std::string RandomBytes(size_t n) {
  std::string r(n, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(r.data()), static_cast<int>(n)) != 1)
    throw std::runtime_error("sem bytes aleatórios");
  return r;
}

SessaoServidor::SessaoServidor(std::shared_ptr<sdk::DispositivoVirtual> device, std::string key)
    : dispositivo_(device),
      sdk_(sdk::CriaSdkVirtualConectado(std::move(device))),
      chave_(std::move(key)) {}

std::string SessaoServidor::QuadroDeErro(uint32_t id, int32_t code, const std::string& message) {
  Writer w;
  w.I32(code);
  w.Str(message);
  return Encode({kError, id, std::move(w.Data())});
}

std::string SessaoServidor::RespostaDeLote(uint32_t id, uint8_t op, int32_t n, bool resposta,
                                           std::string_view itens) {
  int32_t erro = 0;
  sdk_->SdkGetLastError(erro);
  Writer w;
  w.I32(n);
  w.U8(resposta ? 1 : 0);
  w.I32(erro);
  // The log's size as the run ends: a walk that reached it knows nothing is left unless a push
  // says the log grew.
  w.I32(static_cast<int32_t>(dispositivo_->Versao().tamanho));
  w.Bytes(itens);
  return Encode({static_cast<uint8_t>(op | kResponseBit), id, std::move(w.Data())});
}

std::string SessaoServidor::Aviso(bool pulso) {
  if (!assinado_) return {};
  const auto agora = dispositivo_->Versao();
  if (!pulso && agora.geracao == avisado_.geracao && agora.tamanho == avisado_.tamanho) return {};
  avisado_ = agora;
  Writer w;
  w.I32(static_cast<int32_t>(agora.geracao & 0xFFFFFFFFu));
  w.I32(static_cast<int32_t>(agora.geracao >> 32));
  w.I32(static_cast<int32_t>(agora.tamanho));
  return Encode({static_cast<uint8_t>(kSubscribe | kResponseBit), 0, std::move(w.Data())});
}

std::string SessaoServidor::Responde(const Frame& f) {
  try {
    Reader r(f.payload);
    if (f.op == kHello) {
      const uint8_t versao = r.U8();
      nonce_ = std::string(r.Bytes(16));
      r.ExpectEnd();
      if (versao != kProtocolVersion)
        return QuadroDeErro(f.id, codigo::kVersaoNaoSuportada,
                            "versão " + std::to_string(versao) +
                                " do protocolo não suportada; este "
                                "relógio fala a versão " +
                                std::to_string(kProtocolVersion));
      desafio_ = RandomBytes(16);
      state_ = chave_.empty() ? State::Ready : State::AwaitProof;
      Writer w;
      w.U8(kProtocolVersion);
      w.U8(chave_.empty() ? 0 : 1);
      w.Bytes(desafio_);
      return Encode({static_cast<uint8_t>(kHello | kResponseBit), f.id, std::move(w.Data())});
    }
    if (f.op == kProof) {
      const std::string mac(r.Bytes(32));
      r.ExpectEnd();
      // Out of turn (before the hello, or once proven): refused on its own, the link stays.
      if (state_ != State::AwaitProof)
        return QuadroDeErro(f.id, codigo::kForaDeOrdem,
                            "prova fora de ordem: envie o hello primeiro");
      const std::string esperado = Proof(chave_, desafio_, nonce_);
      if (CRYPTO_memcmp(mac.data(), esperado.data(), 32) != 0) {
        encerrando_ = true;
        return QuadroDeErro(f.id, codigo::kChaveIncorreta, "chave de comunicação incorreta");
      }
      state_ = State::Ready;
      return Encode({static_cast<uint8_t>(kProof | kResponseBit), f.id, {}});
    }
    if (state_ != State::Ready)
      return QuadroDeErro(f.id, codigo::kChaveExigida, "o relógio exige a chave de comunicação");
    if (f.op == kBatch) {
      const uint8_t op = r.U8();
      const int32_t maximo = r.I32();
      std::vector<Value> args;
      while (!r.AtEnd()) args.push_back(r.Val());
      if (!EhLeituraEmLote(op) || maximo < 1 || maximo > 65536)
        return QuadroDeErro(f.id, codigo::kPedidoMalformado, "lote inválido");
      Writer itens;
      int32_t n = 0;
      bool resposta = true;
      // The arguments of a next-item read are outputs after the machine number: one copy
      // serves every item, however large a value the client sent in them.
      std::vector<Value> a = std::move(args);
      while (n < maximo && itens.Data().size() < kMaxPayload / 2) {
        resposta = ExecuteCall(*sdk_, op, a);
        if (!resposta) break;
        for (const Value& v : a) itens.Val(v);
        ++n;
      }
      return RespostaDeLote(f.id, kBatch, n, resposta, itens.Data());
    }
    if (f.op == kRegisterLog) {
      // request: int32 machine, int32 maximum; answer: int32 count, u8 more, int32 last error,
      // int32 log size, then per record: string NSR, string PIS, int32 year, u8 month, day,
      // hour, minute, second.
      const int32_t maquina = r.I32();
      const int32_t maximo = r.I32();
      r.ExpectEnd();
      if (maximo < 1 || maximo > 65536)
        return QuadroDeErro(f.id, codigo::kPedidoMalformado, "lote inválido");
      Writer itens;
      itens.Data().reserve(static_cast<size_t>(std::min(maximo, 8192)) * 40);
      int32_t n = 0;
      bool resposta = true;
      std::string nsr, pis;
      int32_t ano = 0, mes = 0, dia = 0, hora = 0, minuto = 0, segundo = 0;
      while (n < maximo && itens.Data().size() < kMaxPayload / 2) {
        resposta = sdk_->SdkGetNextNsrLog(maquina, nsr, pis, ano, mes, dia, hora, minuto, segundo);
        if (!resposta) break;
        itens.Str(nsr);
        itens.Str(pis);
        itens.I32(ano);
        for (int32_t v : {mes, dia, hora, minuto, segundo}) itens.U8(static_cast<uint8_t>(v));
        ++n;
      }
      return RespostaDeLote(f.id, kRegisterLog, n, resposta, itens.Data());
    }
    if (f.op == kSubscribe) {
      r.ExpectEnd();
      assinado_ = true;
      avisado_ = dispositivo_->Versao();
      Writer w;
      w.I32(static_cast<int32_t>(avisado_.geracao & 0xFFFFFFFFu));
      w.I32(static_cast<int32_t>(avisado_.geracao >> 32));
      w.I32(static_cast<int32_t>(avisado_.tamanho));
      return Encode({static_cast<uint8_t>(kSubscribe | kResponseBit), f.id, std::move(w.Data())});
    }
    if (f.op == kReadAhead) {
      // request: u8 op, int32 count, then each call's u8 argument count and arguments;
      // answer: int32 count done, then each call's u8 answer, int32 last error, arguments.
      const uint8_t op = r.U8();
      const int32_t n = r.I32();
      if (!EhLeituraAntecipavel(op) || n < 1 || n > 65536)
        return QuadroDeErro(f.id, codigo::kPedidoMalformado, "leitura antecipada inválida");
      Writer itens;
      int32_t feitas = 0;
      std::vector<Value> a;
      // A large answer stops early: the client asks again for what it still needs.
      for (; feitas < n && itens.Data().size() < kMaxPayload / 2; ++feitas) {
        const uint8_t argumentos = r.U8();
        a.clear();
        for (uint8_t k = 0; k < argumentos; ++k) a.push_back(r.Val());
        const bool resposta = ExecuteCall(*sdk_, op, a);
        int32_t erro = 0;
        sdk_->SdkGetLastError(erro);
        itens.U8(resposta ? 1 : 0);
        itens.I32(erro);
        itens.U8(static_cast<uint8_t>(a.size()));
        for (const Value& v : a) itens.Val(v);
      }
      Writer w;
      w.I32(feitas);
      w.Bytes(itens.Data());
      return Encode({static_cast<uint8_t>(kReadAhead | kResponseBit), f.id, std::move(w.Data())});
    }
    if (f.op == kLogSince) {
      // request: int32 known generation (low, high), int32 from; answer: generation, total,
      // count, the records, more.
      const uint32_t baixo = static_cast<uint32_t>(r.I32()), alto = static_cast<uint32_t>(r.I32());
      const int32_t desde = r.I32();
      r.ExpectEnd();
      if (dispositivo_->Modelo() != EModeloRelogio_Quorvel)
        return QuadroDeErro(f.id, sdk::codigo::kNaoSuportado, "sem log");
      const auto versao = dispositivo_->Versao();
      const uint64_t conhecida = (static_cast<uint64_t>(alto) << 32) | baixo;
      // Another log (erased since, another clock or another run): the copy starts over.
      const size_t inicio =
          conhecida == versao.geracao && desde >= 0 ? static_cast<size_t>(desde) : 0;
      const auto registros = dispositivo_->MarcacoesDesde(inicio, 65536);
      Writer w;
      w.I32(static_cast<int32_t>(versao.geracao & 0xFFFFFFFFu));
      w.I32(static_cast<int32_t>(versao.geracao >> 32));
      w.I32(static_cast<int32_t>(inicio));
      w.I32(static_cast<int32_t>(registros.size()));
      for (const auto& m : registros) {
        w.I32(m.cartao);
        w.I32(m.estado);
        w.I32(m.modo);
        // The date as a number: the client writes the text the SDK hands out. A date the
        // clock holds but no calendar has travels as its text.
        if (m.dataImpossivel) {
          w.U8(1);
          w.Str(sdk::TextoMarcacao(m));
        } else {
          w.U8(0);
          const int64_t s = m.momento.Segundos();
          w.I32(static_cast<int32_t>(s & 0xFFFFFFFF));
          w.I32(static_cast<int32_t>(s >> 32));
        }
      }
      w.U8(inicio + registros.size() < versao.tamanho ? 1 : 0);
      return Encode({static_cast<uint8_t>(kLogSince | kResponseBit), f.id, std::move(w.Data())});
    }
    if (f.op >= kFirstCall && f.op < kFirstCall + Calls().size()) {
      std::vector<Value> args;
      while (!r.AtEnd()) args.push_back(r.Val());
      const bool resposta = ExecuteCall(*sdk_, f.op, args);
      int32_t erro = 0;
      sdk_->SdkGetLastError(erro);
      Writer w;
      w.U8(resposta ? 1 : 0);
      w.I32(erro);
      for (const Value& v : args) w.Val(v);
      return Encode({static_cast<uint8_t>(f.op | kResponseBit), f.id, std::move(w.Data())});
    }
    return QuadroDeErro(f.id, codigo::kPedidoMalformado, "operação desconhecida");
  } catch (const ProtocolError& e) {
    return QuadroDeErro(f.id, codigo::kPedidoMalformado, e.what());
  } catch (const std::exception& e) {
    // An operation that failed as a call on the clock: reported as such, the link stays.
    return QuadroDeErro(f.id, codigo::kFalhaNaChamada, e.what());
  }
}

}  // namespace quorvel::protocol
