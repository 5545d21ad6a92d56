#include "quorvel/funcionario.h"

namespace quorvel {

void FuncionarioCartao::AddTemplate(const std::shared_ptr<quorvel::Template>& parTemplate) {
  if (!parTemplate) LancaObjetoNaoDefinido();
  std::string chave = std::to_string(Para16Bits(parTemplate->Dedo()));
  if (ExisteNaColecao(*templates_, chave))
    LancaErro(erro::kTemplateRepetido, "FuncionarioCartao", "AddTemplate");
  templates_->Add(parTemplate, std::move(chave));
}

void FuncionarioCartao::RemoveTemplate(int32_t parDedo) {
  templates_->Remove(std::to_string(parDedo));
}

void ListaFuncionarioCartao::Add(const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao) {
  if (!parFuncionarioCartao) LancaObjetoNaoDefinido();
  const int32_t codigo = parFuncionarioCartao->Codigo();
  if (codigo <= 0) LancaErro(erro::kCodigoFuncionarioInvalido, "ListaFuncionarioCartao", "Add");
  std::string chave = std::to_string(codigo);
  if (ExisteNaColecao(itens_, chave))
    LancaErro(erro::kFuncionarioRepetido, "ListaFuncionarioCartao", "Add");
  EnvolveErro("ListaFuncionarioCartao", "Add",
              [&] { itens_.Add(parFuncionarioCartao, std::move(chave)); });
}

std::shared_ptr<FuncionarioCartao> ListaFuncionarioCartao::Item(int32_t parIndex) const {
  return EnvolveErro("ListaFuncionarioCartao", "Item", [&] { return itens_.Item(parIndex); });
}

std::shared_ptr<FuncionarioCartao> ListaFuncionarioCartao::ItemByCodCartaoFuncionario(
    int32_t parCodigoCartaoFuncionario) const {
  const auto* item = itens_.Procura(std::to_string(parCodigoCartaoFuncionario));
  return item ? *item : nullptr;
}

void ListaFuncionarioCartao::Remove(std::string_view parCodigoFuncionarioCartao) {
  EnvolveErro("ListaFuncionarioCartao", "Remove",
              [&] { itens_.Remove(parCodigoFuncionarioCartao); });
}

void ListaFuncionarioCartao::RemoveAll() {
  EnvolveErro("ListaFuncionarioCartao", "RemoveAll", [&] { itens_.RemoveTudo(); });
}

void ListaFuncionarioNaoEnviado::Add(
    const std::shared_ptr<FuncionarioNaoEnviado>& parFuncionarioNaoEnviado) {
  EnvolveErro("ListaFuncionarioNaoEnviado", "Add", [&] {
    if (!parFuncionarioNaoEnviado || !parFuncionarioNaoEnviado->FuncionarioCartao())
      LancaObjetoNaoDefinido();
    const std::string& relogio = parFuncionarioNaoEnviado->CodigoRelogio();
    const int32_t codigo = parFuncionarioNaoEnviado->FuncionarioCartao()->Codigo();
    const std::string codigoTexto = std::to_string(codigo);
    // Clock + code, no separator, is the key hosts look records up by; clock "1" with
    // employee 23 and clock "12" with employee 3 both make "123". The second pair then goes
    // under clock + "/" + code, which no such key can take, so no refusal is lost. The same
    // pair noted twice keeps its first record and reason.
    const auto mesmoPar = [&](const std::shared_ptr<FuncionarioNaoEnviado>& r) {
      return r->CodigoRelogio() == relogio && r->FuncionarioCartao() &&
             r->FuncionarioCartao()->Codigo() == codigo;
    };
    for (std::string chave : {relogio + codigoTexto, relogio + "/" + codigoTexto}) {
      const auto* existente = itens_.Procura(chave);
      if (!existente) {
        itens_.Add(parFuncionarioNaoEnviado, std::move(chave));
        return;
      }
      if (mesmoPar(*existente)) return;
    }
  });
}

std::shared_ptr<FuncionarioNaoEnviado> ListaFuncionarioNaoEnviado::Item(int32_t parIndex) const {
  return EnvolveErro("ListaFuncionarioNaoEnviado", "Item", [&] { return itens_.Item(parIndex); });
}

}  // namespace quorvel
