// What the embedding host gives the control: timers on its thread, a yield to its event
// loop, a blocking wait, the clock on the wall, regional settings and a message box.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "quorvel/data_hora.h"

namespace quorvel {

// A timer that ticks on the host's thread while enabled. A tick that is due is delivered by
// the host's event loop (run, or a yield). The owner keeps the timer; destroying it stops it.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void Intervalo(int32_t milissegundos) = 0;
  virtual int32_t Intervalo() const = 0;
  // Enabling (re)starts the countdown of one interval; disabling cancels a pending tick.
  virtual void Habilitado(bool habilitado) = 0;
  virtual bool Habilitado() const = 0;
};

// Host services. Everything is called on the host's one user-interface thread.
class Host {
 public:
  virtual ~Host() = default;

  // A new, disabled timer whose ticks call `tick`. `tick` must not throw; the control catches
  // everything inside its ticks.
  virtual std::unique_ptr<Timer> CriaTimer(std::function<void()> tick) = 0;

  // Lets the event loop run what is already due (timer ticks, posted work), then returns.
  // Never blocks waiting for something to become due.
  virtual void Cede() = 0;

  // Blocks the host's thread for this many milliseconds; nothing else runs meanwhile.
  virtual void Espera(int32_t milissegundos) = 0;

  // The current date and time, to the second.
  virtual DataHora Agora() = 0;

  // Regional settings used to read date texts.
  virtual const ConfiguracaoRegional& Regional() const = 0;

  // A modal message box with an OK button; returns when the user closed it.
  virtual void CaixaMensagem(const std::string& texto) = 0;
};

}  // namespace quorvel
