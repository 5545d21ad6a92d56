// The clock descriptor and the registry entry that pairs it with its SDK object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quorvel/enumeracoes.h"
#include "quorvel/sdk/czkem.h"

namespace quorvel {

// A clock as the host describes it. Properties store what they are given; nothing is
// validated here (registration checks what it needs).
class Relogio {
 public:
  int16_t Codigo() const { return codigo_; }
  void Codigo(int16_t v) { codigo_ = v; }
  bool Consulta1N() const { return consulta1N_; }
  void Consulta1N(bool v) { consulta1N_ = v; }
  // The clock's network address. A plain address ("10.0.0.5", "relogio.local", "fe80::1") is
  // reached on port 4370; "endereço:porta" (IPv6 as "[::1]:porta") on that port. Text after a
  // colon that is not a port 1..65535 leaves the whole text to the SDK, on port 4370.
  const std::string& IP() const { return ip_; }
  void IP(std::string v) { ip_ = std::move(v); }
  bool PenDrive() const { return penDrive_; }
  void PenDrive(bool v) { penDrive_ = v; }
  // True while real-time monitoring runs for this clock.
  bool Monitorado() const { return monitorado_; }
  void Monitorado(bool v) { monitorado_ = v; }
  ETipoConexao TipoConexao() const { return tipoConexao_; }
  void TipoConexao(ETipoConexao v) { tipoConexao_ = v; }
  int16_t PortaSerial() const { return portaSerial_; }
  void PortaSerial(int16_t v) { portaSerial_ = v; }
  EModeloRelogio ModeloRelogio() const { return modelo_; }
  void ModeloRelogio(EModeloRelogio v) { modelo_ = v; }

 private:
  int16_t codigo_ = 0;
  bool consulta1N_ = false;
  std::string ip_;
  bool penDrive_ = false;
  bool monitorado_ = false;
  ETipoConexao tipoConexao_ = ConexaoIP;
  int16_t portaSerial_ = 0;
  EModeloRelogio modelo_ = EModeloRelogio_Quorvel;
};

// A registry entry: the host's record (shared, not copied), the SDK object serving the clock
// and the control's belief that the clock is connected.
class RelogioCZKEM {
 public:
  const std::shared_ptr<quorvel::Relogio>& Relogio() const { return relogio_; }
  void Relogio(std::shared_ptr<quorvel::Relogio> v) { relogio_ = std::move(v); }
  const std::shared_ptr<quorvel::CZKEM>& CZKEM() const { return czkem_; }
  void CZKEM(std::shared_ptr<quorvel::CZKEM> v) { czkem_ = std::move(v); }
  bool Conectado() const { return conectado_; }
  void Conectado(bool v) { conectado_ = v; }

 private:
  std::shared_ptr<quorvel::Relogio> relogio_;
  std::shared_ptr<quorvel::CZKEM> czkem_;
  bool conectado_ = false;
};

}  // namespace quorvel
