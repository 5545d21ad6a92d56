#include "partilha.h"

#include <algorithm>

namespace ponto::partilha {

size_t Cota(size_t relogios, size_t servicos) {
  servicos = std::max<size_t>(servicos, 1);
  return (relogios + servicos - 1) / servicos;
}

size_t QuantosDeixar(const Visao& v) {
  const size_t cota = Cota(v.relogios, v.servicosVivos);
  if (v.mantidos <= cota) return 0;
  return std::min(v.mantidos - cota, v.espacoDosOutros);
}

bool Toma(const Visao& v, double segundosLivre, double periodo) {
  return v.mantidos < Cota(v.relogios, v.servicosVivos) || segundosLivre >= periodo;
}

}  // namespace ponto::partilha
