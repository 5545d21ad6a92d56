// Figures taken in turns: what is measured and its floor, one after the other, several times.
// On a shared machine the load of one moment moves both figures of that turn alike, so the
// median of the turns' ratios is steadier than two figures measured minutes apart.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace quorvel::bench {

// The seconds `faz` takes.
template <class F>
double Segundos(F&& faz) {
  const auto inicio = std::chrono::steady_clock::now();
  faz();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
}

class Turnos {
 public:
  void Anota(double medido, double piso) {
    medidos_.push_back(medido);
    pisos_.push_back(piso);
    razoes_.push_back(medido / piso);
  }
  // The medians as counters: `<medido>_ms`, `<piso>_ms` and `razao`.
  void Relata(benchmark::State& state, const std::string& medido, const std::string& piso) const {
    state.counters[medido + "_ms"] = Mediana(medidos_) * 1000;
    state.counters[piso + "_ms"] = Mediana(pisos_) * 1000;
    state.counters["razao"] = Mediana(razoes_);
  }

 private:
  static double Mediana(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  }
  std::vector<double> medidos_, pisos_, razoes_;
};

}  // namespace quorvel::bench
