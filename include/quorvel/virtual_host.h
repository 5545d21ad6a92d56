// Host services on virtual time, for tests: waits take no real time, the test steps the
// clock and sees every timer tick, and can make the host act at the next yield.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quorvel/host.h"

namespace quorvel {

class FilaTimers;

class VirtualHost final : public Host {
 public:
  // Virtual time starts at `inicio` (default 5 March 2024 08:00:00).
  explicit VirtualHost(DataHora inicio = DataHora::DePartes(2024, 3, 5, 8, 0, 0));
  ~VirtualHost() override;

  std::unique_ptr<Timer> CriaTimer(std::function<void()> tick) override;
  // Runs the actions scheduled with AoCeder (in order), then the timers already due.
  void Cede() override;
  // Advances virtual time at once; no timer fires during the wait.
  void Espera(int32_t milissegundos) override;
  DataHora Agora() override;
  const ConfiguracaoRegional& Regional() const override { return regional_; }
  void CaixaMensagem(const std::string& texto) override;

  // Steps virtual time by `ms`, firing every timer that falls due on the way, in order.
  void Avanca(int64_t ms);
  // Moves time without firing timers (as if the host's thread was busy).
  void Salta(int64_t ms) { agoraMs_ += ms; }
  // Schedules a host action for the next yield (e.g. a call made from an event handler).
  void AoCeder(std::function<void()> acao) { aoCeder_.push_back(std::move(acao)); }

  int64_t AgoraMs() const { return agoraMs_; }
  void RegionalDefine(const ConfiguracaoRegional& r) { regional_ = r; }

  // What the control asked of the host, in order: "espera N" and "cede". A test may add its
  // own lines (for example from a mock device) to see everything in one sequence.
  std::vector<std::string>& Diario() { return diario_; }
  void Anota(std::string linha) { diario_.push_back(std::move(linha)); }
  int32_t Cedencias() const { return cedencias_; }
  const std::vector<int32_t>& Esperas() const { return esperas_; }
  const std::vector<std::string>& Mensagens() const { return mensagens_; }

 private:
  DataHora inicio_;
  int64_t agoraMs_ = 0;
  std::unique_ptr<FilaTimers> timers_;
  std::deque<std::function<void()>> aoCeder_;
  std::vector<std::string> diario_;
  std::vector<int32_t> esperas_;
  std::vector<std::string> mensagens_;
  int32_t cedencias_ = 0;
  ConfiguracaoRegional regional_;
};

}  // namespace quorvel
