// libFuzzer target: arbitrary bytes through the decoder and, frame by frame, a clock session.
// Nothing may crash, hang or allocate without bound.
#include <cstddef>
#include <cstdint>

#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/protocol/protocol.h"
#include "sdk/servidor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  using namespace quorvel;
  static auto dispositivo = std::make_shared<sdk::DispositivoVirtual>(EModeloRelogio_Tarvenix);
  protocol::SessaoServidor sessao(dispositivo, tamanho % 2 ? "chave" : "");
  protocol::Decodificador decodificador;
  try {
    decodificador.Alimenta(reinterpret_cast<const char*>(dados), tamanho);
    while (auto f = decodificador.Proximo()) sessao.Responde(*f);
  } catch (const protocol::ErroDeProtocolo&) {
  }
  // The payload alone, as a request of every kind.
  for (uint8_t op : {uint8_t{protocol::kOla}, uint8_t{protocol::kLote},
                     uint8_t{protocol::kLeituraAntecipada}, uint8_t{protocol::kAssinatura},
                     uint8_t{protocol::kLogDesde}, uint8_t{0x10}, uint8_t{0x26}}) {
    protocol::SessaoServidor s(dispositivo, "");
    protocol::Escritor hello;
    hello.U8(protocol::kVersaoDoProtocolo);
    hello.Bytes(std::string(16, 'n'));
    s.Responde({protocol::kOla, 1, hello.Dados()});
    s.Responde({op, 2, std::string(reinterpret_cast<const char*>(dados), tamanho)});
    s.Aviso(tamanho % 3 == 0);
  }
  return 0;
}
