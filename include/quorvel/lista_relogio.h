// The registry of clocks, keyed by the decimal text of each clock's code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "quorvel/colecao.h"
#include "quorvel/relogio.h"

namespace quorvel {

class ListaRelogio {
 public:
  // Checks, in order: code above 0 (-31), address of a network clock (-32), port of a serial
  // clock (-32), code not yet registered (-24); then appends a new entry, not connected.
  // A missing record raises the missing-object error (91).
  void Add(const std::shared_ptr<Relogio>& parRelogio, const std::shared_ptr<CZKEM>& parCZKEM);
  int32_t Count() const { return itens_.Count(); }
  // Position 1..Count; anything else raises -1.
  std::shared_ptr<RelogioCZKEM> Item(int32_t parIndex) const;
  // The entry under that key text, or nullptr; never raises.
  std::shared_ptr<RelogioCZKEM> ItemByCodRelogio(std::string_view parCodigoRelogio) const;
  // Removes the entry under that key text; a missing key raises -34.
  void Remove(std::string_view parCodigoRelogio);

 private:
  Colecao<std::shared_ptr<RelogioCZKEM>> itens_;
};

}  // namespace quorvel
