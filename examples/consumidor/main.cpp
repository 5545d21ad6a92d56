// Collects the punches of an in-process virtual clock through the installed library.
#include <iostream>

#include "quorvel/comunicacao_zk.h"
#include "quorvel/event_loop.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "quorvel/versao.h"

int main() {
  using namespace quorvel;
  auto relogio = std::make_shared<sdk::DispositivoVirtual>(EModeloRelogio_Tarvenix);
  sdk::SemeiaExemplo(*relogio);
  sdk::RedeVirtual::Instancia().Publica("consumidor", 4370, relogio);
  EventLoop loop;
  ComunicacaoZK controle(loop, sdk::FabricaVirtual());
  bool conectou = false;
  controle.Eventos().RelogioConectado = [&](int16_t) { conectou = true; };
  controle.AddRelogioIP(1, "consumidor", EModeloRelogio_Tarvenix);
  controle.ConectarRelogio(1);
  loop.RodaAte([&] { return conectou; }, std::chrono::seconds(5));
  const auto lista = controle.ObterMarcacaoRelogio(1);
  std::cout << "quorvel " << QUORVEL_VERSAO_PROJETO << ": " << lista->Count()
            << " marcações coletadas\n";
  return lista->Count() > 0 ? 0 : 1;
}
