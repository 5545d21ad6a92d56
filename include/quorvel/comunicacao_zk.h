// ComunicacaoZK: the one control a host creates to talk to its time clocks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

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
// the numbers and descriptions of the component. Some operations wait and yield to the host
// (retries, collection, sends): timer ticks and other host calls may run in between.
//
// REQUIRES: `host` outlives the control. `fabrica` makes one SDK object per registered clock.
class ComunicacaoZK {
 public:
  ComunicacaoZK(Host& host, FabricaCZKEM fabrica);
  // Disconnects every registered clock; never throws (see Encerra).
  ~ComunicacaoZK();
  ComunicacaoZK(const ComunicacaoZK&) = delete;
  ComunicacaoZK& operator=(const ComunicacaoZK&) = delete;

  // ---- Control frame -------------------------------------------------------------------
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
  // Returns the number of such failures. The destructor calls it.
  int32_t Encerra() noexcept;
  // Asks a running punch collection to stop; it then returns no list.
  void CancelaColeta();

  // ---- Registration ----------------------------------------------------------------------
  void AddRelogio(const std::shared_ptr<Relogio>& parRelogio);
  void AddRelogioIP(int16_t parCodigo, const std::string& parIP, EModeloRelogio parModeloRelogio);
  void AddRelogioSerial(int16_t parCodigo, int16_t parPortaSerial);
  void RemoverRelogio(int16_t parCodigoRelogio);
  void RemoverTodosRelogios();

  // ---- Connection ------------------------------------------------------------------------
  // Stores the request; about 100 ms later the connection timer connects the clock and raises
  // RelogioConectado or ErroConexaoRelogio. Only the last request before the tick is made.
  void ConectarRelogio(int16_t parCodigoRelogio);
  void DesconectarRelogio(int16_t parCodigoRelogio);
  void DesconectarTodosRelogios();
  void RefreshRelogio(int16_t parCodigoRelogio);
  bool HabilitaDesabilitaRelogio(int16_t parCodigoRelogio, bool parHabilita);

  // ---- Punches ---------------------------------------------------------------------------
  // Returns nullptr when the run was cancelled with CancelaColeta. A read cut by a lost link
  // (last error -2) is resumed on a reopened link after what was already received; when
  // three attempts in a row bring nothing, raises -43 ("O relógio N está desconectado. A
  // operação desejada não poderá ser realizada.", method "ObterMarcacaoRelogio") and no
  // partial list is returned.
  std::shared_ptr<ListaMarcacao> ObterMarcacaoRelogio(int16_t parCodigoRelogio,
                                                      int32_t parIndexPonteiro = 0,
                                                      int32_t parNSRPonteiro = 0);
  std::shared_ptr<ListaMarcacao> ObterMarcacaoTodosRelogios(int32_t parIndexPonteiro = 0);
  void ReposicionaPonteiroRelogio(int16_t parCodigoRelogio, int32_t parIndex);
  bool ApagarMarcacoesRelogio(int32_t parCodigoRelogio);
  bool ApagarMarcacoesTodosRelogios();
  void IniciaMonitoracaoRelogio(int16_t parCodigoRelogio);
  void IniciaMonitoracaoTodosRelogios();
  void PararMonitoracaoRelogio(int16_t parCodigoRelogio);
  void PararMonitoracaoTodosRelogios();

  // ---- Clock time and maintenance --------------------------------------------------------
  DataHora ObterDataHoraRelogio(int16_t parCodigoRelogio);
  bool EnviaDataHoraRelogio(int16_t parCodigoRelogio, DataHora parDataHora);
  bool EnviaDataHoraTodosRelogios(DataHora parDataHora);
  bool ApagarTodosRegistrosRelogio(int16_t parCodigoRelogio);
  // Runs the device's test operation on clock 1 and shows "Sucess" or "Error".
  void Teste();

