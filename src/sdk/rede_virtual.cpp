// The process-wide table of virtual clocks by address and serial port.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>
#include <utility>

#include "quorvel/erro.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/virtual_interno.h"

namespace quorvel::sdk {

using namespace virtual_interno;

// ---- RedeVirtual --------------------------------------------------------------------------

RedeVirtual& RedeVirtual::Instancia() {
  static RedeVirtual rede;
  return rede;
}

void RedeVirtual::Publica(const std::string& ip, int32_t porta,
                          std::shared_ptr<DispositivoVirtual> d) {
  std::lock_guard l(mutex_);
  rede_[ChaveRede(ip, porta)] = std::move(d);
}

void RedeVirtual::PublicaSerial(int32_t porta, std::shared_ptr<DispositivoVirtual> d) {
  std::lock_guard l(mutex_);
  serial_[porta] = std::move(d);
}

void RedeVirtual::Retira(const std::string& ip, int32_t porta) {
  std::lock_guard l(mutex_);
  rede_.erase(ChaveRede(ip, porta));
}

void RedeVirtual::RetiraSerial(int32_t porta) {
  std::lock_guard l(mutex_);
  serial_.erase(porta);
}

void RedeVirtual::Limpa() {
  std::lock_guard l(mutex_);
  rede_.clear();
  serial_.clear();
}

std::shared_ptr<DispositivoVirtual> RedeVirtual::Procura(const std::string& ip,
                                                         int32_t porta) const {
  std::lock_guard l(mutex_);
  auto it = rede_.find(ChaveRede(ip, porta));
  return it == rede_.end() ? nullptr : it->second;
}

std::shared_ptr<DispositivoVirtual> RedeVirtual::ProcuraSerial(int32_t porta) const {
  std::lock_guard l(mutex_);
  auto it = serial_.find(porta);
  return it == serial_.end() ? nullptr : it->second;
}

}  // namespace quorvel::sdk
