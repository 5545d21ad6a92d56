#include "quorvel/virtual_host.h"

#include "quorvel/fila_timers.h"

namespace quorvel {

VirtualHost::VirtualHost(DataHora inicio)
    : inicio_(inicio), timers_(std::make_unique<FilaTimers>([this] { return agoraMs_; })) {}

VirtualHost::~VirtualHost() = default;

std::unique_ptr<Timer> VirtualHost::CriaTimer(std::function<void()> tick) {
  return timers_->Cria(std::move(tick));
}

void VirtualHost::Cede() {
  ++cedencias_;
  diario_.push_back("cede");
  // Only what was scheduled before this yield; actions scheduled meanwhile wait for the next.
  size_t n = aoCeder_.size();
  while (n-- > 0 && !aoCeder_.empty()) {
    auto acao = std::move(aoCeder_.front());
    aoCeder_.pop_front();
    acao();
  }
  timers_->DisparaVencidos(agoraMs_);
}

void VirtualHost::Espera(int32_t milissegundos) {
  esperas_.push_back(milissegundos);
  diario_.push_back("espera " + std::to_string(milissegundos));
  if (milissegundos > 0) agoraMs_ += milissegundos;
}

DataHora VirtualHost::Agora() { return DataHora::DeSegundos(inicio_.Segundos() + agoraMs_ / 1000); }

void VirtualHost::CaixaMensagem(const std::string& texto) { mensagens_.push_back(texto); }

void VirtualHost::Avanca(int64_t ms) {
  const int64_t alvo = agoraMs_ + ms;
  for (;;) {
    auto prazo = timers_->ProximoPrazo();
    if (!prazo || *prazo > alvo) break;
    if (*prazo > agoraMs_) agoraMs_ = *prazo;
    timers_->DisparaVencidos(agoraMs_);
  }
  if (agoraMs_ < alvo) agoraMs_ = alvo;
}

}  // namespace quorvel
