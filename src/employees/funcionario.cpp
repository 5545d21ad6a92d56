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
    std::string chave = parFuncionarioNaoEnviado->CodigoRelogio() +
                        std::to_string(parFuncionarioNaoEnviado->FuncionarioCartao()->Codigo());
    if (!itens_.Procura(chave)) itens_.Add(parFuncionarioNaoEnviado, std::move(chave));
  });
}

void ListaFuncionarioNaoEnviado::Anota(const std::shared_ptr<FuncionarioNaoEnviado>& registro) {
  EnvolveErro("ListaFuncionarioNaoEnviado", "Add", [&] {
    if (!registro || !registro->FuncionarioCartao()) LancaObjetoNaoDefinido();
    const std::string& relogio = registro->CodigoRelogio();
    const int32_t codigo = registro->FuncionarioCartao()->Codigo();
    const std::string codigoTexto = std::to_string(codigo);
    const auto mesmoPar = [&](const std::shared_ptr<FuncionarioNaoEnviado>& r) {
      return r->CodigoRelogio() == relogio && r->FuncionarioCartao() &&
             r->FuncionarioCartao()->Codigo() == codigo;
    };
    for (std::string chave : {relogio + codigoTexto, relogio + "/" + codigoTexto}) {
      const auto* existente = itens_.Procura(chave);
      if (!existente) {
        itens_.Add(registro, std::move(chave));
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
