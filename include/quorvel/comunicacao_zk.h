// ComunicacaoZK: the one control a host creates to talk to its time clocks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "quorvel/codigos.h"
#include "quorvel/data_hora.h"
#include "quorvel/enumeracoes.h"
#include "quorvel/funcionario.h"
#include "quorvel/horario.h"
#include "quorvel/host.h"
#include "quorvel/lista_relogio.h"
#include "quorvel/marcacao.h"
#include "quorvel/sdk/czkem.h"
#include "quorvel/status_relogio.h"

namespace quorvel {

// The control's four events, raised synchronously on the host's thread inside the call or
// timer tick that causes them. Handlers left empty are not called.
//
// Monitoring: MarcacaoRecolhida once for every punch a monitored clock records after its
// first visit. A monitored clock whose link falls raises ErroMonitoracao once for that outage
// (-43, "O relógio N está desconectado. A operação desejada não poderá ser realizada.",
// method "tmr_Monitoracao"); the tick reopens it at most every 3 seconds, one clock per tick,
// and raises RelogioConectado(N) when it is back, resuming where it stopped.
struct EventosComunicacaoZK {
  std::function<void(int16_t parNumeroErro, const std::string& parDescricaoErro)> ErroMonitoracao;
  std::function<void(const std::shared_ptr<Marcacao>& parMarcacao)> MarcacaoRecolhida;
  std::function<void(int16_t parCodigoRelogio)> RelogioConectado;
  std::function<void(int16_t parCodigoRelogio)> ErroConexaoRelogio;
};

// The control. Every method runs on the host's thread; failures are raised as `Erro` with
// the numbers of `codigos.h` and the description layout of `MontaMensagemErro`. Some
// operations wait and yield to the host (retries, collection, sends): timer ticks and other
// host calls may run in between. Each group of operations is defined in the source folder its
// banner names.
//
// REQUIRES: `host` outlives the control. `fabrica` makes one SDK object per registered clock.
class ComunicacaoZK {
 public:
  ComunicacaoZK(Host& host, FabricaCZKEM fabrica);
  // Disconnects every registered clock; never throws (see Encerra).
  ~ComunicacaoZK();
  ComunicacaoZK(const ComunicacaoZK&) = delete;
  ComunicacaoZK& operator=(const ComunicacaoZK&) = delete;

  // ---- Control frame (src/control/) ------------------------------------------------------
  // The control keeps a fixed size: whatever is asked, it is 685 x 700 twips.
  void Redimensiona(int32_t larguraTwips, int32_t alturaTwips);
  int32_t Largura() const { return largura_; }
  int32_t Altura() const { return altura_; }
  EventosComunicacaoZK& Eventos() { return eventos_; }
  // The registry and the staging list, for reading by the host.
  const ListaRelogio& Relogios() const { return relogios_; }
  const ListaFuncionarioCartao& FuncionariosCartao() const { return funcionarios_; }
  // Sends every registered clock its disconnect request and marks it not connected; a clock
  // whose disconnect fails is counted and skipped so the others are still disconnected.
  // Returns the number of such failures. The destructor calls it. Never raises.
  int32_t Encerra() noexcept;
  // Asks a running punch collection (ObterMarcacaoRelogio) to stop; it then returns nullptr.
  // A request made while no collection runs has no effect on the next one. Never raises.
  void CancelaColeta();

  // Conventions of the clock operations below, unless an entry says otherwise:
  // - A clock code that is not registered raises erro::kRelogioNaoRegistrado (-41), and a
  //   registered clock not marked connected erro::kRelogioDesconectado (-43), before any
  //   device call.
  // - A device call that fails as a call (it throws) reaches the host unchanged.
  // - A false result is the clock's refusal, never an error.
  // - Nothing yields to the host's event loop; an operation "with retry" runs a refused call
  //   whose last error is a lost link (-2) again on a reopened link, three attempts at most,
  //   waiting 1000 + 250 + 250 ms and yielding once per attempt (timer ticks and host calls
  //   may run in between).
  // - The ...TodosRelogios forms apply the one-clock form to every registered clock in
  //   registry order; an error ends the walk at that clock (what earlier clocks did stays) and
  //   the result is true only when every clock answered true.

