// The virtual clocks' test hooks: a punch made now, every clock removed. Built only into
// libquorvel-teste.so, the library the tests load; the installed libquorvel.so has none of them.
#include "typelib/ganchos_teste.h"

#include "quorvel/sdk/relogio_virtual.h"

using namespace quorvel;

extern "C" {

int32_t quorvel_virtual_marcacao(const char* ip, int32_t porta, int32_t usuario) {
  if (!ip) return QUORVEL_PARAMETRO_INVALIDO;
  try {
    auto d = sdk::RedeVirtual::Instancia().Procura(ip, porta);
    if (!d) return QUORVEL_FALHA;
    if (d->Modelo() == EModeloRelogio_Tarvenix) {
      std::string pis;
      for (const auto& u : d->Usuarios())
        if (u.id == std::to_string(usuario)) pis = u.pis;
      return d->AdicionaRegistro(pis) ? QUORVEL_OK : QUORVEL_FALHA;
    }
    return d->AdicionaMarcacao(usuario, 1) ? QUORVEL_OK : QUORVEL_FALHA;
  } catch (...) {
    return QUORVEL_FALHA;
  }
}

void quorvel_virtual_limpa(void) {
  try {
    sdk::RedeVirtual::Instancia().Limpa();
  } catch (...) {
  }
}

}  // extern "C"
