// Daily and weekday sirens and the siren's ringing time (model EModeloRelogio_Quorvel).
//
// A configuration write reports success only when the clock accepted every call the method
// made: a refused slot or option write must not hide behind a later success. Every step is
// still made, in order.
#include "configuration/configuracao.h"
#include "control/interno.h"
#include "quorvel/global.h"

namespace quorvel {

namespace configuracao {

std::string ValorHorarioSirene(int32_t hora, int32_t minuto) {
  return std::to_string(DeslocaBitsEsquerda(hora & 255, 8) | (minuto & 255));
}

void ConfirmaCodigoSirene(int32_t codigo, std::string_view metodo) {
  if (codigo < 1 || codigo > 50)
    LancaErro(erro::kCodigoSireneInvalido, interno::kClasseControle, metodo);
}

}  // namespace configuracao

namespace {

constexpr int32_t kItemAplicaConfiguracao = 1;

// The clock's entry once the guard, the lookup and the model check passed.
template <class Entrada>
void ConfirmaModeloComSirene(const Entrada& entrada, std::string_view metodo) {
  if (entrada->Relogio()->ModeloRelogio() == EModeloRelogio_Tarvenix)
    interno::LancaModeloNaoSuportado(metodo);
}

}  // namespace

bool ComunicacaoZK::SetSireneDiariaRelogio(int16_t parCodigoRelogio, int16_t parCodigoSirene,
                                           int16_t parHora, int16_t parMinuto) {
  configuracao::ConfirmaCodigoSirene(parCodigoSirene, "SetSireneDiariaRelogio");
  const auto entrada = RelogioConectado(parCodigoRelogio);
  ConfirmaModeloComSirene(entrada, "SetSireneDiariaRelogio");
  CZKEM& sdk = *entrada->CZKEM();
  bool ok = sdk.SdkSetSysOption(parCodigoRelogio, "SchBellByWeekday", "0");
  ok &= sdk.SdkSetDeviceInfo(parCodigoRelogio, kItemAplicaConfiguracao, 1);
  const std::string valor = configuracao::ValorHorarioSirene(parHora, parMinuto);
  ok &= sdk.SdkSetSysOption(parCodigoRelogio, "AutoAlarm" + std::to_string(parCodigoSirene), valor);
  ok &= sdk.SdkSetDeviceInfo(parCodigoRelogio, kItemAplicaConfiguracao, 1);
  return ok;
}

bool ComunicacaoZK::SetSireneDiariaTodosRelogios(int16_t parCodigoSirene, int16_t parHora,
                                                 int16_t parMinuto) {
  configuracao::ConfirmaCodigoSirene(parCodigoSirene, "SetSireneDiariaTodosRelogios");
  return ParaTodosRelogios([&](int16_t codigo) {
    return SetSireneDiariaRelogio(codigo, parCodigoSirene, parHora, parMinuto);
  });
}

bool ComunicacaoZK::DelConfigSireneDiariaRelogio(int16_t parCodigoRelogio,
                                                 int16_t parCodigoSirene) {
  configuracao::ConfirmaCodigoSirene(parCodigoSirene, "DelConfigSireneDiariaRelogio");
  const auto entrada = RelogioConectado(parCodigoRelogio);
  ConfirmaModeloComSirene(entrada, "DelConfigSireneDiariaRelogio");
  CZKEM& sdk = *entrada->CZKEM();
  bool ok =
      sdk.SdkSetSysOption(parCodigoRelogio, "AutoAlarm" + std::to_string(parCodigoSirene), "");
  ok &= sdk.SdkSetDeviceInfo(parCodigoRelogio, kItemAplicaConfiguracao, 1);
  return ok;
}

bool ComunicacaoZK::DelConfigSireneDiariaTodosRelogios(int16_t parCodigoSirene) {
  configuracao::ConfirmaCodigoSirene(parCodigoSirene, "DelConfigSireneDiariaTodosRelogios");
  return ParaTodosRelogios(
      [&](int16_t codigo) { return DelConfigSireneDiariaRelogio(codigo, parCodigoSirene); });
}

bool ComunicacaoZK::SetTempoDuracaoToqueSireneRelogio(int16_t parCodigoRelogio,
                                                      int16_t parDuracao) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  ConfirmaModeloComSirene(entrada, "SetTempoDuracaoToqueSireneRelogio");
  CZKEM& sdk = *entrada->CZKEM();
  bool ok = sdk.SdkSetSysOption(parCodigoRelogio, "SchBellByWeekday", "1");
  ok &= sdk.SdkSetSysOption(parCodigoRelogio, "AADelay", std::to_string(parDuracao));
  ok &= sdk.SdkSetDeviceInfo(parCodigoRelogio, kItemAplicaConfiguracao, 1);
  return ok;
}