  // ---- Registration (src/control/) -------------------------------------------------------
  // Registers the host's own record (the very object). Raises erro::kCodigoRelogioAusente
  // (-31) for a code not above 0, erro::kEnderecoIpAusente / kPortaSerialAusente (-32) for a
  // network clock without address or a serial clock with port below 1,
  // erro::kRelogioRepetido (-24) for a code already registered (class "ListaRelogio", method
  // "Add"); erro_plataforma::kObjetoNaoDefinido for no record. The registry is then unchanged.
  void AddRelogio(const std::shared_ptr<Relogio>& parRelogio);
  // A new network clock of `parModeloRelogio` at `parIP` ("host", "host:porta", "[v6]:porta";
  // port 4370 unless named). Raises as AddRelogio; the model is not checked.
  void AddRelogioIP(int16_t parCodigo, const std::string& parIP, EModeloRelogio parModeloRelogio);
  // A new serial clock on port `parPortaSerial` (model EModeloRelogio_Quorvel). Raises as
  // AddRelogio.
  void AddRelogioSerial(int16_t parCodigo, int16_t parPortaSerial);
  // Removes one clock from the registry, with what monitoring knew of it: a clock registered
  // later under the code starts with first-visit rules. Raises -41 for an unregistered code.
  void RemoverRelogio(int16_t parCodigoRelogio);
  // Removes every clock, first to last.
  void RemoverTodosRelogios();

  // ---- Connection (src/control/) ---------------------------------------------------------
  // Stores the request; about 100 ms later the connection timer connects the clock and raises
  // RelogioConectado or ErroConexaoRelogio. Only the last request before the tick is made.
  // Raises -41 for an unregistered code; a failed connection is an event, not an error. A
  // clock whose SDK object says it is the other model (SdkGetDeviceModel) is not connected:
  // ErroConexaoRelogio, the link closed.
  void ConectarRelogio(int16_t parCodigoRelogio);
  // Closes the clock's link and marks it not connected. Raises -41 only (no connected guard).
  void DesconectarRelogio(int16_t parCodigoRelogio);
  // DesconectarRelogio for every clock; stops at the first that raises.
  void DesconectarTodosRelogios();
  // Asks the device to reload its data (SdkRefreshData). Raises -41 / -43 unwrapped.
  void RefreshRelogio(int16_t parCodigoRelogio);
  // Enables (true) or disables (false) the clock for its users; true when the device
  // accepted. Every failure, -41 and -43 included, is wrapped as erro::kDesconhecido (-1).
  bool HabilitaDesabilitaRelogio(int16_t parCodigoRelogio, bool parHabilita);

