// One connection of the daemon: its link, the protocol session behind it and the answers its
// peer has not taken, with the rules that bound one connection's work and slow key guessing
// per address. The serving loop (servidor.cpp) owns the connections and their turns.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "sdk/protocol/protocol.h"
#include "sdk/servidor.h"
#include "servidor.h"

namespace relogio_virtual {

using Relogio = std::chrono::steady_clock;

// Work per connection is bounded before it is done: requests are decoded only while the
// answers the peer has not taken stay under this mark, and at most this many are answered per
// polling round, so a peer that pipelines thousands of requests and reads nothing costs the
// daemon this mark plus one answer, and the others get their turn every round.
inline constexpr size_t kMarcaDeSaida = 1u << 20;
inline constexpr int kQuadrosPorRodada = 64;
// Key guessing: at most this many wrong proofs from one address are checked in a minute;
// past it, no proof from that address is checked (the right key included) until the minute
// has passed, so parallel connections do not multiply a guesser's tries.
inline constexpr size_t kProvasErradasPorMinuto = 10;

// Wrong key proofs, per address: each one waits longer for its answer, and past the minute's
// allowance no proof from that address is checked.
class ProvasDaChave {
 public:
  struct Atraso {
    std::chrono::milliseconds espera;
    int seguidas;  // wrong proofs in a row from the address, this one included
  };
  // True when `ip` has had its wrong proofs for this minute: its next proof is not checked.
  bool Esgotou(const std::string& ip, Relogio::time_point agora);
  // A wrong proof from `ip`: how long its answer waits.
  Atraso Errada(const std::string& ip, Relogio::time_point agora);
  // The right proof from `ip`: after recent wrong ones it waits as long as a wrong one would,
  // so how soon the answer comes tells a guesser nothing.
  std::optional<Atraso> Certa(const std::string& ip, Relogio::time_point agora) const;
  // The addresses remembered.
  size_t Enderecos() const { return porEndereco_.size(); }

 private:
  struct Tentativas {
    int falhas = 0;
    Relogio::time_point ultima{};
    std::deque<Relogio::time_point> erradas;  // wrong proofs within the last minute
  };
  // Forgets the addresses whose last wrong proof is over ten minutes old: their count starts
  // over anyway, and a scan from many addresses must not keep growing the daemon.
  void Esquece(Relogio::time_point agora);
  std::map<std::string, Tentativas> porEndereco_;
  Relogio::time_point ultimoEsquecimento_{};
};

struct Conexao {
  int fd = -1;
  RelogioServido* relogio = nullptr;
  bool serial = false;
  std::string nome, ip;
  quorvel::protocol::Decodificador decodificador;
  std::unique_ptr<quorvel::protocol::SessaoServidor> sessao;
  int64_t recebidos = 0, enviados = 0;
  // Idle counts from the last whole frame: a peer trickling bytes is idle all the same.
  Relogio::time_point ultimoQuadro = Relogio::now();  // last whole frame received
  Relogio::time_point ultimaTroca = Relogio::now();   // last frame either way
  std::string saida;                                  // answers not yet taken by the peer
  size_t enviadoDaSaida = 0;
  Relogio::time_point aceitaEm = Relogio::now();
  Relogio::time_point liberaEm{};                    // a refused key's answer waits until then
  Relogio::time_point ultimoEnvio = Relogio::now();  // the peer last took answers (or had none)
  bool fechaAposEnviar = false;
  // Whole frames may still wait in the decoder: the round's budget or the output mark stopped
  // their answering. Nothing more is read until they are answered.
  bool quadrosProntos = false;

  size_t Pendente() const { return saida.size() - enviadoDaSaida; }
  // Not yet a proven link: such connections make room first and are limited per address. A
  // proof's held answer counts too, right or wrong, so that which ones are let go early tells
  // nothing about the key.
  bool EmApertoDeMao(Relogio::time_point agora) const {
    return !serial && (!sessao->Pronta() || liberaEm > agora);
  }

  // Answers the whole frames waiting in the decoder into `saida`, within a round's budget and
  // while the peer takes its answers (`quadrosProntos` says whether some are left); the
  // simulated faults of `opcoes` act here. The reason to close the connection, if it must be.
  std::optional<std::string> AtendeQuadros(const OpcoesServidor& opcoes, ProvasDaChave& provas);
};

// A request as a person reads it: the SDK operation it carries, or the kind of frame.
std::string NomeDoPedido(const quorvel::protocol::Quadro& f);

}  // namespace relogio_virtual
