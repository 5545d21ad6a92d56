// The control's staging list of employees waiting to be sent.
#include "control/interno.h"

namespace quorvel {

void ComunicacaoZK::AddFuncionarioCartao(
    const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao) {
  funcionarios_.Add(parFuncionarioCartao);
}

void ComunicacaoZK::RemoverFuncionarioCartao(const std::string& parCodigo) {
  funcionarios_.Remove(parCodigo);
}

void ComunicacaoZK::RemoverTodosFuncionariosCartao() { funcionarios_.RemoveAll(); }

std::shared_ptr<FuncionarioCartao> ComunicacaoZK::ObterFuncionarioCartaoByCodCartao(
    const std::string& parCodigoCartao) {
  // Despite the name, employees are found by their code, not by their card text.
  return funcionarios_.ItemByCodCartaoFuncionario(interno::TextoParaInteiro32(parCodigoCartao));
}

}  // namespace quorvel
