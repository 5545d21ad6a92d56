#include "sessao.h"

#include <algorithm>
#include <iostream>
#include <thread>

namespace relogio_virtual {

using namespace quorvel;

namespace {

// After this long without a wrong proof, an address's count starts over.
constexpr std::chrono::minutes kMemoriaDasFalhas{10};

}  // namespace

std::chrono::milliseconds AtrasoDaChave(int falhas) {
  const int expoente = std::clamp(falhas - 1, 0, 9);
  return std::min(std::chrono::milliseconds(100LL << expoente), std::chrono::milliseconds(30000));
}

bool ProvasDaChave::Esgotou(const std::string& ip, Relogio::time_point agora) {
  const auto t = porEndereco_.find(ip);
  if (t == porEndereco_.end()) return false;
  auto& erradas = t->second.erradas;
  while (!erradas.empty() && agora - erradas.front() > std::chrono::minutes(1)) erradas.pop_front();
  return erradas.size() >= kProvasErradasPorMinuto;
}

ProvasDaChave::Atraso ProvasDaChave::Errada(const std::string& ip, Relogio::time_point agora) {
  Esquece(agora);
  Tentativas& t = porEndereco_[ip];
  if (agora - t.ultima > kMemoriaDasFalhas) t.falhas = 0;
  ++t.falhas;
  t.ultima = agora;
  t.erradas.push_back(agora);
  return {AtrasoDaChave(t.falhas), t.falhas};
}

std::optional<ProvasDaChave::Atraso> ProvasDaChave::Certa(const std::string& ip,
                                                          Relogio::time_point agora) const {
  const auto t = porEndereco_.find(ip);
  if (t == porEndereco_.end() || t->second.falhas == 0 ||
      agora - t->second.ultima > kMemoriaDasFalhas)
    return std::nullopt;
  return Atraso{AtrasoDaChave(t->second.falhas + 1), t->second.falhas};
}

void ProvasDaChave::Esquece(Relogio::time_point agora) {
  if (agora - ultimoEsquecimento_ < std::chrono::minutes(1)) return;
  ultimoEsquecimento_ = agora;
  std::erase_if(porEndereco_,
                [&](const auto& e) { return agora - e.second.ultima > kMemoriaDasFalhas; });
}

std::optional<std::string> Conexao::AtendeQuadros(const OpcoesServidor& o, ProvasDaChave& provas) {
  try {
    for (int feitos = 0;; ++feitos) {
      if (feitos == kQuadrosPorRodada || Pendente() >= kMarcaDeSaida) {
        quadrosProntos = decodificador.Acumulados() > 0;
        return std::nullopt;
      }
      auto f = decodificador.Proximo();
      if (!f) return std::nullopt;
      ++recebidos;
      ultimoQuadro = ultimaTroca = Relogio::now();
      if (o.cairApos > 0 && recebidos > o.cairApos) return "queda simulada";
      if (o.detalhar)
        std::cerr << "relógio " << relogio->codigo << ": pedido " << NomeDoPedido(*f) << " de "
                  << nome << "\n";
      const bool aguardavaProva = sessao->ProvaPendente();
      if (aguardavaProva && f->op == protocol::kProva && provas.Esgotou(ip, Relogio::now())) {
        // Not checked, so the answer may come at once: it says nothing about the key.
        saida += sessao->Recusa(*f, protocol::codigo::kTentativasDeChave,
                                "provas de chave demais deste endereço; tente em um minuto");
        fechaAposEnviar = true;
        std::cerr << "prova de chave de " << ip << " não conferida: " << kProvasErradasPorMinuto
                  << " incorretas no último minuto\n";
        return std::nullopt;
      }
      std::string resposta = sessao->Responde(*f);
      if (o.atrasoMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(o.atrasoMs));
      if (o.corromperApos > 0 && ++enviados == o.corromperApos && resposta.size() > 13)
        resposta[12] ^= 0x5A;
      saida += resposta;
      if (sessao->Encerrando()) {
        // A wrong key: the answer waits longer at each failure from the same address.
        const auto atraso = provas.Errada(ip, Relogio::now());
        liberaEm = Relogio::now() + atraso.espera;
        fechaAposEnviar = true;
        std::cerr << "chave incorreta de " << ip << " (" << atraso.seguidas
                  << " seguidas): resposta atrasada " << atraso.espera.count() << " ms\n";
        return std::nullopt;
      }
      if (aguardavaProva && !sessao->ProvaPendente()) {
        if (const auto atraso = provas.Certa(ip, Relogio::now())) {
          liberaEm = Relogio::now() + atraso->espera;
          std::cerr << "chave correta de " << ip << " após " << atraso->seguidas
                    << " incorretas: resposta atrasada " << atraso->espera.count() << " ms\n";
        }
      }
    }
  } catch (const protocol::ErroDeProtocolo& e) {
    return std::string("quadro inválido: ") + e.what();
  }
}

std::string NomeDoPedido(const protocol::Quadro& f) {
  using namespace protocol;
  switch (f.op) {
    case kOla:
      return "olá";
    case kProva:
      return "prova da chave";
    case kLote:
      return "lote";
    case kLogDesde:
      return "log desde";
    case kLeituraAntecipada:
      return "leitura antecipada";
    case kAssinatura:
      return "assinatura";
    case kLogDeRegistros:
      return "log de registros";
    case kArquivoFiscal:
      return "arquivo fiscal";
    default:
      break;
  }
  const auto& chamadas = Chamadas();
  if (f.op >= kPrimeiraChamada && f.op - kPrimeiraChamada < static_cast<int>(chamadas.size()))
    return chamadas[f.op - kPrimeiraChamada].nome;
  return "quadro " + std::to_string(f.op);
}

}  // namespace relogio_virtual
