// How collector services that see each other through the store divide the clocks: each one
// holds at most its share (the clocks divided evenly, rounded up) while another has room, a
// service that joins finds clocks let go for it, and no clock stays uncollected because every
// service is at its share.
#pragma once

#include <cstddef>

namespace ponto::partilha {

// The most clocks one of `servicos` live services should hold out of `relogios`.
size_t Cota(size_t relogios, size_t servicos);

// What a service sees of the sharing in one round.
struct Visao {
  size_t relogios = 0;         // clocks this service collects
  size_t servicosVivos = 1;    // services whose heartbeat is recent, this one included
  size_t mantidos = 0;         // clocks this service holds now
  size_t espacoDosOutros = 0;  // clocks the other live services can take before their share
};

// How many of its clocks the service lets go now: what it holds past its share, as far as the
// other services have room for them (a clock nobody would take is kept).
size_t QuantosDeixar(const Visao& v);

// Whether the service takes a clock nobody holds: when it is below its share, or when the clock
// has been free for a whole lease period (the others, at their share, let it be).
bool Toma(const Visao& v, double segundosLivre, double periodo);

}  // namespace ponto::partilha
