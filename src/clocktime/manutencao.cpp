// Wiping a clock and the diagnostic test entry.
#include "control/interno.h"

namespace quorvel {

bool ComunicacaoZK::ApagarTodosRegistrosRelogio(int16_t parCodigoRelogio) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  if (entrada->Relogio()->ModeloRelogio() == EModeloRelogio_Tarvenix)
    interno::LancaModeloNaoSuportado("ApagarTodosRegistrosRelogio");
  const bool apagou = entrada->CZKEM()->SdkClearAllData(parCodigoRelogio);
  if (apagou) LogApagado(parCodigoRelogio);
  return apagou;
}

void ComunicacaoZK::Teste() {
  const auto entrada = ObterRelogioCZKEM(1);
  CZKEM& sdk = *entrada->CZKEM();
  const bool ok = sdk.SdkTestOperation(1);
  host_.CaixaMensagem(ok ? "Sucess" : "Error");
  int32_t codigo = 0;
  sdk.SdkGetLastError(codigo);
}

}  // namespace quorvel
