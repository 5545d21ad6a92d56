// The virtual clock's people and their counts, apart from the SDK facade that reaches them.
// Each function runs under the device's lock (its caller holds it) and answers the SDK's code:
// codigo::kSucesso, or why the change was refused (nothing changed then).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "quorvel/sdk/relogio_virtual.h"

namespace quorvel::sdk {

class CadastroVirtual {
 public:
  // The employee `id`, new or changed by `preenche`; journaled before it applies.
  static int32_t Grava(DispositivoVirtual& d, const std::string& id,
                       const std::function<void(UsuarioVirtual&)>& preenche);
  // Data numbers: 0 and 12 the whole user with its templates, 1..9 one finger (finger 0 goes
  // with the whole user), 10 the password, 11 every fingerprint.
  static int32_t Apaga(DispositivoVirtual& d, const std::string& id, int32_t dado);
  static int32_t GravaTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo,
                               const std::string& texto);
  static int32_t ApagaTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo);
  static int32_t LeTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo,
                            std::string& texto, int32_t& tamanho);
  // The status counter `qual` (1..9).
  static int32_t Estado(const DispositivoVirtual& d, int32_t qual, int32_t& valor);

 private:
  static RegistroFiscalVirtual RegistroDeEmpregado(char operacao, const UsuarioVirtual& u);
};

}  // namespace quorvel::sdk
