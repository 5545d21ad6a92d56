// The device operations that travel as calls, named once in opcode order. Their wire
// signatures and the daemon's dispatch are derived from CZKEM's own declarations at compile
// time, so a parameter added to an operation changes both, and a type the wire cannot carry
// does not compile.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "quorvel/sdk/czkem.h"
#include "sdk/protocol/protocol.h"

// X(operation) for every call, in opcode order from kPrimeiraChamada. New operations go at the end:
// an operation's place is its opcode, which peers of the same protocol version share.
#define QUORVEL_OPERACOES_DE_CHAMADA(X) \
  X(SdkEnableDevice)                    \
  X(SdkRefreshData)                     \
  X(SdkGetDeviceStatus)                 \
  X(SdkSetDeviceInfo)                   \
  X(SdkGetDeviceTime)                   \
  X(SdkSetDeviceTime)                   \
  X(SdkGetFirmwareVersion)              \
  X(SdkGetSysOption)                    \
  X(SdkSetSysOption)                    \
  X(SdkRefreshOptions)                  \
  X(SdkSetDaylight)                     \
  X(SdkClearAllData)                    \
  X(SdkTestOperation)                   \
  X(SdkSetEmployer)                     \
  X(SdkReadAllLogs)                     \
  X(SdkGetNextLog)                      \
  X(SdkGetNextNsrLog)                   \
  X(SdkSetLogPointer)                   \
  X(SdkClearLogs)                       \
  X(SdkReadAllUserIds)                  \
  X(SdkSetUserInfo)                     \
  X(SdkGetNextUserInfo)                 \
  X(SdkSetUserInfoWithPis)              \
  X(SdkGetNextUserInfoWithPis)          \
  X(SdkQueryUserInfo)                   \
  X(SdkSetCardNumber)                   \
  X(SdkDeleteEnrollData)                \
  X(SdkDeleteEnrollDataByTextId)        \
  X(SdkGetUserTemplate)                 \
  X(SdkSetUserTemplate)                 \
  X(SdkDeleteUserTemplate)              \
  X(SdkGetUserTemplateByTextId)         \
  X(SdkSetUserTemplateByTextId)         \
  X(SdkDeleteUserTemplateByTextId)      \
  X(SdkGetUserCardByTextId)

namespace quorvel::protocol::operacoes {

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
