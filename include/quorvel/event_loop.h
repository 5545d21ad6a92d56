// The real single-threaded event loop: timers from a min-heap of deadlines and posted work.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "quorvel/host.h"

namespace quorvel {

class FilaTimers;

// Real-time host services for command-line hosts and daemons. Not thread-safe except
// `Interrompe`, which a signal handler or another thread may call.
class EventLoop final : public Host {
 public:
  using Clock = std::chrono::steady_clock;

  EventLoop();
  ~EventLoop() override;

  // Queues `trabalho` to run on the loop's thread at the next run or yield.
  void Posta(std::function<void()> trabalho);

  // Runs timers and posted work until `condicao` holds or `limite` has passed (or
  // `Interrompe` was called). Returns whether the condition held.
  bool RodaAte(const std::function<bool()>& condicao, std::chrono::milliseconds limite);
  // Runs for the given time (or until interrupted).
  void RodaPor(std::chrono::milliseconds duracao);
  // Asks a running `RodaAte`/`RodaPor` to return soon. Safe from a signal handler.
  void Interrompe() noexcept;
  bool Interrompido() const noexcept;

  std::unique_ptr<Timer> CriaTimer(std::function<void()> tick) override;
  void Cede() override;
  void Espera(int32_t milissegundos) override;
  DataHora Agora() override;
  const ConfiguracaoRegional& Regional() const override { return regional_; }
  void RegionalDefine(const ConfiguracaoRegional& r) { regional_ = r; }
  // The message box of a terminal host prints the text on stderr.
  void CaixaMensagem(const std::string& texto) override;

 private:
  int64_t AgoraMs() const;
  // Runs posted work queued so far and the timers due now; returns whether anything ran.
  bool RodaVencidos();

  Clock::time_point inicio_;
  std::unique_ptr<FilaTimers> timers_;
  std::deque<std::function<void()>> postados_;
  volatile std::sig_atomic_t interrompido_ = 0;
  ConfiguracaoRegional regional_;
};

}  // namespace quorvel
