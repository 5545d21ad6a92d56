// Deleting an employee from one clock or from all clocks.
#include "control/interno.h"

namespace quorvel {

bool ComunicacaoZK::ExcluiFuncionarioCartaoRelogio(
    int16_t parCodigoRelogio, const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  if (!parFuncionarioCartao) LancaObjetoNaoDefinido();
  const FuncionarioCartao& funcionario = *parFuncionarioCartao;
  const std::shared_ptr<CZKEM> czkem = entrada->CZKEM();
  const std::shared_ptr<Relogio> relogio = entrada->Relogio();
  CZKEM& sdk = *czkem;
  const int32_t maquina = parCodigoRelogio;
  const auto ehQuorvel = [&] { return relogio->ModeloRelogio() == EModeloRelogio_Quorvel; };

  // A user with a password or a privilege is first stripped of both.
  if (ehQuorvel() && (!funcionario.Senha().empty() || funcionario.Supervisor())) {
    if (!sdk.SdkSetUserInfo(maquina, funcionario.Codigo(), funcionario.Nome(), "", 0, true))
      return false;
  }

  const ColecaoTemplates& templates = *funcionario.Template();
  const int32_t quantos = templates.Count();
  for (int32_t t = 1; t <= quantos; ++t)
    if (ehQuorvel())
      sdk.SdkDeleteUserTemplate(maquina, funcionario.Codigo(), templates.Item(t)->Dedo());

  // The result is true only when the clock accepted the deletion and the final check agrees
  // that the employee is gone: a refused deletion is never reported as done.
  bool aceitou = false;
  if (ehQuorvel()) {
    aceitou = interno::ExecutaComRetentativa(host_, *entrada, [&](CZKEM& s) {
      return s.SdkDeleteEnrollData(maquina, funcionario.Codigo(), maquina, 0);
    });
  } else {
    aceitou = sdk.SdkDeleteEnrollDataByTextId(maquina, std::to_string(funcionario.Codigo()), 12);
  }

  if (ehQuorvel()) {
    std::string nome = funcionario.Nome(), texto;
    int32_t numero = 0;
    bool flag = true;
    return !sdk.SdkQueryUserInfo(maquina, nome, texto, numero, flag) && aceitou;
  }
  std::string usuario, nome, senha, pis, cpf;
  int32_t privilegio = 0;
  bool habilitado = false;
  return !sdk.SdkGetNextUserInfoWithPis(maquina, usuario, nome, senha, privilegio, habilitado, pis,
                                        cpf) &&
         aceitou;
}

bool ComunicacaoZK::ExcluirFuncionarioCartaoTodosRelogios(
    const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao) {
  const int32_t total = relogios_.Count();
  for (int32_t i = 1; i <= total; ++i)
    if (!ExcluiFuncionarioCartaoRelogio(relogios_.Item(i)->Relogio()->Codigo(),
                                        parFuncionarioCartao))
      return false;
  return true;
}

}  // namespace quorvel
