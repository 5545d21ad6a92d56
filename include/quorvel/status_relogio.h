// A snapshot of one clock's counts, capacities, occupation, time and firmware.
#pragma once

#include <cstdint>
#include <string>

#include "quorvel/data_hora.h"

namespace quorvel {

// Plain property bag; every property stores and returns its value unchanged.
class StatusRelogio {
 public:
  int32_t QuantidadeAdministradores() const { return administradores_; }
  void QuantidadeAdministradores(int32_t v) { administradores_ = v; }
  int32_t QuantidadeUsuarios() const { return usuarios_; }
  void QuantidadeUsuarios(int32_t v) { usuarios_ = v; }
  int32_t QuantidadeTemplates() const { return templates_; }
  void QuantidadeTemplates(int32_t v) { templates_ = v; }
  int32_t QuantidadeSenhas() const { return senhas_; }
  void QuantidadeSenhas(int32_t v) { senhas_ = v; }
  int32_t VezesAdministradorPoderaGerenciar() const { return vezesAdministrador_; }
  void VezesAdministradorPoderaGerenciar(int32_t v) { vezesAdministrador_ = v; }
  int32_t NumeroMarcacoes() const { return marcacoes_; }
  void NumeroMarcacoes(int32_t v) { marcacoes_ = v; }
  int32_t CapacidadeTemplates() const { return capacidadeTemplates_; }
  void CapacidadeTemplates(int32_t v) { capacidadeTemplates_ = v; }
  int32_t CapacidadeUsuarios() const { return capacidadeUsuarios_; }
  void CapacidadeUsuarios(int32_t v) { capacidadeUsuarios_ = v; }
  int32_t CapacidadeRegistros() const { return capacidadeRegistros_; }
  void CapacidadeRegistros(int32_t v) { capacidadeRegistros_ = v; }
  quorvel::DataHora DataHora() const { return dataHora_; }
  void DataHora(quorvel::DataHora v) { dataHora_ = v; }
  double PercentualOcupacacaoBufferMarcacoes() const { return percentual_; }
  void PercentualOcupacacaoBufferMarcacoes(double v) { percentual_ = v; }
  const std::string& VersaoFirmware() const { return versaoFirmware_; }
  void VersaoFirmware(std::string v) { versaoFirmware_ = std::move(v); }

 private:
  int32_t administradores_ = 0;
  int32_t usuarios_ = 0;
  int32_t templates_ = 0;
  int32_t senhas_ = 0;
  int32_t vezesAdministrador_ = 0;
  int32_t marcacoes_ = 0;
  int32_t capacidadeTemplates_ = 0;
  int32_t capacidadeUsuarios_ = 0;
  int32_t capacidadeRegistros_ = 0;
  quorvel::DataHora dataHora_;
  double percentual_ = 0;
  std::string versaoFirmware_;
};

}  // namespace quorvel
