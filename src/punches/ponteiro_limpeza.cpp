// Moving a register clock's read pointer, erasing fingerprint punch logs.
#include "control/interno.h"

namespace quorvel {

using interno::kClasseControle;

void ComunicacaoZK::ReposicionaPonteiroRelogio(int16_t parCodigoRelogio, int32_t parIndex) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  if (entrada->Relogio()->ModeloRelogio() == EModeloRelogio_Quorvel)
    interno::LancaModeloNaoSuportado("ReposicionaPonteiroRelogio");
  entrada->CZKEM()->SdkSetLogPointer(parCodigoRelogio, parIndex);
}

bool ComunicacaoZK::ApagarMarcacoesRelogio(int32_t parCodigoRelogio) {
  return EnvolveErro(kClasseControle, "ApagarMarcacoesRelogio", [&] {
    const auto entrada = RelogioConectado(Para16Bits(parCodigoRelogio));
    if (entrada->Relogio()->ModeloRelogio() == EModeloRelogio_Tarvenix)
      interno::LancaModeloNaoSuportado("ApagarMarcacoesRelogio");
    const bool apagou = entrada->CZKEM()->SdkClearLogs(parCodigoRelogio);
    if (apagou) LogApagado(entrada->Relogio()->Codigo());
    return apagou;
  });
}

bool ComunicacaoZK::ApagarMarcacoesTodosRelogios() {
  return EnvolveErro(kClasseControle, "ApagarMarcacoesTodosRelogios", [&] {
    bool resultado = false;
    const int32_t total = relogios_.Count();
    for (int32_t i = 1; i <= total; ++i)
      resultado = ApagarMarcacoesRelogio(relogios_.Item(i)->Relogio()->Codigo());
    return resultado;
  });
}

}  // namespace quorvel
