// Connecting and disconnecting clocks, refresh and enable/disable.
#include "control/interno.h"

namespace quorvel {

using interno::kClasseControle;

void ComunicacaoZK::ConectarRelogio(int16_t parCodigoRelogio) {
  ObterRelogioCZKEM(parCodigoRelogio);
  codigoConexaoPendente_ = std::to_string(parCodigoRelogio);
  tmrConexao_->Habilitado(true);
}

void ComunicacaoZK::TickConexao() noexcept {
  tmrConexao_->Habilitado(false);
  if (codigoConexaoPendente_.empty()) return;
  int16_t codigo = 0;
  bool conectado = false;
  try {
    codigo = Para16Bits(interno::TextoParaInteiro32(codigoConexaoPendente_));
  } catch (...) {
    return;  // the pending text is always one we wrote; nothing to report on
  }
  try {
    // A clock removed after the request, or an SDK call that fails as a call, ends as a
    // failed attempt: nothing may escape the tick, and the host must still hear about it.
    const auto entrada = ObterRelogioCZKEM(codigo);
    const Relogio& r = *entrada->Relogio();
    switch (r.TipoConexao()) {
      case ConexaoIP:
        conectado = interno::ConectaRede(*entrada->CZKEM(), r.IP());
        break;
      case ConexaoSerial:
        conectado =
            entrada->CZKEM()->SdkConnectSerial(r.PortaSerial(), r.Codigo(), interno::kBaudSerial);
        break;
      default:
        return;  // neither network nor serial: nothing to attempt, no event
    }
    // A clock that says it is the other model would be read the wrong way (a register clock
    // read as a fingerprint one gives nothing, and nothing would say why): not connected.
    // The host learns the model the clock announced from its SDK object (SdkGetDeviceModel).
    int32_t anunciado = 0;
    if (conectado && entrada->CZKEM()->SdkGetDeviceModel(r.Codigo(), anunciado) &&
        anunciado != static_cast<int32_t>(r.ModeloRelogio())) {
      entrada->CZKEM()->SdkDisconnect();
      conectado = false;
    }
    entrada->Conectado(conectado);
  } catch (...) {
    conectado = false;
    try {
      if (auto entrada = relogios_.ItemByCodRelogio(codigoConexaoPendente_))
        entrada->Conectado(false);
    } catch (...) {
    }
  }
  try {
    if (conectado) {
      if (eventos_.RelogioConectado) eventos_.RelogioConectado(codigo);
    } else if (eventos_.ErroConexaoRelogio) {
      eventos_.ErroConexaoRelogio(codigo);
    }
  } catch (...) {
    // A host handler that fails must not take the event loop down with it.
  }
}

void ComunicacaoZK::DesconectarRelogio(int16_t parCodigoRelogio) {
  const auto entrada = ObterRelogioCZKEM(parCodigoRelogio);
  entrada->CZKEM()->SdkDisconnect();
  entrada->Conectado(false);
}

void ComunicacaoZK::DesconectarTodosRelogios() {
  const int32_t total = relogios_.Count();
  for (int32_t i = 1; i <= total; ++i) DesconectarRelogio(relogios_.Item(i)->Relogio()->Codigo());
}

void ComunicacaoZK::RefreshRelogio(int16_t parCodigoRelogio) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  entrada->CZKEM()->SdkRefreshData(parCodigoRelogio);
}

bool ComunicacaoZK::HabilitaDesabilitaRelogio(int16_t parCodigoRelogio, bool parHabilita) {
  return EnvolveErro(kClasseControle, "HabilitaDesabilitaRelogio", [&] {
    const auto entrada = RelogioConectado(parCodigoRelogio);
    return entrada->CZKEM()->SdkEnableDevice(parCodigoRelogio, parHabilita);
  });
}

}  // namespace quorvel
