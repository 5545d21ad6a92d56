// Timers ordered by deadline on an abstract millisecond clock; the machinery shared by the
// real event loop and the virtual-time host.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <vector>

#include "quorvel/host.h"

namespace quorvel {

// Not thread-safe: owned and driven by one loop on the host's thread.
class FilaTimers {
 public:
  explicit FilaTimers(std::function<int64_t()> agoraMs) : agoraMs_(std::move(agoraMs)) {}

  // A new disabled timer. Destroying the timer removes it from the queue.
  std::unique_ptr<Timer> Cria(std::function<void()> tick);

  // Fires, in deadline order, every timer whose deadline is at or before `ateMs`; a timer
  // that stays enabled is re-armed one interval after the moment it fired. Returns the number
  // of ticks delivered.
  int32_t DisparaVencidos(int64_t ateMs);

  // The earliest pending deadline, if any timer is armed.
  std::optional<int64_t> ProximoPrazo();

 private:
  struct Estado;
  class TimerFila;
  struct Prazo {
    int64_t quando;
    uint64_t sequencia;
    std::shared_ptr<Estado> estado;
    uint64_t geracao;
    bool operator>(const Prazo& o) const {
      return quando != o.quando ? quando > o.quando : sequencia > o.sequencia;
    }
  };

  void Arma(const std::shared_ptr<Estado>& estado);
  void DescartaObsoletos();

  std::function<int64_t()> agoraMs_;
  std::priority_queue<Prazo, std::vector<Prazo>, std::greater<>> prazos_;
  uint64_t sequencia_ = 0;
};

}  // namespace quorvel
