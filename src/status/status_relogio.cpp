// The status query.
#include <cmath>

#include "control/interno.h"

namespace quorvel {

namespace {

// Four decimal places, a tie going to the even digit: 1.03125 gives 1.0312.
double ArredondaQuatroCasas(double valor) { return std::nearbyint(valor * 10000.0) / 10000.0; }

}  // namespace

std::shared_ptr<StatusRelogio> ComunicacaoZK::ObterStatusRelogio(int16_t parCodigoRelogio) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  CZKEM& sdk = *entrada->CZKEM();
  const int32_t maquina = parCodigoRelogio;
  auto status = std::make_shared<StatusRelogio>();

  // One out variable for all nine reads: a read that fills nothing repeats the value before.
  int32_t valor = 0;
  sdk.SdkGetDeviceStatus(maquina, 9, valor);
  status->CapacidadeRegistros(valor);
  sdk.SdkGetDeviceStatus(maquina, 7, valor);
  status->CapacidadeTemplates(valor);
  sdk.SdkGetDeviceStatus(maquina, 8, valor);
  status->CapacidadeUsuarios(valor);
  sdk.SdkGetDeviceStatus(maquina, 1, valor);
  status->QuantidadeAdministradores(valor);
  sdk.SdkGetDeviceStatus(maquina, 4, valor);
  status->QuantidadeSenhas(valor);
  sdk.SdkGetDeviceStatus(maquina, 3, valor);
  status->QuantidadeTemplates(valor);
  sdk.SdkGetDeviceStatus(maquina, 2, valor);
  status->QuantidadeUsuarios(valor);
  sdk.SdkGetDeviceStatus(maquina, 5, valor);
  status->VezesAdministradorPoderaGerenciar(valor);
  sdk.SdkGetDeviceStatus(maquina, 6, valor);
  status->NumeroMarcacoes(valor);

  if (status->CapacidadeRegistros() == 0) {
    status->PercentualOcupacacaoBufferMarcacoes(0);
  } else {
    // In 64 bits: a large punch count times 100 must not overflow.
    const int64_t produto = static_cast<int64_t>(status->NumeroMarcacoes()) * 100;
    status->PercentualOcupacacaoBufferMarcacoes(ArredondaQuatroCasas(
        static_cast<double>(produto) / static_cast<double>(status->CapacidadeRegistros())));
  }

  status->DataHora(ObterDataHoraRelogio(parCodigoRelogio));
  std::string versao;
  sdk.SdkGetFirmwareVersion(maquina, versao);
  status->VersaoFirmware(std::move(versao));
  return status;
}

}  // namespace quorvel