  // ---- Punches (src/punches/) ------------------------------------------------------------
  // Every punch the clock holds (fingerprint model: the whole log; register model: from the
  // pointer `parNSRPonteiro`, or `parIndexPonteiro` on firmware below "2.1.12"), in the order
  // the clock gives them. Yields to the host (register model: around its reconnection and
  // every ten records). Returns an empty list when there is nothing, nullptr when the run was
  // cancelled with CancelaColeta (also while a resume yields). A read cut by a lost link
  // (last error -2) is resumed on a reopened link after what was already received — the
  // clock reopened the way it is registered, a serial clock over its serial port — the
  // register model with its own steps (1000 ms, yield, reconnect, pointer); when three
  // attempts in a row bring nothing, or the log cannot be read again after a cut, raises
  // erro::kRelogioDesconectado (-43, method "ObterMarcacaoRelogio"): a partial list is never
  // returned. A date that does not convert raises
  // erro_plataforma::kTiposIncompativeis (13). Nothing is caught.
  std::shared_ptr<ListaMarcacao> ObterMarcacaoRelogio(int16_t parCodigoRelogio,
                                                      int32_t parIndexPonteiro = 0,
                                                      int32_t parNSRPonteiro = 0);
  // ObterMarcacaoRelogio handing the punches over as they are read, in runs of at most
  // `porLote` in the clock's order, each to `recebe` before the next is read, instead of one
  // list at the end: a host that stores each run keeps what was read when the collection is
  // cut short, and its memory does not grow with the clock's log. Same pointers, yields,
  // resumes and errors; each punch is handed over once, resumes included; a run not yet handed
  // over when the collection raises or is cancelled is dropped (never a part of a run). False
  // when cancelled. Whatever `recebe` raises ends the collection and reaches the caller.
  bool ObterMarcacaoRelogioEmLotes(int16_t parCodigoRelogio, int32_t parIndexPonteiro,
                                   int32_t parNSRPonteiro, int32_t porLote,
                                   const std::function<void(const ListaMarcacao&)>& recebe);
  // ObterMarcacaoRelogio of every clock into one list (always a list) of copies carrying every
  // field, the register clock's PIS and NSR included; the first error ends it and the punches
  // of earlier clocks are lost with it.
  std::shared_ptr<ListaMarcacao> ObterMarcacaoTodosRelogios(int32_t parIndexPonteiro = 0);
  // Moves the register log's read pointer to `parIndex`. Model EModeloRelogio_Tarvenix only:
  // raises erro::kModeloNaoSuportado (-47) for the fingerprint model. Nothing is caught.
  void ReposicionaPonteiroRelogio(int16_t parCodigoRelogio, int32_t parIndex);
  // Erases the fingerprint model's punch log; the device's answer. Every failure — -41, -43,
  // -47 for the register model — is wrapped as erro::kDesconhecido (-1). Monitoring then
  // raises every punch recorded after the erase.
  bool ApagarMarcacoesRelogio(int32_t parCodigoRelogio);
  // ApagarMarcacoesRelogio for every clock: the last clock's answer (false with no clock);
  // every failure is wrapped as -1.
  bool ApagarMarcacoesTodosRelogios();
  // Marks the clock monitored and starts the 200 ms monitoring timer if it is stopped. Every
  // tick raises MarcacaoRecolhida once for each punch recorded after the clock's first visit,
  // whatever its time; a link lost is reported once per outage through ErroMonitoracao (-43,
  // method "tmr_Monitoracao"), reopened at most every 3 s and announced by RelogioConectado.
  // The first visit after a start or a reopen checks that the last entry passed is still where
  // it was; a log erased, wiped or replaced meanwhile has its entries dated at or after that
  // entry raised (all of it after an erase through this control). Raises -41 / -43 at the call.
  void IniciaMonitoracaoRelogio(int16_t parCodigoRelogio);
  // IniciaMonitoracaoRelogio for every clock; the first that raises ends it (earlier clocks
  // stay started).
  void IniciaMonitoracaoTodosRelogios();
  // Unmarks the clock; the timer stops when no clock is monitored. Raises -41 only (a
  // disconnected clock can be stopped).
  void PararMonitoracaoRelogio(int16_t parCodigoRelogio);
  void PararMonitoracaoTodosRelogios();
  // True while monitoring holds the clock's link for lost: from the ErroMonitoracao that
  // reported the outage until the RelogioConectado that ends it. Lets a host tell which clock
  // an ErroMonitoracao was about without reading its text. Never raises (false for a code that
  // is not registered or not monitored).
  bool MonitoracaoSemConexao(int16_t parCodigoRelogio) const;

