// The embedded virtual clocks keep their state between runs of ponto: each clock's journal
// (the format relogio-virtual keeps, docs/virtual-clock.md) lives in the user's state folder,
// and one lock lets a single ponto use them at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/sdk/relogio_virtual.h"

namespace quorvel::sdk {
class DiarioVirtual;
}

namespace ponto {

// $XDG_STATE_HOME/quorvel (an absolute XDG_STATE_HOME only), else ~/.local/state/quorvel;
// nothing when neither can be named.
std::optional<std::string> PastaDosEmbutidos();

// The journal of embedded clock `codigo` (1 or 2) in `pasta`.
std::string DiarioDoEmbutido(const std::string& pasta, int codigo);

class EstadoDosEmbutidos {
 public:
  // Takes the lock of the folder (waiting, with a word on stderr, while another ponto holds
  // it; `interrompido` ends the wait) and opens clock `codigo`'s journal into `dispositivo`;
  // a clock without a journal is seeded with the sample data first. Throws std::runtime_error
  // saying why for a journal that cannot be trusted or a wait cut by Ctrl-C. A folder that
  // cannot be written leaves the clocks in memory, with a warning.
  EstadoDosEmbutidos(
      const std::vector<std::pair<int, std::shared_ptr<quorvel::sdk::DispositivoVirtual>>>&
          relogios,
      bool (*interrompido)());
  // Makes what was written durable and compacts a journal that grew; never throws.
  ~EstadoDosEmbutidos();
  EstadoDosEmbutidos(const EstadoDosEmbutidos&) = delete;
  EstadoDosEmbutidos& operator=(const EstadoDosEmbutidos&) = delete;

  // Where the state is kept; empty when the clocks are only in memory.
  const std::string& Pasta() const { return pasta_; }

  // Removes every journal and snapshot of the embedded clocks (under the lock): the next run
  // starts from the sample data. Only before any clock was opened by this object.
  static void Recria(const std::string& pasta, bool (*interrompido)());

 private:
  std::string pasta_;
  int trava_ = -1;
  std::vector<std::unique_ptr<quorvel::sdk::DiarioVirtual>> diarios_;
};

}  // namespace ponto
