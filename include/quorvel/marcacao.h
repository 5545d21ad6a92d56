// A punch read from a clock, and the ordered list the collection operations return.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quorvel/data_hora.h"

namespace quorvel {

// Plain property bag; puts store the value unchanged.
class Marcacao {
 public:
  // Card (user) code; model EModeloRelogio_Quorvel only, 0 for register clocks.
  int32_t CodigoCartao() const { return codigoCartao_; }
  void CodigoCartao(int32_t v) { codigoCartao_ = v; }
  int16_t CodigoRelogio() const { return codigoRelogio_; }
  void CodigoRelogio(int16_t v) { codigoRelogio_ = v; }
  quorvel::DataHora DataHoraMarcacao() const { return dataHora_; }
  void DataHoraMarcacao(quorvel::DataHora v) { dataHora_ = v; }
  bool MarcacaoPorDigital() const { return porDigital_; }
  void MarcacaoPorDigital(bool v) { porDigital_ = v; }
  const std::string& PIS() const { return pis_; }
  void PIS(std::string v) { pis_ = std::move(v); }
  const std::string& NSR() const { return nsr_; }
  void NSR(std::string v) { nsr_ = std::move(v); }

 private:
  int32_t codigoCartao_ = 0;
  int16_t codigoRelogio_ = 0;
  quorvel::DataHora dataHora_;  // the zero date-time
  bool porDigital_ = false;
  std::string pis_;
  std::string nsr_;
};

// Ordered punches, 1-based, no keys. Holds the objects added, not copies.
class ListaMarcacao {
 public:
  // Appends; the same object may be listed twice.
  void Add(const std::shared_ptr<Marcacao>& parMarcacao);
  // Same, taking over the caller's reference (no reference-count traffic on hot paths).
  void Add(std::shared_ptr<Marcacao>&& parMarcacao);
  int32_t Count() const { return static_cast<int32_t>(itens_.size()); }
  // Position 1..Count; anything else raises -1 naming ListaMarcacao.Item.
  std::shared_ptr<Marcacao> Item(int32_t parIndex) const;

  void Reserva(size_t n) { itens_.reserve(n); }

 private:
  std::vector<std::shared_ptr<Marcacao>> itens_;
};

}  // namespace quorvel
