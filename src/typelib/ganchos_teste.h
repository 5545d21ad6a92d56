// Test hooks of the C boundary, exported by libquorvel-teste.so only (never installed): what a
// test needs beyond quorvel_virtual_publica to drive the virtual clocks of its process.
#pragma once

#include "quorvel/quorvel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Adds a punch of `usuario` now on the virtual clock at ip:porta (a register record with the
 * user's PIS on a tarvenix clock). QUORVEL_FALHA when there is no clock there or it refused. */
int32_t quorvel_virtual_marcacao(const char* ip, int32_t porta, int32_t usuario);
/* Removes every virtual clock of this process. */
void quorvel_virtual_limpa(void);

#ifdef __cplusplus
}
#endif