  // ---- Clock time and maintenance (src/clocktime/) ---------------------------------------
  // The clock's date and time, to the second. Raises erro::kDataHoraInvalida (-44) when the
  // clock's six numbers name no date (a clock that could not be read leaves them 0).
  DataHora ObterDataHoraRelogio(int16_t parCodigoRelogio);
  // Sets the clock's date and time, with retry; the answer of the last attempt.
  bool EnviaDataHoraRelogio(int16_t parCodigoRelogio, DataHora parDataHora);
  // EnviaDataHoraRelogio for every clock; stops at the first clock that refuses (false).
  bool EnviaDataHoraTodosRelogios(DataHora parDataHora);
  // Wipes every user, template and punch of the clock: the device's answer. Model
  // EModeloRelogio_Quorvel only (-47 for the register model). Monitoring then raises every
  // punch recorded after the wipe.
  bool ApagarTodosRegistrosRelogio(int16_t parCodigoRelogio);
  // Runs the device's test operation on clock 1 and shows "Sucess" or "Error" in a modal
  // message box (the host's event loop keeps running underneath). Raises -41 when clock 1 is
  // not registered; it need not be connected.
  void Teste();

  // ---- Employees (src/employees/) --------------------------------------------------------
  // Stages an employee (the very object) for the sends. Raises
  // erro::kCodigoFuncionarioInvalido (-11) for a code not above 0 and
  // erro::kFuncionarioRepetido (-12) for a code already staged (class
  // "ListaFuncionarioCartao", method "Add").
  void AddFuncionarioCartao(const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao);
  // Unstages the employee whose code is the text `parCodigo`; any failure (no such employee)
  // is erro::kDesconhecido (-1).
  void RemoverFuncionarioCartao(const std::string& parCodigo);
  void RemoverTodosFuncionariosCartao();
  // The staged employee whose code (not card) is `parCodigoCartao`, or nullptr. A text that
  // is not a number raises erro_plataforma::kTiposIncompativeis (13).
  std::shared_ptr<FuncionarioCartao> ObterFuncionarioCartaoByCodCartao(
      const std::string& parCodigoCartao);
  // Writes every staged employee into the clock: the user record, then each template (the
  // register model with its card, PIS and CPF, with retry). Yields once per employee; does
  // not stop at refusals — the result lists each employee the clock refused, with why
  // (never nullptr; empty when all were sent). Raises erro::kNadaParaEnviar (-43) when nothing
  // is staged (before the clock checks), -41 / -43 for the clock, and wraps any later failure
  // as erro::kDesconhecido (-1).
  std::shared_ptr<ListaFuncionarioNaoEnviado> EnviarListaFuncionarioCartaoRelogio(
      int32_t parCodigoRelogio);
  // The send to every clock, refusals of all clocks in one list; the first error ends it.
  std::shared_ptr<ListaFuncionarioNaoEnviado> EnviaListaFuncionarioCartaoTodosRelogios();
  // Every user of the clock with its templates (never nullptr; empty when the clock lists
  // none). -41 / -43 unwrapped; any later failure (a user numbered 0 or repeated) is wrapped
  // as -1. Does not yield.
  std::shared_ptr<ListaFuncionarioCartao> ObterListaFuncionarioCartaoRelogio(
      int16_t parCodigoRelogio);
  // The templates the clock holds for one user, in finger order (never nullptr). Every
  // failure, -41 and -43 included, is wrapped as -1.
  std::shared_ptr<ColecaoTemplates> ObterListaTemplatesCartaoRelogio(
      int16_t parCodigoRelogio, int32_t parCodigoFuncionarioCartao);
  // Deletes the employee from the clock (fingerprint model: record rewritten without password,
  // templates and enrolled data removed with retry; register model: the user removed). Returns
  // true when the clock no longer finds the user.
  bool ExcluiFuncionarioCartaoRelogio(
      int16_t parCodigoRelogio, const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao);
  // ExcluiFuncionarioCartaoRelogio for every clock; stops at the first clock that answers
  // false. True also when no clock is registered.
  bool ExcluirFuncionarioCartaoTodosRelogios(
      const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao);

