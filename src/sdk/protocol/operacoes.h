// The device operations that travel as calls, named once in opcode order. Their wire
// signatures and the daemon's dispatch are derived from CZKEM's own declarations at compile
// time, so a parameter added to an operation changes both, and a type the wire cannot carry
// does not compile.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "quorvel/sdk/czkem.h"
#include "sdk/protocol/protocol.h"

// X(operation, nature, references) for every call, in opcode order from kPrimeiraChamada. New
// operations go at the end: an operation's place is its opcode, which peers of the same
// protocol version share. Both ends act on the nature (see Natureza); a client on the
// references (see Referencias).
#define QUORVEL_OPERACOES_DE_CHAMADA(X)                        \
  X(SdkEnableDevice, Escrita, Saida)                           \
  X(SdkRefreshData, Escrita, Saida)                            \
  X(SdkGetDeviceStatus, Leitura, Saida)                        \
  X(SdkSetDeviceInfo, Escrita, Saida)                          \
  X(SdkGetDeviceTime, Leitura, Saida)                          \
  X(SdkSetDeviceTime, Escrita, Saida)                          \
  X(SdkGetFirmwareVersion, Leitura, Saida)                     \
  X(SdkGetSysOption, Leitura, Saida)                           \
  X(SdkSetSysOption, Escrita, Saida)                           \
  X(SdkRefreshOptions, Escrita, Saida)                         \
  X(SdkSetDaylight, Escrita, Saida)                            \
  X(SdkClearAllData, Escrita, Saida)                           \
  X(SdkTestOperation, Escrita, Saida)                          \
  X(SdkSetEmployer, Escrita, Saida)                            \
  X(SdkReadAllLogs, InicioDeLeitura, Saida)                    \
  X(SdkGetNextLog, ProximoItem, SaidaSeVerdadeiro)             \
  X(SdkGetNextNsrLog, ProximoItem, SaidaSeVerdadeiro)          \
  X(SdkSetLogPointer, InicioDeLeitura, Saida)                  \
  X(SdkClearLogs, Escrita, Saida)                              \
  X(SdkReadAllUserIds, InicioDeLeitura, Saida)                 \
  X(SdkSetUserInfo, Escrita, Saida)                            \
  X(SdkGetNextUserInfo, ProximoItem, SaidaSeVerdadeiro)        \
  X(SdkSetUserInfoWithPis, Escrita, Saida)                     \
  X(SdkGetNextUserInfoWithPis, ProximoItem, SaidaSeVerdadeiro) \
  X(SdkQueryUserInfo, Leitura, EntradaESaida)                  \
  X(SdkSetCardNumber, Escrita, Saida)                          \
  X(SdkDeleteEnrollData, Escrita, Saida)                       \
  X(SdkDeleteEnrollDataByTextId, Escrita, Saida)               \
  X(SdkGetUserTemplate, LeituraDeTemplate, Saida)              \
  X(SdkSetUserTemplate, Escrita, Saida)                        \
  X(SdkDeleteUserTemplate, Escrita, Saida)                     \
  X(SdkGetUserTemplateByTextId, LeituraDeTemplate, Saida)      \
  X(SdkSetUserTemplateByTextId, Escrita, Saida)                \
  X(SdkDeleteUserTemplateByTextId, Escrita, Saida)             \
  X(SdkGetUserCardByTextId, Leitura, SaidaSeVerdadeiro)

namespace quorvel::protocol::operacoes {

// What an operation does to the clock.
enum class Natureza : uint8_t {
  Escrita,            // may change anything: a client drops what it read ahead
  Leitura,            // reads a value and changes nothing
  LeituraDeTemplate,  // a read a client may ask for ahead of need, many in one frame
  InicioDeLeitura,    // starts or places a walk, changes no data
  ProximoItem,        // the next item of a walk: asked for in batches
};

// How a client sends and takes back an operation's reference parameters.
enum class Referencias : uint8_t {
  Saida,              // out only: sent as defaults (a caller may hand them in uninitialized),
                      // written back after every answer
  SaidaSeVerdadeiro,  // out only, written back only after an answer of true
  EntradaESaida,      // in and out: sent as given, written back after every answer
};

// The position of each operation in the list.
enum class Indice : uint8_t {
#define QUORVEL_INDICE(nome, natureza, referencias) nome,
  QUORVEL_OPERACOES_DE_CHAMADA(QUORVEL_INDICE)
#undef QUORVEL_INDICE
};

// An operation's opcode and traits at compile time, by its member: Tracos<&CZKEM::SdkClearLogs>.
template <auto Membro>
struct Tracos;
#define QUORVEL_TRACOS(nome, natureza, referencias)                                       \
  template <>                                                                             \
  struct Tracos<&CZKEM::nome> {                                                           \
    static constexpr uint8_t kOp = kPrimeiraChamada + static_cast<uint8_t>(Indice::nome); \
    static constexpr Natureza kNatureza = Natureza::natureza;                             \
    static constexpr Referencias kReferencias = Referencias::referencias;                 \
  };
QUORVEL_OPERACOES_DE_CHAMADA(QUORVEL_TRACOS)
#undef QUORVEL_TRACOS

template <auto Membro>
inline constexpr uint8_t kOp = Tracos<Membro>::kOp;

// The nature of the operation with opcode `op`, for a peer that has only the number.
inline std::optional<Natureza> NaturezaDe(uint8_t op) {
  static constexpr Natureza kNaturezas[] = {
#define QUORVEL_NATUREZA(nome, natureza, referencias) Natureza::natureza,
      QUORVEL_OPERACOES_DE_CHAMADA(QUORVEL_NATUREZA)
#undef QUORVEL_NATUREZA
  };
  if (op < kPrimeiraChamada || op - kPrimeiraChamada >= static_cast<int>(std::size(kNaturezas)))
    return std::nullopt;
  return kNaturezas[op - kPrimeiraChamada];
}

// The wire kind of one parameter type; by value or by reference alike (a reference parameter
// travels in the request and comes back in the answer).
template <class Parametro>
constexpr Tipo TipoDe() {
  using T = std::remove_cvref_t<Parametro>;
  static_assert(
      std::is_same_v<T, int32_t> || std::is_same_v<T, bool> || std::is_same_v<T, std::string>,
      "the protocol carries int32_t, bool and std::string only");
  if constexpr (std::is_same_v<T, int32_t>)
    return Tipo::Inteiro;
  else if constexpr (std::is_same_v<T, bool>)
    return Tipo::Booleano;
  else
    return Tipo::Texto;
}

template <auto Membro>
struct Operacao;

template <class... Parametros, bool (CZKEM::*Membro)(Parametros...)>
struct Operacao<Membro> {
  static Assinatura Especificacao(const char* nome) { return {nome, {TipoDe<Parametros>()...}}; }

  // Calls the operation with the decoded arguments, whose kinds ConfereArgumentos has checked
  // against Especificacao; reference parameters write back into `argumentos`.
  static bool Executa(CZKEM& sdk, std::vector<Valor>& argumentos) {
    return [&]<size_t... I>(std::index_sequence<I...>) {
      return (sdk.*Membro)(std::get<std::remove_cvref_t<Parametros>>(argumentos[I])...);
    }
    (std::index_sequence_for<Parametros...>());
  }
};

}  // namespace quorvel::protocol::operacoes
