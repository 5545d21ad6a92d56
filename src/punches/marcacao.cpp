#include "quorvel/marcacao.h"

#include "quorvel/erro.h"

namespace quorvel {

void ListaMarcacao::Add(const std::shared_ptr<Marcacao>& parMarcacao) {
  EnvolveErro("ListaMarcacao", "Add", [&] { itens_.push_back(parMarcacao); });
}

void ListaMarcacao::Add(std::shared_ptr<Marcacao>&& parMarcacao) {
  EnvolveErro("ListaMarcacao", "Add", [&] { itens_.push_back(std::move(parMarcacao)); });
}

std::shared_ptr<Marcacao> ListaMarcacao::Item(int32_t parIndex) const {
  return EnvolveErro("ListaMarcacao", "Item", [&] {
    if (parIndex < 1 || parIndex > Count()) LancaIndiceForaDoIntervalo();
    return itens_[static_cast<size_t>(parIndex - 1)];
  });
}

}  // namespace quorvel
