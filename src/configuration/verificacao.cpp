// Verification mode: device-information item 35 is 1 for one-to-one, 0 for one-to-many.
#include "control/interno.h"

namespace quorvel {

namespace {
constexpr int32_t kItemModoVerificacao = 35;
}

bool ComunicacaoZK::Set1Para1Relogio(int16_t parCodigoRelogio) {
  return RelogioConectado(parCodigoRelogio)
      ->CZKEM()
      ->SdkSetDeviceInfo(parCodigoRelogio, kItemModoVerificacao, 1);
}

bool ComunicacaoZK::Set1ParaNRelogio(int16_t parCodigoRelogio) {
  return RelogioConectado(parCodigoRelogio)
      ->CZKEM()
      ->SdkSetDeviceInfo(parCodigoRelogio, kItemModoVerificacao, 0);
}

bool ComunicacaoZK::Set1Para1TodosRelogios() {
  return ParaTodosRelogios([&](int16_t codigo) { return Set1Para1Relogio(codigo); });
}

bool ComunicacaoZK::Set1ParaNTodosRelogios() {
  return ParaTodosRelogios([&](int16_t codigo) { return Set1ParaNRelogio(codigo); });
}

}  // namespace quorvel
