// Employer data for register clocks.
#include "control/interno.h"

namespace quorvel {

bool ComunicacaoZK::EnviaEmpregadorRelogio(int16_t parCodigoRelogio, const std::string& parNome,
                                           ETipoDocumento parTipoDocumento,
                                           const std::string& parDocumento,
                                           const std::string& parCEI,
                                           const std::string& parEndereco) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  if (entrada->Relogio()->ModeloRelogio() == EModeloRelogio_Quorvel)
    interno::LancaModeloNaoSuportado("EnviaEmpregadorRelogio");
  // Everything goes to the clock exactly as the host gave it; the clock judges the values.
  return interno::ExecutaComRetentativa(host_, *entrada, [&](CZKEM& sdk) {
    return sdk.SdkSetEmployer(parCodigoRelogio, parNome, parTipoDocumento, parDocumento, parCEI,
                              parEndereco);
  });
}

}  // namespace quorvel
