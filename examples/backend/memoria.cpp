// A backend of one's own: a clock kept in memory. It derives from DispositivoNulo, so it
// implements only what it supports (connecting, its punch log and the log's size) and every
// other operation answers -100; it registers itself by name, and the control drives it like any
// clock. Prints the punches it collected and exits 0.
#include <chrono>
#include <cstdio>
#include <iterator>
#include <memory>

#include "quorvel/comunicacao_zk.h"
#include "quorvel/event_loop.h"
#include "quorvel/sdk/backends.h"
#include "quorvel/sdk/dispositivo_nulo.h"

namespace {

using namespace quorvel;

struct Batida {
  int32_t usuario;
  const char* quando;
};
constexpr Batida kLog[] = {
    {7, "2026-12-07 08:00:12"}, {9, "2026-12-07 08:01:40"}, {7, "2026-12-07 12:00:03"}};

class RelogioEmMemoria : public sdk::DispositivoNulo {
 public:
  bool SdkConnectNetwork(const std::string&, int32_t) override {
    conectado_ = true;
    return Sucesso();
  }
  void SdkDisconnect() override { conectado_ = false; }
  bool SdkGetDeviceStatus(int32_t, int32_t codigo, int32_t& valor) override {
    if (!conectado_) return Recusa(sdk::codigo::kLinkPerdido);
    if (codigo != 6) return NaoSuporta();  // only the punch count is kept
    valor = static_cast<int32_t>(std::size(kLog));
    return Sucesso();
  }
  bool SdkReadAllLogs(int32_t) override {
    if (!conectado_) return Recusa(sdk::codigo::kLinkPerdido);
    proxima_ = 0;
    return Sucesso();
  }
  bool SdkGetNextLog(int32_t, int32_t& usuario, int32_t& estado, int32_t& modo,
                     std::string& quando) override {
    if (proxima_ >= std::size(kLog)) return Recusa(sdk::codigo::kNaoEncontrado);  // the end
    const Batida& b = kLog[proxima_++];
    usuario = b.usuario, estado = 0, modo = 1, quando = b.quando;
    return Sucesso();
  }

 private:
  bool conectado_ = false;
  size_t proxima_ = 0;
};

}  // namespace

int main() {
  sdk::RegistraBackend(
      "memoria", [] { return FabricaCZKEM([] { return std::make_shared<RelogioEmMemoria>(); }); });

  EventLoop loop;
  ComunicacaoZK controle(loop, sdk::FabricaDoBackend("memoria"));
  controle.AddRelogioIP(1, "em-memoria", EModeloRelogio_Quorvel);
  bool conectado = false;
  controle.Eventos().RelogioConectado = [&](int16_t) { conectado = true; };
  controle.ConectarRelogio(1);
  if (!loop.RodaAte([&] { return conectado; }, std::chrono::seconds(2))) {
    std::fprintf(stderr, "o relógio em memória não conectou\n");
    return 1;
  }
  try {
    const auto marcacoes = controle.ObterMarcacaoRelogio(1);
    for (int32_t i = 1; i <= marcacoes->Count(); ++i) {
      const auto m = marcacoes->Item(i);
      std::printf("%d %s\n", m->CodigoCartao(), m->DataHoraMarcacao().FormataBrasileiro().c_str());
    }
    std::printf("%d marcações\n", marcacoes->Count());
  } catch (const Erro& e) {
    std::fprintf(stderr, "erro %d: %s\n", e.Numero(), e.what());
    return 1;
  }
  return 0;
}