  // ---- Configuration (src/configuration/) ------------------------------------------------
  // Sends the employer's data, with retry. Model EModeloRelogio_Tarvenix only (-47 for the
  // fingerprint model).
  bool EnviaEmpregadorRelogio(int16_t parCodigoRelogio, const std::string& parNome,
                              ETipoDocumento parTipoDocumento, const std::string& parDocumento,
                              const std::string& parCEI, const std::string& parEndereco);
  // Daily siren `parCodigoSirene` at parHora:parMinuto. Raises erro::kCodigoSireneInvalido
  // (-46) for a siren outside 1..50 before anything else; model EModeloRelogio_Quorvel only
  // (-47). Every write is made; a refused one makes the result false.
  bool SetSireneDiariaRelogio(int16_t parCodigoRelogio, int16_t parCodigoSirene, int16_t parHora,
                              int16_t parMinuto);
  bool SetSireneDiariaTodosRelogios(int16_t parCodigoSirene, int16_t parHora, int16_t parMinuto);
  // Clears daily siren `parCodigoSirene`; raises as SetSireneDiariaRelogio.
  bool DelConfigSireneDiariaRelogio(int16_t parCodigoRelogio, int16_t parCodigoSirene);
  bool DelConfigSireneDiariaTodosRelogios(int16_t parCodigoSirene);
  // How long the siren sounds, in seconds. Model EModeloRelogio_Quorvel only (-47).
  bool SetTempoDuracaoToqueSireneRelogio(int16_t parCodigoRelogio, int16_t parDuracao);
  bool SetTempoDuracaoToqueSireneTodosRelogios(int16_t parDuracao);
  // The sirens of one weekday, 1 to 12 times (another count: false, nothing written). Model
  // EModeloRelogio_Quorvel only (-47); erro_plataforma::kObjetoNaoDefinido for no list,
  // kEstouro for a weekday whose slots leave 16 bits.
  bool SetSireneDiaSemanaRelogio(int16_t parCodigoRelogio,
                                 const std::shared_ptr<ListaHorario>& parColecaoHorarioSirene,
                                 EDiaDaSemana parDiaDaSemana);
  bool SetSireneDiaSemanaTodosRelogios(const std::shared_ptr<ListaHorario>& parColecaoHorarioSirene,
                                       EDiaDaSemana parDiaDaSemana);
  // Clears the sirens of one weekday; raises as SetSireneDiaSemanaRelogio.
  bool DelConfigSireneDiaSemanaRelogio(int16_t parCodigoRelogio, EDiaDaSemana parDiaDaSemana);
  bool DelConfigSireneDiaSemanaTodosRelogios(EDiaDaSemana parDiaDaSemana);
  // Daylight saving from `parDataHoraInicio` to `parDataHoraFim`; both models. Every write is
  // made; a refused one makes the result false.
  bool SetHorarioVeraoRelogio(int16_t parCodigoRelogio, DataHora parDataHoraInicio,
                              DataHora parDataHoraFim);
  bool SetHorarioVeraoTodosRelogios(DataHora parDataHoraInicio, DataHora parDataHoraFim);
  // Turns daylight saving off; both models.
  bool DelConfigHorarioVeraoRelogio(int16_t parCodigoRelogio);
  bool DelConfigHorarioVeraoTodosRelogios();
  // Verification mode one-to-one or one-to-many; both models, one device write.
  bool Set1Para1Relogio(int16_t parCodigoRelogio);
  bool Set1Para1TodosRelogios();
  bool Set1ParaNRelogio(int16_t parCodigoRelogio);
  bool Set1ParaNTodosRelogios();

  // ---- Status (src/status/) --------------------------------------------------------------
  // A new record with the clock's counts, capacities, occupation, date and firmware. The
  // occupation (punches x 100 / capacity) is computed in 64 bits, so no count overflows it.
  // Raises the errors of ObterDataHoraRelogio (-44). A count the clock refuses reads 0 (never
  // the value of the read before it).
  std::shared_ptr<StatusRelogio> ObterStatusRelogio(int16_t parCodigoRelogio);

  // Timers, exposed read-only so hosts and tests can see their state.
  const Timer& TimerConexao() const { return *tmrConexao_; }
  const Timer& TimerMonitoracao() const { return *tmrMonitoracao_; }

