// Reading and setting the clocks' date and time.
#include "control/interno.h"

namespace quorvel {

DataHora ComunicacaoZK::ObterDataHoraRelogio(int16_t parCodigoRelogio) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  const int32_t maquina = entrada->Relogio()->Codigo();
  int32_t ano = 0, mes = 0, dia = 0, hora = 0, minuto = 0, segundo = 0;
  entrada->CZKEM()->SdkGetDeviceTime(maquina, ano, mes, dia, hora, minuto, segundo);
  // A clock that could not be read leaves six zeros, which name no date.
  if (!interno::DataHoraDoRelogioValida(ano, mes, dia, hora, minuto, segundo, host_.Regional()))
    LancaErro(erro::kDataHoraInvalida, interno::kClasseControle, "ObterDataHoraRelogio");
  return interno::DataHoraDoRelogio(ano, mes, dia, hora, minuto, segundo, host_.Regional());
}

bool ComunicacaoZK::EnviaDataHoraRelogio(int16_t parCodigoRelogio, DataHora parDataHora) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  return interno::ExecutaComRetentativa(host_, *entrada, [&](CZKEM& sdk) {
    const PartesDataHora p = parDataHora.Partes();
    return sdk.SdkSetDeviceTime(parCodigoRelogio, p.ano, p.mes, p.dia, p.hora, p.minuto, p.segundo);
  });
}

bool ComunicacaoZK::EnviaDataHoraTodosRelogios(DataHora parDataHora) {
  const int32_t total = relogios_.Count();
  for (int32_t i = 1; i <= total; ++i)
    if (!EnviaDataHoraRelogio(relogios_.Item(i)->Relogio()->Codigo(), parDataHora)) return false;
  return true;
}

}  // namespace quorvel
