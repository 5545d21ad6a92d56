#include "quorvel/event_loop.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <thread>

#include "quorvel/fila_timers.h"

namespace quorvel {

EventLoop::EventLoop()
    : inicio_(Clock::now()), timers_(std::make_unique<FilaTimers>([this] { return AgoraMs(); })) {}

EventLoop::~EventLoop() = default;

int64_t EventLoop::AgoraMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - inicio_).count();
}

void EventLoop::Posta(std::function<void()> trabalho) { postados_.push_back(std::move(trabalho)); }

std::unique_ptr<Timer> EventLoop::CriaTimer(std::function<void()> tick) {
  return timers_->Cria(std::move(tick));
}

bool EventLoop::RodaVencidos() {
  bool rodou = false;
  // Only the work queued before this point: work posted by that work waits for the next round,
  // so a yield always returns.
  size_t n = postados_.size();
  while (n-- > 0 && !postados_.empty()) {
    auto trabalho = std::move(postados_.front());
    postados_.pop_front();
    trabalho();
    rodou = true;
  }
  if (timers_->DisparaVencidos(AgoraMs()) > 0) rodou = true;
  return rodou;
}

void EventLoop::Cede() { RodaVencidos(); }

bool EventLoop::RodaAte(const std::function<bool()>& condicao, std::chrono::milliseconds limite) {
  const int64_t fim = AgoraMs() + limite.count();
  for (;;) {
    if (condicao && condicao()) return true;
    if (interrompido_ || AgoraMs() >= fim) return false;
    if (RodaVencidos()) continue;
    // Sleep until the next deadline, but wake regularly to notice an interruption.
    int64_t dorme = fim - AgoraMs();
    if (auto prazo = timers_->ProximoPrazo()) dorme = std::min(dorme, *prazo - AgoraMs());
    dorme = std::clamp<int64_t>(dorme, 0, 20);
    if (dorme > 0) std::this_thread::sleep_for(std::chrono::milliseconds(dorme));
  }
}

void EventLoop::RodaPor(std::chrono::milliseconds duracao) { RodaAte({}, duracao); }

void EventLoop::Interrompe() noexcept { interrompido_ = 1; }

bool EventLoop::Interrompido() const noexcept { return interrompido_ != 0; }

void EventLoop::Espera(int32_t milissegundos) {
  if (milissegundos > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milissegundos));
}

DataHora EventLoop::Agora() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return DataHora::DePartes(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min, local.tm_sec);
}

void EventLoop::CaixaMensagem(const std::string& texto) {
  std::fprintf(stderr, "%s\n", texto.c_str());
}

}  // namespace quorvel
