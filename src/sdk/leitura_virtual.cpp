#include "sdk/leitura_virtual.h"

#include <algorithm>

#include "sdk/virtual_interno.h"

namespace quorvel::sdk {

using namespace virtual_interno;

void LeituraDoLogVirtual::NoFim(const DispositivoVirtual& d) { cursorNsr_ = d.log_.size(); }

int32_t LeituraDoLogVirtual::Recomeca(const DispositivoVirtual& d) {
  // The fingerprint model hands out its whole log from the start; the register model keeps
  // walking from its read pointer. The log as it is now, without copying it: its length and
  // which log it is. The log only grows until erased, and an erase changes its generation.
  if (d.modelo_ == EModeloRelogio_Quorvel) {
    limiteLido_ = d.log_.size();
    geracaoLida_ = d.geracaoLog_;
    cursorLog_ = 0;
  }
  return codigo::kSucesso;
}

int32_t LeituraDoLogVirtual::Proximo(const DispositivoVirtual& d, int32_t& cartao, int32_t& valor,
                                     int32_t& modo, std::string& texto) {
  if (d.modelo_ != EModeloRelogio_Quorvel) return codigo::kNaoSuportado;
  if (cursorLog_ >= limiteLido_ || geracaoLida_ != d.geracaoLog_ || cursorLog_ >= d.log_.size())
    return codigo::kNaoEncontrado;
  const MarcacaoVirtual& m = d.log_[cursorLog_++];
  cartao = m.cartao;
  valor = m.estado;
  modo = m.modo;
  texto = TextoMarcacao(m);
  return codigo::kSucesso;
}

int32_t LeituraDoLogVirtual::ProximoNsr(const DispositivoVirtual& d, std::string& nsr,
                                        std::string& pis, int32_t& a, int32_t& me, int32_t& di,
                                        int32_t& h, int32_t& mi, int32_t& s) {
  if (d.modelo_ != EModeloRelogio_Tarvenix) return codigo::kNaoSuportado;
  if (cursorNsr_ >= d.log_.size()) return codigo::kNaoEncontrado;
  const MarcacaoVirtual& m = d.log_[cursorNsr_++];
  nsr = m.nsr;
  pis = m.pis;
  const PartesDataHora p = m.momento.Partes();
  a = p.ano, me = m.dataImpossivel ? 13 : p.mes, di = p.dia, h = p.hora, mi = p.minuto,
  s = p.segundo;
  return codigo::kSucesso;
}

int32_t LeituraDoLogVirtual::Posiciona(const DispositivoVirtual& d, int32_t ponteiro) {
  if (d.modelo_ != EModeloRelogio_Tarvenix) return codigo::kNaoSuportado;
  if (ponteiro < 0) return codigo::kArgumentoInvalido;
  // Both pointer forms name the last record already collected: reading resumes after it.
  // From firmware 2.1.12 on it is an NSR, before that a record count; NSRs start at 1 and
  // are never erased, so both land on the same record here.
  size_t i = 0;
  if (PonteiroPorNsr(d.firmware_)) {
    while (i < d.log_.size() && std::stoll(d.log_[i].nsr) <= ponteiro) ++i;
  } else {
    i = std::min<size_t>(static_cast<size_t>(ponteiro), d.log_.size());
  }
  cursorNsr_ = i;
  return codigo::kSucesso;
}

}  // namespace quorvel::sdk
