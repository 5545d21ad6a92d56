// What the pages watch, read once for all of them: a thread asks the store for what is new
// while at least one page watches (nothing while none does) and hands each event to every
// watcher. A watcher's queue is bounded: one that falls behind (a slow browser, a stalled
// link) is dropped, never waited for, so no page can hold the service's memory or its thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ponto::web {

class Difusor {
 public:
  // `le(recomecar)` gives the events (whole Server-Sent Events frames) that appeared since its
  // last call; `recomecar` is true on the first call after nobody watched. Called from the
  // difusor's own thread every `intervalo`; what it raises is logged by `falha` and retried.
  // `inicial()` gives the frames a new watcher starts with (the current state).
  struct Configuracao {
    std::function<std::vector<std::string>(bool recomecar)> le;
    std::function<std::vector<std::string>()> inicial;
    std::function<void(const std::string&)> falha;
    std::chrono::milliseconds intervalo{500};
    size_t maximoOuvintes = 40;
    size_t maximoBytesPorOuvinte = 256 * 1024;
  };

  class Ouvinte;

  explicit Difusor(Configuracao c);
  ~Difusor();  // Para(), then joins the thread
  // Lets every watcher go (Proximo gives nothing from now on) and takes no new one.
  void Para();
  Difusor(const Difusor&) = delete;
  Difusor& operator=(const Difusor&) = delete;

  // A new watcher, or nothing when `maximoOuvintes` already watch.
  std::shared_ptr<Ouvinte> Assina();
  void Cancela(const std::shared_ptr<Ouvinte>& o);
  // The watcher's next frame, waiting up to `espera`: a frame; an empty text when nothing came
  // (time for a keep-alive); nothing when the watcher was dropped or the difusor stops.
  std::optional<std::string> Proximo(Ouvinte& o, std::chrono::milliseconds espera);

  size_t Ouvintes() const;
  size_t Derrubados() const;  // watchers dropped for falling behind, since the start

 private:
  void Laco();
  void Entrega(const std::vector<std::string>& quadros);

  Configuracao c_;
  mutable std::mutex m_;
  std::condition_variable acorda_;
  std::vector<std::shared_ptr<Ouvinte>> ouvintes_;
  size_t derrubados_ = 0;
  bool parar_ = false;
  std::thread fio_;
};

class Difusor::Ouvinte {
 private:
  friend class Difusor;
  std::mutex m;
  std::condition_variable cv;
  std::deque<std::string> fila;
  size_t bytes = 0;
  bool fim = false;  // dropped, or the difusor stops
};

}  // namespace ponto::web
