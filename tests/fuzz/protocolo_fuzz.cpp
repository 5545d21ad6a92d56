// libFuzzer target: arbitrary bytes through the decoder and, frame by frame, a clock session.
// Nothing may crash, hang or allocate without bound.
#include <cstddef>
#include <cstdint>

#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/protocol/protocol.h"
#include "sdk/protocol/servidor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  using namespace quorvel;
  static auto dispositivo = std::make_shared<sdk::DispositivoVirtual>(EModeloRelogio_Tarvenix);
  protocol::SessaoServidor sessao(dispositivo, tamanho % 2 ? "chave" : "");
  protocol::Decoder decodificador;
  try {
    decodificador.Feed(reinterpret_cast<const char*>(dados), tamanho);
    while (auto f = decodificador.Next()) sessao.Responde(*f);
  } catch (const protocol::ProtocolError&) {
  }
  // The payload alone, as a request of every kind.
  for (uint8_t op : {uint8_t{protocol::kHello}, uint8_t{protocol::kBatch},
                     uint8_t{protocol::kReadAhead}, uint8_t{protocol::kSubscribe},
                     uint8_t{protocol::kLogSince}, uint8_t{0x10}, uint8_t{0x26}}) {
    protocol::SessaoServidor s(dispositivo, "");
    protocol::Writer hello;
    hello.U8(protocol::kProtocolVersion);
    hello.Bytes(std::string(16, 'n'));
    s.Responde({protocol::kHello, 1, hello.Data()});
    s.Responde({op, 2, std::string(reinterpret_cast<const char*>(dados), tamanho)});
    s.Aviso(tamanho % 3 == 0);
  }
  return 0;
}
