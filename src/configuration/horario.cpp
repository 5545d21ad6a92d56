#include "quorvel/horario.h"

#include "quorvel/erro.h"

namespace quorvel {

namespace {
void ConfirmaPosicao(int32_t posicao, size_t quantos) {
  if (posicao < 1 || static_cast<size_t>(posicao) > quantos) LancaIndiceForaDoIntervalo();
}
}  // namespace

void ListaHorario::Add(const std::shared_ptr<Horario>& parHorario) {
  EnvolveErro("ListaHorario", "Add", [&] { itens_.push_back(parHorario); });
}

std::shared_ptr<Horario> ListaHorario::Item(int32_t parIndex) const {
  return EnvolveErro("ListaHorario", "Item", [&] {
    ConfirmaPosicao(parIndex, itens_.size());
    return itens_[static_cast<size_t>(parIndex - 1)];
  });
}

void ListaHorario::Remove(int32_t parIndex) {
  EnvolveErro("ListaHorario", "Remove", [&] {
    ConfirmaPosicao(parIndex, itens_.size());
    itens_.erase(itens_.begin() + (parIndex - 1));
  });
}

}  // namespace quorvel
