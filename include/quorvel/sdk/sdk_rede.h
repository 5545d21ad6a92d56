// The network backend: CZKEM over the project's clock protocol, on TCP or a serial line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quorvel/sdk/czkem.h"

namespace quorvel::sdk {

struct OpcoesRede {
  // The clock's communication key; empty when the clock has none. A setting of the SDK
  // object, not of the component.
  std::string chave;
  int32_t tempoConexaoMs = 3000;
  int32_t tempoRespostaMs = 5000;
  // Subscribe to the clock's pushed log size, so an idle monitoring visit needs no round trip
  // (off: every visit asks the clock, for comparison).
  bool assinar = true;
};

// SdkConnectNetwork opens TCP (with a connection time-out) to the address and port;
// SdkConnectSerial opens the device of CaminhoSerial(porta) at 115200 8N1, raw. A lost link
// (reset, end of stream, time-out, bad checksum) answers false with last error -2 until the
// next connect; a protocol violation by the clock throws an Erro numbered
// codigo::kFalhaProtocolo. A refused key answers false with codigo::kChaveExigida or
// codigo::kChaveIncorreta.
std::shared_ptr<CZKEM> CriaSdkRede(OpcoesRede opcoes = {});
FabricaCZKEM FabricaRede(OpcoesRede opcoes = {});

// Traffic of every network SDK object of this process since it started (for measurements).
struct EstatisticasRede {
  uint64_t bytesEnviados = 0, bytesRecebidos = 0, trocas = 0;
};
EstatisticasRede Estatisticas();

// Serial port N is the path in the environment variable QUORVEL_SERIAL_N when set, else
// the pattern in QUORVEL_SERIAL_PADRAO with N-1 in place of %d, else /dev/ttyS(N-1).
std::string CaminhoSerial(int32_t porta);

}  // namespace quorvel::sdk
