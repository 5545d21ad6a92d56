#include "quorvel/fila_timers.h"

namespace quorvel {

struct FilaTimers::Estado {
  std::function<void()> tick;
  int32_t intervalo = 0;
  bool habilitado = false;
  bool vivo = true;
  // Every change that invalidates a pending deadline bumps the generation.
  uint64_t geracao = 0;
};

class FilaTimers::TimerFila final : public Timer {
 public:
  TimerFila(FilaTimers& fila, std::shared_ptr<Estado> estado)
      : fila_(fila), estado_(std::move(estado)) {}
  ~TimerFila() override {
    estado_->vivo = false;
    estado_->habilitado = false;
    ++estado_->geracao;
  }

  void Intervalo(int32_t ms) override {
    estado_->intervalo = ms;
    // Changing the interval of a running timer restarts its countdown.
    if (estado_->habilitado) {
      ++estado_->geracao;
      fila_.Arma(estado_);
    }
  }
  int32_t Intervalo() const override { return estado_->intervalo; }

  void Habilitado(bool h) override {
    if (h == estado_->habilitado) return;
    estado_->habilitado = h;
    ++estado_->geracao;
    if (h) fila_.Arma(estado_);
  }
  bool Habilitado() const override { return estado_->habilitado; }

 private:
  FilaTimers& fila_;
  std::shared_ptr<Estado> estado_;
};

std::unique_ptr<Timer> FilaTimers::Cria(std::function<void()> tick) {
  auto estado = std::make_shared<Estado>();
  estado->tick = std::move(tick);
  return std::make_unique<TimerFila>(*this, std::move(estado));
}

void FilaTimers::Arma(const std::shared_ptr<Estado>& estado) {
  // A timer with no positive interval never fires, as on the platform.
  if (!estado->habilitado || estado->intervalo <= 0) return;
  prazos_.push({agoraMs_() + estado->intervalo, sequencia_++, estado, estado->geracao});
}

void FilaTimers::DescartaObsoletos() {
  while (!prazos_.empty()) {
    const Prazo& p = prazos_.top();
    if (p.estado->vivo && p.estado->habilitado && p.geracao == p.estado->geracao) return;
    prazos_.pop();
  }
}

std::optional<int64_t> FilaTimers::ProximoPrazo() {
  DescartaObsoletos();
  if (prazos_.empty()) return std::nullopt;
  return prazos_.top().quando;
}

int32_t FilaTimers::DisparaVencidos(int64_t ateMs) {
  int32_t disparos = 0;
  for (;;) {
    DescartaObsoletos();
    if (prazos_.empty() || prazos_.top().quando > ateMs) break;
    std::shared_ptr<Estado> estado = prazos_.top().estado;
    prazos_.pop();
    // Bump first: the tick may disable, re-enable or re-interval the timer itself, and those
    // changes must win over the automatic re-arm below.
    const uint64_t geracao = ++estado->geracao;
    ++disparos;
    estado->tick();
    if (estado->vivo && estado->habilitado && estado->geracao == geracao) Arma(estado);
  }
  return disparos;
}

}  // namespace quorvel
