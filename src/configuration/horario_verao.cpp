// Daylight saving time, both models.
#include <cstdio>

#include "control/interno.h"

namespace quorvel {

namespace {

// Month, day, hour and minute, two digits each: 18 October 00:00 gives "10180000".
std::string TextoPeriodo(DataHora momento) {
  const PartesDataHora p = momento.Partes();
  char texto[16];
  std::snprintf(texto, sizeof texto, "%02d%02d%02d%02d", p.mes, p.dia, p.hora, p.minuto);
  return texto;
}

}  // namespace

// Success only when the clock accepted every call the method made (see sirenes.cpp).
bool ComunicacaoZK::SetHorarioVeraoRelogio(int16_t parCodigoRelogio, DataHora parDataHoraInicio,
                                           DataHora parDataHoraFim) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  const std::shared_ptr<Relogio> relogio = entrada->Relogio();
  CZKEM& sdk = *entrada->CZKEM();
  bool ok = true;
  if (relogio->ModeloRelogio() == EModeloRelogio_Tarvenix) {
    ok &= sdk.SdkSetSysOption(parCodigoRelogio, "~DSTF", "1");
    ok &= sdk.SdkSetSysOption(parCodigoRelogio, "DaylightSavingTimeOn", "1");
  }
  ok &= sdk.SdkSetDaylight(parCodigoRelogio, 1, TextoPeriodo(parDataHoraInicio),
                           TextoPeriodo(parDataHoraFim));
  if (relogio->ModeloRelogio() == EModeloRelogio_Quorvel)
    ok &= sdk.SdkSetDeviceInfo(parCodigoRelogio, 1, 1);
  ok &= sdk.SdkRefreshOptions(parCodigoRelogio);
  return ok;
}

bool ComunicacaoZK::SetHorarioVeraoTodosRelogios(DataHora parDataHoraInicio,
                                                 DataHora parDataHoraFim) {
  return ParaTodosRelogios([&](int16_t codigo) {
    return SetHorarioVeraoRelogio(codigo, parDataHoraInicio, parDataHoraFim);
  });
}

bool ComunicacaoZK::DelConfigHorarioVeraoRelogio(int16_t parCodigoRelogio) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  CZKEM& sdk = *entrada->CZKEM();
  if (entrada->Relogio()->ModeloRelogio() == EModeloRelogio_Tarvenix) {
    bool ok = sdk.SdkSetSysOption(parCodigoRelogio, "DaylightSavingTimeOn", "0");
    ok &= sdk.SdkRefreshOptions(parCodigoRelogio);
    return ok;
  }
  bool ok = sdk.SdkSetDaylight(parCodigoRelogio, 0, "00000000", "00000000");
  ok &= sdk.SdkSetDeviceInfo(parCodigoRelogio, 1, 1);
  return ok;
}

bool ComunicacaoZK::DelConfigHorarioVeraoTodosRelogios() {
  return ParaTodosRelogios([&](int16_t codigo) { return DelConfigHorarioVeraoRelogio(codigo); });
}

}  // namespace quorvel
