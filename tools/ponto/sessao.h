// One run of ponto: the event loop, the control, the clocks it talks to, Ctrl-C.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "embutidos.h"
#include "opcoes.h"
#include "quorvel/comunicacao_zk.h"
#include "quorvel/event_loop.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "saida.h"

namespace ponto {

// A clock could not be reached: exit code 4.
struct ErroDeConexao : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Sessao {
 public:
  // Reads the clock options (--relogio/--ip/--modelo, --serial, --relogios); with none, the
  // embedded virtual clocks (1: quorvel, 2: tarvenix) as the last run left them, seeded with
  // sample data the first time (their state: embutidos.h).
  //
  // `relogiosPorControle` (0: one control for all): the clocks are divided among controls of at
  // most that many, clock i to control i mod their number. A control opens one link per tick
  // of its connection timer; a host that brings up hundreds of clocks (the collector service)
  // runs several side by side on the same loop.
  explicit Sessao(const Opcoes& opcoes, size_t relogiosPorControle = 0);
  ~Sessao();

  // Connects every clock through the control's connection timer; ErroDeConexao naming the
  // first clock that could not be reached and why.
  void Conecta();
  // Connects every clock it can; returns, for each one it could not, a sentence saying why.
  // ErroDeConexao only when interrupted.
  std::vector<std::pair<int16_t, std::string>> ConectaAlcancaveis();
  // After a failed connection of clock `codigo`: why, as a sentence for people (a key
  // refused, a clock of the other model, unreachable). A clock whose model was left to the
  // clock and that announced one now has that model, and `tentarDeNovo` is set.
  std::string MotivoDaFalha(int16_t codigo, bool& tentarDeNovo);
  // Where a clock is, for messages: "10.0.0.1:4370", "porta serial 3".
  static std::string Onde(const quorvel::Relogio& r);

  quorvel::EventLoop& Loop() { return loop_; }
  // The first control (the only one unless `faixas` was given): the commands' control.
  quorvel::ComunicacaoZK& Controle() { return *controles_.front(); }
  // The control clock `codigo` is registered in, and its place in Controles().
  quorvel::ComunicacaoZK& Controle(int16_t codigo) { return *controles_[Faixa(codigo)]; }
  size_t Faixa(int16_t codigo) const {
    const auto f = faixaDe_.find(codigo);
    return f == faixaDe_.end() ? 0 : f->second;
  }
  const std::vector<std::unique_ptr<quorvel::ComunicacaoZK>>& Controles() const {
    return controles_;
  }
  const std::vector<std::shared_ptr<quorvel::Relogio>>& Relogios() const { return relogios_; }
  const std::vector<std::shared_ptr<quorvel::sdk::DispositivoVirtual>>& Embutidos() const {
    return embutidos_;
  }
  Formato Saida() const { return formato_; }
  // CSV opens with the UTF-8 byte-order mark (--bom), for spreadsheet programs.
  bool Bom() const { return bom_; }
  // True once Ctrl-C was pressed.
  static bool Interrompido();

 private:
  quorvel::EventLoop loop_;
  std::vector<std::unique_ptr<quorvel::ComunicacaoZK>> controles_;
  std::map<int16_t, size_t> faixaDe_;  // clock code → its control in controles_
  std::vector<std::shared_ptr<quorvel::Relogio>> relogios_;
  std::vector<std::shared_ptr<quorvel::sdk::DispositivoVirtual>> embutidos_;
  std::unique_ptr<EstadoDosEmbutidos> estado_;
  // Each network clock may have a key of its own: the SDK object made for the next clock
  // registered takes `chaveDoProximo_`.
  std::string chaveDoProximo_;
  // Clocks registered without a model: the model the clock announces is taken.
  std::set<int16_t> modeloDoRelogio_;
  std::unique_ptr<quorvel::Timer> vigia_;
  Formato formato_ = Formato::Tabela;
  bool bom_ = false;
};

std::string NomeModelo(quorvel::EModeloRelogio m);
// "dd/mm/aaaa hh:mm[:ss]" (or year first) into a date-time; ErroDeUso otherwise.
quorvel::DataHora DataHoraDe(const std::string& texto, const std::string& opcao);

}  // namespace ponto
