// Collection from all clocks.
#include <vector>

#include "control/interno.h"

namespace quorvel {

std::shared_ptr<ListaMarcacao> ComunicacaoZK::ObterMarcacaoTodosRelogios(int32_t parIndexPonteiro) {
  const int32_t total = relogios_.Count();
  std::vector<std::shared_ptr<ListaMarcacao>> porRelogio;
  porRelogio.reserve(static_cast<size_t>(total));
  size_t quantas = 0;
  for (int32_t i = 1; i <= total; ++i) {
    auto lista = ObterMarcacaoRelogio(relogios_.Item(i)->Relogio()->Codigo(), parIndexPonteiro, 0);
    if (lista) quantas += static_cast<size_t>(lista->Count());
    porRelogio.push_back(std::move(lista));
  }
  auto resultado = std::make_shared<ListaMarcacao>();
  resultado->Reserva(quantas);
  for (const auto& lista : porRelogio) {
    if (!lista) continue;  // that clock's run was cancelled
    // The host gets copies carrying every field: the register clock's NSR and the employee's
    // PIS matter as much here as in a one-clock collection.
    resultado->AnexaCopias(*lista);
  }
  return resultado;
}

}  // namespace quorvel
