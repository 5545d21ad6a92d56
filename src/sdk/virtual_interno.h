// Helpers shared by the virtual clock's files (the device, its records, the SDK facade,
// the registry of addresses, the sample data). Not part of the public interface.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "quorvel/data_hora.h"
#include "quorvel/documentos.h"
#include "quorvel/sdk/relogio_virtual.h"

namespace quorvel::sdk::virtual_interno {

inline DataHora AgoraDoSistema() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return DataHora::DePartes(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min, local.tm_sec);
}

// The clock checks only the check digit (a run of one digit passes, as on the clocks); an empty
// PIS is no PIS (a fingerprint-only employee).
inline bool PisValido(const std::string& pis) {
  if (pis.empty()) return true;
  if (pis.size() != 11 ||
      !std::all_of(pis.begin(), pis.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  return documentos::ComDigitoPis(std::string_view(pis).substr(0, 10)) == pis;
}

inline std::string ComDigitoPis(const std::string& base10) {
  return documentos::ComDigitoPis(base10);
}

inline bool TextoPeriodoValido(const std::string& t) {
  return t.size() == 8 &&
         std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A change the journal could not keep: the operation is refused with `codigo`.
struct FalhaDeGravacao {
  int32_t codigo;
};

// A fiscal record as the journal and the snapshot keep it, and back: nothing (the reason in
// `erro`) for one whose fields do not hold.
nlohmann::json RegistroFiscalJson(const RegistroFiscalVirtual& f);
nlohmann::json UsuarioJson(const UsuarioVirtual& u);
std::optional<RegistroFiscalVirtual> RegistroFiscalDeJson(const nlohmann::json& j,
                                                          std::string* erro);

inline std::string ChaveRede(const std::string& ip, int32_t porta) {
  return ip + ":" + std::to_string(porta);
}

}  // namespace quorvel::sdk::virtual_interno