 private:
  // The collection behind ObterMarcacaoRelogio and its runs: each run of `porLote` punches (the
  // rest at the end, or an empty list when nothing came) goes to `entrega`; false when
  // cancelled.
  bool Coleta(int16_t parCodigoRelogio, int32_t parIndexPonteiro, int32_t parNSRPonteiro,
              int32_t porLote, const std::function<void(std::shared_ptr<ListaMarcacao>)>& entrega);
  // What monitoring has passed of each clock (by code), with the identity of the last entry
  // passed, so that a log erased, wiped, cut and refilled or a clock replaced is told from the
  // log it was. Kept while the clock stays registered: a clock stopped and started again
  // resumes where it was; RemoverRelogio drops it.
  struct CursorMonitoracao {
    bool visitado = false;  // the first visit took what the clock held as already seen
    // Check, before trusting the position, that the last entry passed is still where it was:
    // set at a start on a clock already visited and at every reopen.
    bool conferir = false;
    // Fingerprint log: entries passed from its start, and the last of them.
    int64_t posicao = 0;
    bool temUltima = false;
    int32_t cartaoUltima = 0, modoUltima = 0;
    std::string textoUltima;
    // Register log: the last record passed (-1: none yet), its moment, and the records passed
    // from the log's start (-1: unknown), for firmware whose pointer counts records.
    int64_t ultimoNsr = -1;
    int64_t segundosUltimo = 0;
    int64_t registros = -1;
    bool caido = false;             // the link fell; reopened on later ticks
    int64_t proximaReabertura = 0;  // host time, in seconds, of the next attempt
  };
  // The entry of a registered clock; -41 when the code is not registered.
  std::shared_ptr<RelogioCZKEM> ObterRelogioCZKEM(int16_t codigo) const;
  // Returns only when the clock is registered (-41) and marked connected (-43).
  void GeraExcessaoSeRelogioDesconectado(int16_t codigo) const;
  // Guard, then lookup: what most per-clock operations start with.
  std::shared_ptr<RelogioCZKEM> RelogioConectado(int16_t codigo) const;

  void TickConexao() noexcept;
  void TickMonitoracao() noexcept;
  void MonitoraRelogios();
  // One monitored clock's share of a tick; false when its link fell during it.
  bool MonitoraDigital(const RelogioCZKEM& entrada, CursorMonitoracao& cursor);
  bool MonitoraRegistro(const RelogioCZKEM& entrada, CursorMonitoracao& cursor);
  // Raises MarcacaoRecolhida for one punch of a monitored clock.
  void EntregaMonitorada(std::shared_ptr<Marcacao> marcacao);
  // A monitored clock whose link fell: reported once, then reopened on later ticks.
  void MarcaQuedaMonitorada(int16_t codigo, CursorMonitoracao& cursor);
  bool ReabreMonitorado(const RelogioCZKEM& entrada, CursorMonitoracao& cursor);
  // The clock's fingerprint log was erased through the control: everything after is new.
  void LogApagado(int16_t codigo);

  // Applies `umRelogio` to every clock in registry order: a false answer makes the result
  // false and the loop goes on; an error ends it.
  template <class F>
  bool ParaTodosRelogios(F&& umRelogio);

  Host& host_;
  FabricaCZKEM fabrica_;
  EventosComunicacaoZK eventos_;
  ListaRelogio relogios_;
  ListaFuncionarioCartao funcionarios_;
  std::string codigoConexaoPendente_;
  bool cancelaColeta_ = false;
  // Shared: a visit keeps its clock's cursor alive even when a host's handler removes the
  // clock in the middle of it (the visit then ends on a cursor nobody will look up again).
  std::unordered_map<int16_t, std::shared_ptr<CursorMonitoracao>> cursores_;
  std::unique_ptr<Timer> tmrConexao_;
  std::unique_ptr<Timer> tmrMonitoracao_;
  int32_t largura_ = 685;
  int32_t altura_ = 700;
};

}  // namespace quorvel
