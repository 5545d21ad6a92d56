// A siren time of day and the list of a weekday's siren times.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace quorvel {

// Plain property bag; no range check.
class Horario {
 public:
  int16_t Hora() const { return hora_; }
  void Hora(int16_t v) { hora_ = v; }
  int16_t Minuto() const { return minuto_; }
  void Minuto(int16_t v) { minuto_ = v; }

 private:
  int16_t hora_ = 0;
  int16_t minuto_ = 0;
};

// Ordered times, 1-based, no keys. Failures of Add, Item and Remove raise -1 naming
// ListaHorario and the method.
class ListaHorario {
 public:
  void Add(const std::shared_ptr<Horario>& parHorario);
  int32_t Count() const { return static_cast<int32_t>(itens_.size()); }
  std::shared_ptr<Horario> Item(int32_t parIndex) const;
  void Remove(int32_t parIndex);

 private:
  std::vector<std::shared_ptr<Horario>> itens_;
};

}  // namespace quorvel
