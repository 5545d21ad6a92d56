// The daemon's server: clocks on TCP listeners or pseudo-terminals, one session per
// connection, answers buffered per connection and released only once durable.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/diario_virtual.h"

namespace relogio_virtual {

struct RelogioServido {
  int32_t codigo = 0;
  quorvel::EModeloRelogio modelo = quorvel::EModeloRelogio_Quorvel;
  int32_t porta = 4370;
  bool serial = false;
  bool exemplo = false;
  std::string firmware, chave, dados;
  int32_t capacidade = 0;
  int64_t desvio = 0;
  quorvel::sdk::IdentificacaoRep rep;  // what a register clock's fiscal file says of it
  std::shared_ptr<quorvel::sdk::DispositivoVirtual> dispositivo;
  std::unique_ptr<quorvel::sdk::DiarioVirtual> diario;
  int fdEscuta = -1;  // TCP listener
  int fdSerial = -1;  // pseudo-terminal standing in for the serial line
  std::string caminhoSerial;
};

struct OpcoesServidor {
  std::string endereco = "127.0.0.1";
  int32_t marcacoesPorMinuto = 0;
  int64_t cairApos = 0;
  int32_t atrasoMs = 0;
  std::vector<std::pair<std::string, int32_t>> recusas;
  int64_t corromperApos = 0;
  // Sites run hundreds of clocks per machine, one link each from the collector.
  size_t maxConexoes = 256;
  int32_t ociosoS = 300;
  // Every request answered is named on stderr ("pedido <nome> de <conexão>"), so a test or an
  // operator sees where a client is in an exchange.
  bool detalhar = false;
  // Answers a client has not read yet; past this the client is cut off.
  size_t limiteSaida = 8u << 20;
};

// How long the answer to a wrong key proof waits, after `falhas` wrong proofs in a row from
// one address (1 or more): 100 ms, doubled at each one, never more than 30 s.
std::chrono::milliseconds AtrasoDaChave(int falhas);

// Serves until `parar` is set. Returns the exit code: 0, or 1 when a journal could not be
// made durable (nothing more is acknowledged then).
int Serve(const OpcoesServidor& opcoes, std::vector<RelogioServido>& relogios,
          volatile std::sig_atomic_t& parar);

// Opens the listener (port 0: a free one, written back) or the pseudo-terminal of each clock
// and prints where it is served.
void Publica(const OpcoesServidor& opcoes, std::vector<RelogioServido>& relogios);

}  // namespace relogio_virtual
