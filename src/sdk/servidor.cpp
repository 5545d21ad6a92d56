#include "sdk/servidor.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <stdexcept>

#include "sdk/protocol/operacoes.h"
#include "sdk/protocol/prova.h"

namespace quorvel::protocol {

namespace {

void ConfereArgumentos(uint8_t op, const std::vector<Valor>& args) {
  const auto& calls = Chamadas();
  if (op < kPrimeiraChamada || op >= kPrimeiraChamada + calls.size())
    throw ErroDeProtocolo("operação desconhecida");
  const Assinatura& assinatura = calls[op - kPrimeiraChamada];
  if (args.size() != assinatura.parametros.size())
    throw ErroDeProtocolo(std::string("argumentos errados para ") + assinatura.nome);
  for (size_t i = 0; i < args.size(); ++i) {
    const Tipo k = assinatura.parametros[i];
    const bool ok = (k == Tipo::Inteiro && std::holds_alternative<int32_t>(args[i])) ||
                    (k == Tipo::Booleano && std::holds_alternative<bool>(args[i])) ||
                    (k == Tipo::Texto && std::holds_alternative<std::string>(args[i]));
    if (!ok) throw ErroDeProtocolo(std::string("tipo de argumento errado para ") + assinatura.nome);
  }
}

// Reads a client may ask for ahead of need: they change nothing on the clock.
bool EhLeituraAntecipavel(uint8_t op) {
  return operacoes::NaturezaDe(op) == operacoes::Natureza::LeituraDeTemplate;
}

bool EhLeituraEmLote(uint8_t op) {
  return operacoes::NaturezaDe(op) == operacoes::Natureza::ProximoItem;
}

}  // namespace

bool ExecutaChamada(CZKEM& s, uint8_t op, std::vector<Valor>& a) {
  using Executor = bool (*)(CZKEM&, std::vector<Valor>&);
  static constexpr Executor kExecutores[] = {
#define QUORVEL_EXECUTOR(nome, natureza, referencias) &operacoes::Operacao<&CZKEM::nome>::Executa,
      QUORVEL_OPERACOES_DE_CHAMADA(QUORVEL_EXECUTOR)
#undef QUORVEL_EXECUTOR
  };
  ConfereArgumentos(op, a);
  return kExecutores[op - kPrimeiraChamada](s, a);
}

SessaoServidor::SessaoServidor(std::shared_ptr<sdk::DispositivoVirtual> device, std::string key)
    : dispositivo_(device),
      sdk_(sdk::CriaSdkVirtualConectado(std::move(device))),
      chave_(std::move(key)) {}

std::string SessaoServidor::QuadroDeErro(uint32_t id, int32_t code, const std::string& message) {
  Escritor w;
  w.I32(code);
  w.Texto(message);
  return Codifica({kErro, id, std::move(w.Dados())});
}

std::string SessaoServidor::RespostaDeLote(uint32_t id, uint8_t op, int32_t n, bool resposta,
                                           std::string_view itens) {
  int32_t erro = 0;
  sdk_->SdkGetLastError(erro);
  Escritor w;
  w.I32(n);
  w.U8(resposta ? 1 : 0);
  w.I32(erro);
  // The log's size as the run ends: a walk that reached it knows nothing is left unless a push
  // says the log grew.
  w.I32(static_cast<int32_t>(dispositivo_->Versao().tamanho));
  w.Bytes(itens);
  return Codifica({static_cast<uint8_t>(op | kBitDeResposta), id, std::move(w.Dados())});
}

std::string SessaoServidor::Aviso(bool pulso) {
  if (!assinado_) return {};
  const auto agora = dispositivo_->Versao();
  if (!pulso && agora.geracao == avisado_.geracao && agora.tamanho == avisado_.tamanho) return {};
  avisado_ = agora;
  Escritor w;
  w.I32(static_cast<int32_t>(agora.geracao & 0xFFFFFFFFu));
  w.I32(static_cast<int32_t>(agora.geracao >> 32));
  w.I32(static_cast<int32_t>(agora.tamanho));
  return Codifica({static_cast<uint8_t>(kAssinatura | kBitDeResposta), 0, std::move(w.Dados())});
}

std::string SessaoServidor::Recusa(const Quadro& pedido, int32_t codigo,
                                   const std::string& mensagem) {
  encerrando_ = true;
  return QuadroDeErro(pedido.id, codigo, mensagem);
}

std::string SessaoServidor::Responde(const Quadro& f) {
  try {
    Leitor r(f.carga);
    if (f.op == kOla) {
      const uint8_t versao = r.U8();
      nonce_ = std::string(r.Bytes(16));
      r.ExigeFim();
      if (versao != kVersaoDoProtocolo)
        return QuadroDeErro(f.id, codigo::kVersaoNaoSuportada,
                            "versão " + std::to_string(versao) +
                                " do protocolo não suportada; este "
                                "relógio fala a versão " +
                                std::to_string(kVersaoDoProtocolo));
      desafio_ = BytesAleatorios(16);
      state_ = chave_.empty() ? State::Ready : State::AwaitProof;
      Escritor w;
      w.U8(kVersaoDoProtocolo);
      w.U8(chave_.empty() ? 0 : 1);
      w.Bytes(desafio_);
      // Who the clock is: a host that registered the other model learns it at once.
      w.U8(static_cast<uint8_t>(dispositivo_->Modelo()));
      w.Texto(dispositivo_->Firmware());
      return Codifica({static_cast<uint8_t>(kOla | kBitDeResposta), f.id, std::move(w.Dados())});
    }
    if (f.op == kProva) {
      const std::string mac(r.Bytes(32));
      r.ExigeFim();
      // Out of turn (before the hello, or once proven): refused on its own, the link stays.
      if (state_ != State::AwaitProof)
        return QuadroDeErro(f.id, codigo::kForaDeOrdem,
                            "prova fora de ordem: envie o hello primeiro");
      const std::string esperado = Prova(chave_, desafio_, nonce_);
      if (CRYPTO_memcmp(mac.data(), esperado.data(), 32) != 0) {
        encerrando_ = true;
        return QuadroDeErro(f.id, codigo::kChaveIncorreta, "chave de comunicação incorreta");
      }
      state_ = State::Ready;
      return Codifica({static_cast<uint8_t>(kProva | kBitDeResposta), f.id, {}});
    }
    if (state_ != State::Ready)
      return QuadroDeErro(f.id, codigo::kChaveExigida, "o relógio exige a chave de comunicação");
    if (f.op == kLote) {
      const uint8_t op = r.U8();
      const int32_t maximo = r.I32();
      std::vector<Valor> args;
      while (!r.NoFim()) args.push_back(r.ValorTipado());
      if (!EhLeituraEmLote(op) || maximo < 1 || maximo > 65536)
        return QuadroDeErro(f.id, codigo::kPedidoMalformado, "lote inválido");
      Escritor itens;
      int32_t n = 0;
      bool resposta = true;
      // The arguments of a next-item read are outputs after the machine number: one copy
      // serves every item, however large a value the client sent in them.
      std::vector<Valor> a = std::move(args);
      while (n < maximo && itens.Dados().size() < kCargaMaxima / 2) {
        resposta = ExecutaChamada(*sdk_, op, a);
        if (!resposta) break;
        for (const Valor& v : a) itens.ValorTipado(v);
        ++n;
      }
      return RespostaDeLote(f.id, kLote, n, resposta, itens.Dados());
    }
    if (f.op == kLogDeRegistros) {
      // request: int32 machine, int32 maximum; answer: int32 count, u8 more, int32 last error,
      // int32 log size, then per record: string NSR, string PIS, int32 year, u8 month, day,
      // hour, minute, second.
      const int32_t maquina = r.I32();
      const int32_t maximo = r.I32();
      r.ExigeFim();
      if (maximo < 1 || maximo > 65536)
        return QuadroDeErro(f.id, codigo::kPedidoMalformado, "lote inválido");
      Escritor itens;
      itens.Dados().reserve(static_cast<size_t>(std::min(maximo, 8192)) * 40);
      int32_t n = 0;
      bool resposta = true;
      std::string nsr, pis;
      int32_t ano = 0, mes = 0, dia = 0, hora = 0, minuto = 0, segundo = 0;
      while (n < maximo && itens.Dados().size() < kCargaMaxima / 2) {
        resposta = sdk_->SdkGetNextNsrLog(maquina, nsr, pis, ano, mes, dia, hora, minuto, segundo);
        if (!resposta) break;
        itens.Texto(nsr);
        itens.Texto(pis);
        itens.I32(ano);
        for (int32_t v : {mes, dia, hora, minuto, segundo}) itens.U8(static_cast<uint8_t>(v));
        ++n;
      }
      return RespostaDeLote(f.id, kLogDeRegistros, n, resposta, itens.Dados());
    }
    if (f.op == kAssinatura) {
      r.ExigeFim();
      assinado_ = true;
      avisado_ = dispositivo_->Versao();
      Escritor w;
      w.I32(static_cast<int32_t>(avisado_.geracao & 0xFFFFFFFFu));
      w.I32(static_cast<int32_t>(avisado_.geracao >> 32));
      w.I32(static_cast<int32_t>(avisado_.tamanho));
      return Codifica(
          {static_cast<uint8_t>(kAssinatura | kBitDeResposta), f.id, std::move(w.Dados())});
    }
    if (f.op == kLeituraAntecipada) {
      // request: u8 op, int32 count, then each call's u8 argument count and arguments;
      // answer: int32 count done, then each call's u8 answer, int32 last error, arguments.
      const uint8_t op = r.U8();
      const int32_t n = r.I32();
      if (!EhLeituraAntecipavel(op) || n < 1 || n > 65536)
        return QuadroDeErro(f.id, codigo::kPedidoMalformado, "leitura antecipada inválida");
      Escritor itens;
      int32_t feitas = 0;
      std::vector<Valor> a;
      // A large answer stops early: the client asks again for what it still needs.
      for (; feitas < n && itens.Dados().size() < kCargaMaxima / 2; ++feitas) {
        const uint8_t argumentos = r.U8();
        a.clear();
        for (uint8_t k = 0; k < argumentos; ++k) a.push_back(r.ValorTipado());
        const bool resposta = ExecutaChamada(*sdk_, op, a);
        int32_t erro = 0;
        sdk_->SdkGetLastError(erro);
        itens.U8(resposta ? 1 : 0);
        itens.I32(erro);
        itens.U8(static_cast<uint8_t>(a.size()));
        for (const Valor& v : a) itens.ValorTipado(v);
      }
      Escritor w;
      w.I32(feitas);
      w.Bytes(itens.Dados());
      return Codifica(
          {static_cast<uint8_t>(kLeituraAntecipada | kBitDeResposta), f.id, std::move(w.Dados())});
    }
    if (f.op == kLogDesde) {
      // request: int32 known generation (low, high), int32 from; answer: generation, total,
      // count, the records, more.
      const uint32_t baixo = static_cast<uint32_t>(r.I32()), alto = static_cast<uint32_t>(r.I32());
      const int32_t desde = r.I32();
      r.ExigeFim();
      if (dispositivo_->Modelo() != EModeloRelogio_Quorvel)
        return QuadroDeErro(f.id, sdk::codigo::kNaoSuportado, "sem log");
      const auto versao = dispositivo_->Versao();
      const uint64_t conhecida = (static_cast<uint64_t>(alto) << 32) | baixo;
      // Another log (erased since, another clock or another run): the copy starts over.
      const size_t inicio =
          conhecida == versao.geracao && desde >= 0 ? static_cast<size_t>(desde) : 0;
      const auto registros = dispositivo_->MarcacoesDesde(inicio, 65536);
      Escritor w;
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
          w.Texto(sdk::TextoMarcacao(m));
        } else {
          w.U8(0);
          const int64_t s = m.momento.Segundos();
          w.I32(static_cast<int32_t>(s & 0xFFFFFFFF));
          w.I32(static_cast<int32_t>(s >> 32));
        }
      }
      w.U8(inicio + registros.size() < versao.tamanho ? 1 : 0);
      return Codifica(
          {static_cast<uint8_t>(kLogDesde | kBitDeResposta), f.id, std::move(w.Dados())});
    }
    if (f.op == kArquivoFiscal) {
      // request: int32 from, int32 to (aaaammdd, 0: open), int32 after NSR, int32 last NSR;
      // answer: u8 answer, int32 last error, int32 last NSR, int32 next, string records.
      sdk::PedidoAfd pedido;
      pedido.de = r.I32();
      pedido.ate = r.I32();
      pedido.depois = r.I32();
      pedido.limite = r.I32();
      r.ExigeFim();
      auto* fonte = dynamic_cast<sdk::FonteDoAfd*>(sdk_.get());
      sdk::ParteAfd parte;
      const bool resposta = fonte && fonte->LeParteDoAfd(pedido, parte);
      int32_t erro = sdk::codigo::kNaoSuportado;
      if (fonte) sdk_->SdkGetLastError(erro);
      Escritor w;
      w.U8(resposta ? 1 : 0);
      w.I32(erro);
      w.I32(static_cast<int32_t>(parte.limite));
      w.I32(static_cast<int32_t>(parte.proximo));
      w.Texto(parte.texto);
      return Codifica(
          {static_cast<uint8_t>(kArquivoFiscal | kBitDeResposta), f.id, std::move(w.Dados())});
    }
    if (f.op >= kPrimeiraChamada && f.op < kPrimeiraChamada + Chamadas().size()) {
      std::vector<Valor> args;
      while (!r.NoFim()) args.push_back(r.ValorTipado());
      const bool resposta = ExecutaChamada(*sdk_, f.op, args);
      int32_t erro = 0;
      sdk_->SdkGetLastError(erro);
      Escritor w;
      w.U8(resposta ? 1 : 0);
      w.I32(erro);
      for (const Valor& v : args) w.ValorTipado(v);
      return Codifica({static_cast<uint8_t>(f.op | kBitDeResposta), f.id, std::move(w.Dados())});
    }
    return QuadroDeErro(f.id, codigo::kPedidoMalformado, "operação desconhecida");
  } catch (const ErroDeProtocolo& e) {
    return QuadroDeErro(f.id, codigo::kPedidoMalformado, e.what());
  } catch (const std::exception& e) {
    // An operation that failed as a call on the clock: reported as such, the link stays.
    return QuadroDeErro(f.id, codigo::kFalhaNaChamada, e.what());
  }
}

}  // namespace quorvel::protocol
