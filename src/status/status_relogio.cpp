// The status query.
#include "control/interno.h"

namespace quorvel {

namespace {

// count × 100 / capacity rounded to four decimal places, a tie going to the even last digit,
// on the exact decimal value (1.03125 is a tie and gives 1.0312; 3 of 2,000,000 give 0.0002).
// Integers throughout: a 32-bit count × 10^6 stays far inside 64 bits.
double PercentualOcupacao(int32_t marcacoes, int32_t capacidade) {
  using Inteiro = int64_t;
  Inteiro numerador = static_cast<Inteiro>(marcacoes) * 1'000'000;  // × 100, then × 10^4 places
  Inteiro denominador = capacidade;
  const bool negativo = (numerador < 0) != (denominador < 0) && numerador != 0;
  if (numerador < 0) numerador = -numerador;
  if (denominador < 0) denominador = -denominador;
  Inteiro quociente = numerador / denominador;
  const Inteiro resto = numerador % denominador;
  if (2 * resto > denominador || (2 * resto == denominador && quociente % 2 == 1)) ++quociente;
  const double valor = static_cast<double>(static_cast<int64_t>(quociente)) / 10000.0;
  return negativo ? -valor : valor;
}

}  // namespace

std::shared_ptr<StatusRelogio> ComunicacaoZK::ObterStatusRelogio(int16_t parCodigoRelogio) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  CZKEM& sdk = *entrada->CZKEM();
  const int32_t maquina = parCodigoRelogio;
  auto status = std::make_shared<StatusRelogio>();

  // Each value from its own read; a refused read leaves its field at 0 rather than repeating
  // the value of the read before it.
  const auto le = [&](int32_t codigo) {
    int32_t valor = 0;
    return sdk.SdkGetDeviceStatus(maquina, codigo, valor) ? valor : 0;
  };
  status->CapacidadeRegistros(le(9));
  status->CapacidadeTemplates(le(7));
  status->CapacidadeUsuarios(le(8));
  status->QuantidadeAdministradores(le(1));
  status->QuantidadeSenhas(le(4));
  status->QuantidadeTemplates(le(3));
  status->QuantidadeUsuarios(le(2));
  status->VezesAdministradorPoderaGerenciar(le(5));
  status->NumeroMarcacoes(le(6));

  status->PercentualOcupacacaoBufferMarcacoes(
      status->CapacidadeRegistros() == 0
          ? 0
          : PercentualOcupacao(status->NumeroMarcacoes(), status->CapacidadeRegistros()));

  status->DataHora(ObterDataHoraRelogio(parCodigoRelogio));
  std::string versao;
  sdk.SdkGetFirmwareVersion(maquina, versao);
  status->VersaoFirmware(std::move(versao));
  return status;
}

}  // namespace quorvel
