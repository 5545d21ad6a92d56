#include "sdk/rede/antecipadas.h"

#include <algorithm>

namespace quorvel::sdk::rede {

using namespace protocol;

std::string TemplatesAntecipados::ChaveId(const Valor& id) {
  return std::holds_alternative<int32_t>(id) ? std::to_string(std::get<int32_t>(id))
                                             : std::get<std::string>(id);
}

std::string TemplatesAntecipados::Chave(uint8_t op, const Valor& id, int32_t dedo) {
  return std::to_string(op) + '\x1f' + ChaveId(id) + '\x1f' + std::to_string(dedo);
}

void TemplatesAntecipados::AnotaUsuario(const Valor& id) {
  if (posicaoUsuario_.emplace(ChaveId(id), usuarios_.size()).second) usuarios_.push_back(id);
}

void TemplatesAntecipados::Reset() {
  usuarios_.clear();
  posicaoUsuario_.clear();
  antecipadas_.clear();
}

std::optional<bool> TemplatesAntecipados::Entrega(uint8_t op, std::vector<Valor>& a) {
  const int32_t dedo = std::get<int32_t>(a[2]);
  const std::string chave = Chave(op, a[1], dedo);
  auto it = antecipadas_.find(chave);
  if (it == antecipadas_.end()) {
    auto pos = posicaoUsuario_.find(ChaveId(a[1]));
    if (pos == posicaoUsuario_.end() || dedo < 0 || dedo >= kDedosAntecipados ||
        !Antecipa(op, a, pos->second))
      return std::nullopt;
    it = antecipadas_.find(chave);
    if (it == antecipadas_.end()) return std::nullopt;
  }
  for (size_t i = 0; i < a.size(); ++i)
    if (it->second.args.size() != a.size() || it->second.args[i].index() != a[i].index())
      enlace_.Violacao("leitura antecipada com tipos errados");
  a = std::move(it->second.args);
  ultimoErro_ = it->second.erro;
  const bool resposta = it->second.resposta;
  antecipadas_.erase(it);
  return resposta;
}

// Reads the fingers of the users from `inicio` on; false when the link failed or the clock
// refused the request.
bool TemplatesAntecipados::Antecipa(uint8_t op, const std::vector<Valor>& modelo, size_t inicio) {
  const size_t fim = std::min(usuarios_.size(), inicio + kUsuariosAntecipados);
  std::vector<std::string> chaves;
  Escritor w;
  w.U8(op);
  w.I32(static_cast<int32_t>((fim - inicio) * kDedosAntecipados));
  std::vector<Valor> a = modelo;
  for (size_t u = inicio; u < fim; ++u)
    for (int32_t dedo = 0; dedo < kDedosAntecipados; ++dedo) {
      a[1] = usuarios_[u];
      a[2] = dedo;
      w.U8(static_cast<uint8_t>(a.size()));
      for (const Valor& v : a) w.ValorTipado(v);
      chaves.push_back(Chave(op, a[1], dedo));
    }
  auto f = enlace_.Troca(kLeituraAntecipada, std::move(w.Dados()));
  if (!f) {
    enlace_.Perdido();
    return false;
  }
  if (f->op == kErro) return false;
  try {
    Leitor r(f->carga);
    const int32_t n = r.I32();
    if (n < 0 || static_cast<size_t>(n) > chaves.size())
      enlace_.Violacao("leitura antecipada malformada");
    for (int32_t i = 0; i < n; ++i) {
      Antecipada x;
      const uint8_t resposta = r.U8();
      x.erro = r.I32();
      const uint8_t argumentos = r.U8();
      if (resposta > 1 || argumentos != modelo.size())
        enlace_.Violacao("leitura antecipada com argumentos errados");
      x.resposta = resposta == 1;
      for (uint8_t k = 0; k < argumentos; ++k) x.args.push_back(r.ValorTipado());
      antecipadas_.insert_or_assign(chaves[static_cast<size_t>(i)], std::move(x));
    }
    r.ExigeFim();
  } catch (const ErroDeProtocolo& e) {
    enlace_.Violacao(e.what());
  }
  return true;
}

}  // namespace quorvel::sdk::rede
