// Private services shared by the control's subsystems: fixed values, reopening a clock's
// link, the retry procedure after a lost link, numeric text conversion, the all-clocks loop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quorvel/comunicacao_zk.h"
#include "quorvel/erro.h"
#include "quorvel/host.h"
#include "quorvel/relogio.h"

namespace quorvel::interno {

inline constexpr int32_t kPortaRede = 4370;
inline constexpr int32_t kBaudSerial = 115200;
// A read cut by a lost link is resumed; this many attempts in a row that bring nothing new
// mean the clock cannot be reached.
inline constexpr int16_t kTentativasSemProgresso = 3;
inline constexpr std::string_view kClasseControle = "ComunicacaoZK";

// A clock's address as the host wrote it: "host" reaches port 4370, "host:porta" and
// "[v6]:porta" reach that port. A bare IPv6 address (two colons or more) keeps port 4370.
struct EnderecoRede {
  std::string host;
  int32_t porta = kPortaRede;
};
EnderecoRede EnderecoDe(const std::string& ip);

// SdkConnectNetwork to the clock's address, on the port the address names (else 4370).
bool ConectaRede(CZKEM& sdk, const std::string& ip);

// Closes nothing: opens the clock's link again the way the clock is registered (serial clocks
// on their port, every other clock over the network to its address). Returns the SDK's answer.
bool ReabreConexao(const RelogioCZKEM& entrada);

// The SDK object's last error code.
int32_t UltimoErro(CZKEM& sdk);

// After a read cut by a lost link: the waits of the retry procedure around a fresh link
// (1000 ms, one yield, disconnect, 250 ms, reopen, 250 ms). Returns the reopen's answer.
bool ReabreAposQueda(Host& host, const RelogioCZKEM& entrada);

// -43 "O relógio N está desconectado. ..." naming `metodo`: a clock whose link fell and could
// not be brought back while an operation needed it.
[[noreturn]] void LancaRelogioInacessivel(int16_t codigo, std::string_view metodo);

// -47 "Método não suportado pelo modelo de relógio informado." naming `metodo`.
[[noreturn]] void LancaModeloNaoSuportado(std::string_view metodo);

// Text to a 32-bit signed integer the way the platform converts: blanks around are ignored,
// an optional sign, digits, and an optional decimal part rounded half to even. Anything else
// is a type mismatch (13); a value outside the 32-bit range an overflow (6).
int32_t TextoParaInteiro32(std::string_view texto);

// The date-time a clock names with six numbers, read day first whatever the host's regional
// settings, as the text "d/m/y h:m:s" built from them would be read: a year below 100 is
// windowed with the host's century setting, like any two-digit year in a text. Raises the
// type-mismatch error (13) for an impossible date.
DataHora DataHoraDoRelogio(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                           int32_t segundo, const ConfiguracaoRegional& regional);
// Same check without raising.
bool DataHoraDoRelogioValida(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                             int32_t segundo, const ConfiguracaoRegional& regional);

// The retry procedure after a lost link. `operacao(czkem)` is attempted; when it fails with
// last error -2 the link is reopened (1000 ms, one yield, disconnect, 250 ms, reconnect,
// 250 ms) and the operation attempted again, three attempts at most. Any other error code
// ends at once. Returns the last attempt's answer.
template <class Op>
bool ExecutaComRetentativa(Host& host, const RelogioCZKEM& entrada, Op&& operacao) {
  CZKEM& sdk = *entrada.CZKEM();
  int16_t tentativas = 0;
  for (;;) {
    if (operacao(sdk)) return true;
    if (UltimoErro(sdk) != sdk::codigo::kLinkPerdido) return false;
    if (++tentativas == 3) return false;
    ReabreAposQueda(host, entrada);
  }
}

}  // namespace quorvel::interno

namespace quorvel {

template <class F>
bool ComunicacaoZK::ParaTodosRelogios(F&& umRelogio) {
  bool resultado = true;
  const int32_t total = relogios_.Count();
  for (int32_t i = 1; i <= total; ++i) {
    const int16_t codigo = relogios_.Item(i)->Relogio()->Codigo();
    if (!umRelogio(codigo)) resultado = false;
  }
  return resultado;
}

}  // namespace quorvel