bool ComunicacaoZK::SetTempoDuracaoToqueSireneTodosRelogios(int16_t parDuracao) {
  return ParaTodosRelogios(
      [&](int16_t codigo) { return SetTempoDuracaoToqueSireneRelogio(codigo, parDuracao); });
}

bool ComunicacaoZK::SetSireneDiaSemanaRelogio(
    int16_t parCodigoRelogio, const std::shared_ptr<ListaHorario>& parColecaoHorarioSirene,
    EDiaDaSemana parDiaDaSemana) {
  if (!parColecaoHorarioSirene) LancaObjetoNaoDefinido();
  const int32_t quantos = parColecaoHorarioSirene->Count();
  if (quantos < 1 || quantos > 12) return false;
  const auto entrada = RelogioConectado(parCodigoRelogio);
  ConfirmaModeloComSirene(entrada, "SetSireneDiaSemanaRelogio");
  CZKEM& sdk = *entrada->CZKEM();
  bool ok = sdk.SdkSetSysOption(parCodigoRelogio, "SchBellByWeekday", "1");
  ok &= sdk.SdkSetDeviceInfo(parCodigoRelogio, kItemAplicaConfiguracao, 1);
  // Slots of weekday d are d x 12 + 1 .. d x 12 + 12; the weekday itself is not checked.
  int16_t slot = Para16Bits(static_cast<int64_t>(parDiaDaSemana) * 12 + 1);
  for (int32_t i = 1; i <= quantos; ++i) {
    const auto horario = parColecaoHorarioSirene->Item(i);
    if (!horario) LancaObjetoNaoDefinido();
    const std::string valor = configuracao::ValorHorarioSirene(horario->Hora(), horario->Minuto());
    ok &= sdk.SdkSetSysOption(parCodigoRelogio, "WDAutoAlarm" + std::to_string(slot), valor);
    ok &= sdk.SdkSetDeviceInfo(parCodigoRelogio, kItemAplicaConfiguracao, 1);
    slot = Para16Bits(static_cast<int64_t>(slot) + 1);
  }
  return ok;
}

bool ComunicacaoZK::SetSireneDiaSemanaTodosRelogios(
    const std::shared_ptr<ListaHorario>& parColecaoHorarioSirene, EDiaDaSemana parDiaDaSemana) {
  if (!parColecaoHorarioSirene) LancaObjetoNaoDefinido();
  if (parColecaoHorarioSirene->Count() < 1 || parColecaoHorarioSirene->Count() > 12) return false;
  return ParaTodosRelogios([&](int16_t codigo) {
    return SetSireneDiaSemanaRelogio(codigo, parColecaoHorarioSirene, parDiaDaSemana);
  });
}

bool ComunicacaoZK::DelConfigSireneDiaSemanaRelogio(int16_t parCodigoRelogio,
                                                    EDiaDaSemana parDiaDaSemana) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  ConfirmaModeloComSirene(entrada, "DelConfigSireneDiaSemanaRelogio");
  CZKEM& sdk = *entrada->CZKEM();
  const int16_t ultimo = Para16Bits(static_cast<int64_t>(parDiaDaSemana) * 12 + 12);
  const int16_t primeiro = Para16Bits(static_cast<int64_t>(parDiaDaSemana) * 12 + 1);
  bool ok = true;
  for (int32_t slot = primeiro; slot <= ultimo; ++slot)
    ok &= sdk.SdkSetSysOption(parCodigoRelogio, "WDAutoAlarm" + std::to_string(slot), "");
  ok &= sdk.SdkSetDeviceInfo(parCodigoRelogio, kItemAplicaConfiguracao, 1);
  return ok;
}

bool ComunicacaoZK::DelConfigSireneDiaSemanaTodosRelogios(EDiaDaSemana parDiaDaSemana) {
  return ParaTodosRelogios(
      [&](int16_t codigo) { return DelConfigSireneDiaSemanaRelogio(codigo, parDiaDaSemana); });
}

}  // namespace quorvel
