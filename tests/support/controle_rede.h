// The control over the network backend on a real event loop: what the process-level tests of
// the control start with.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "quorvel/comunicacao_zk.h"
#include "quorvel/event_loop.h"
#include "quorvel/sdk/sdk_rede.h"

namespace quorvel::teste {

struct ControleEmRede {
  // Registers clock `codigo` at `ip`, asks for its connection and runs the loop until the
  // control announces it; false when it did not within five seconds.
  bool RegistraEConecta(int16_t codigo, const std::string& ip, EModeloRelogio modelo) {
    controle.AddRelogioIP(codigo, ip, modelo);
    bool conectado = false;
    controle.Eventos().RelogioConectado = [&](int16_t c) { conectado = conectado || c == codigo; };
    controle.ConectarRelogio(codigo);
    const bool ok = loop.RodaAte([&] { return conectado; }, std::chrono::seconds(5));
    controle.Eventos().RelogioConectado = nullptr;
    return ok;
  }

  EventLoop loop;  // declared first: the control disconnects its clocks on it when it goes
  ComunicacaoZK controle{loop, sdk::FabricaRede()};
};

}  // namespace quorvel::teste
