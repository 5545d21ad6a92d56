// The network backend's side of the call list: an operation's request built from its CZKEM
// parameters and its answer written back into them, both derived from the member's own
// declaration, as the daemon's dispatch is (sdk/protocol/operacoes.h). The opcode and what the
// operation does come from the list, at compile time.
#pragma once

#include <type_traits>
#include <utility>
#include <vector>

#include "sdk/protocol/operacoes.h"

namespace quorvel::sdk::rede {

template <auto Membro>
struct Chamada;

template <class... Parametros, bool (CZKEM::*Membro)(Parametros...)>
struct Chamada<Membro> : protocol::operacoes::Tracos<Membro> {
  using Tracos = protocol::operacoes::Tracos<Membro>;
  using Referencias = protocol::operacoes::Referencias;

  // Every parameter travels, in order; out-only ones as their type's default.
  static std::vector<protocol::Valor> Pedido(const std::remove_reference_t<Parametros>&... p) {
    return {Entrada<Parametros>(p)...};
  }

  // Writes the answer's values back into the reference parameters; `a` holds the values the
  // answer carried, of the kinds the request had.
  static void Resposta(bool resposta, std::vector<protocol::Valor>& a, Parametros... p) {
    if (Tracos::kReferencias == Referencias::SaidaSeVerdadeiro && !resposta) return;
    [&]<size_t... I>(std::index_sequence<I...>) { (Devolve<Parametros>(a[I], p), ...); }
    (std::index_sequence_for<Parametros...>());
  }

 private:
  template <class P>
  static constexpr bool kDeSaida =
      std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;

  template <class P>
  static protocol::Valor Entrada(const std::remove_reference_t<P>& v) {
    if constexpr (kDeSaida<P>)
      if (Tracos::kReferencias != Referencias::EntradaESaida) return std::remove_cvref_t<P>{};
    return v;
  }

  template <class P>
  static void Devolve(protocol::Valor& v, std::remove_reference_t<P>& destino) {
    if constexpr (kDeSaida<P>) destino = std::move(std::get<std::remove_cvref_t<P>>(v));
  }
};

}  // namespace quorvel::sdk::rede