  // ---- Employees -------------------------------------------------------------------------
  void AddFuncionarioCartao(const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao);
  void RemoverFuncionarioCartao(const std::string& parCodigo);
  void RemoverTodosFuncionariosCartao();
  std::shared_ptr<FuncionarioCartao> ObterFuncionarioCartaoByCodCartao(
      const std::string& parCodigoCartao);
  std::shared_ptr<ListaFuncionarioNaoEnviado> EnviarListaFuncionarioCartaoRelogio(
      int32_t parCodigoRelogio);
  std::shared_ptr<ListaFuncionarioNaoEnviado> EnviaListaFuncionarioCartaoTodosRelogios();
  std::shared_ptr<ListaFuncionarioCartao> ObterListaFuncionarioCartaoRelogio(
      int16_t parCodigoRelogio);
  std::shared_ptr<ColecaoTemplates> ObterListaTemplatesCartaoRelogio(
      int16_t parCodigoRelogio, int32_t parCodigoFuncionarioCartao);
  bool ExcluiFuncionarioCartaoRelogio(
      int16_t parCodigoRelogio, const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao);
  bool ExcluirFuncionarioCartaoTodosRelogios(
      const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao);

  // ---- Configuration ---------------------------------------------------------------------
  bool EnviaEmpregadorRelogio(int16_t parCodigoRelogio, const std::string& parNome,
                              ETipoDocumento parTipoDocumento, const std::string& parDocumento,
                              const std::string& parCEI, const std::string& parEndereco);
  bool SetSireneDiariaRelogio(int16_t parCodigoRelogio, int16_t parCodigoSirene, int16_t parHora,
                              int16_t parMinuto);
  bool SetSireneDiariaTodosRelogios(int16_t parCodigoSirene, int16_t parHora, int16_t parMinuto);
  bool DelConfigSireneDiariaRelogio(int16_t parCodigoRelogio, int16_t parCodigoSirene);
  bool DelConfigSireneDiariaTodosRelogios(int16_t parCodigoSirene);
  bool SetTempoDuracaoToqueSireneRelogio(int16_t parCodigoRelogio, int16_t parDuracao);
  bool SetTempoDuracaoToqueSireneTodosRelogios(int16_t parDuracao);
  bool SetSireneDiaSemanaRelogio(int16_t parCodigoRelogio,
                                 const std::shared_ptr<ListaHorario>& parColecaoHorarioSirene,
                                 EDiaDaSemana parDiaDaSemana);
  bool SetSireneDiaSemanaTodosRelogios(const std::shared_ptr<ListaHorario>& parColecaoHorarioSirene,
                                       EDiaDaSemana parDiaDaSemana);
  bool DelConfigSireneDiaSemanaRelogio(int16_t parCodigoRelogio, EDiaDaSemana parDiaDaSemana);
  bool DelConfigSireneDiaSemanaTodosRelogios(EDiaDaSemana parDiaDaSemana);
  bool SetHorarioVeraoRelogio(int16_t parCodigoRelogio, DataHora parDataHoraInicio,
                              DataHora parDataHoraFim);
  bool SetHorarioVeraoTodosRelogios(DataHora parDataHoraInicio, DataHora parDataHoraFim);
  bool DelConfigHorarioVeraoRelogio(int16_t parCodigoRelogio);
  bool DelConfigHorarioVeraoTodosRelogios();
  bool Set1Para1Relogio(int16_t parCodigoRelogio);
  bool Set1Para1TodosRelogios();
  bool Set1ParaNRelogio(int16_t parCodigoRelogio);
  bool Set1ParaNTodosRelogios();

  // ---- Status ----------------------------------------------------------------------------
  std::shared_ptr<StatusRelogio> ObterStatusRelogio(int16_t parCodigoRelogio);

  // Timers, exposed read-only so hosts and tests can see their state.
  const Timer& TimerConexao() const { return *tmrConexao_; }
  const Timer& TimerMonitoracao() const { return *tmrMonitoracao_; }

 private:
  // What monitoring has handed out of each clock (by code). Kept for the control's whole
  // life, so a clock stopped and started again resumes where it was.
  struct CursorMonitoracao {
    bool visitado = false;   // the first visit took what the clock held as already seen
    int64_t posicao = 0;     // fingerprint log: entries already seen, from its start
    int64_t ultimoNsr = -1;  // register log: the last NSR handed out (-1: none yet)
    int64_t registrosNaPrimeiraVisita = -1;  // register log: its size at the first visit
    bool caido = false;                      // the link fell; reopened on later ticks
    int64_t proximaReabertura = 0;           // host time, in seconds, of the next attempt
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
  std::unordered_map<int16_t, CursorMonitoracao> cursores_;
  std::unique_ptr<Timer> tmrConexao_;
  std::unique_ptr<Timer> tmrMonitoracao_;
  int32_t largura_ = 685;
  int32_t altura_ = 700;
};

}  // namespace quorvel
