// A simulated clock of either model behind the device SDK interface, reachable by address in
// this process, with faults on demand. See docs/virtual-clock.md for its exact behaviour.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quorvel/data_hora.h"
#include "quorvel/enumeracoes.h"
#include "quorvel/host.h"
#include "quorvel/sdk/conversao_template.h"
#include "quorvel/sdk/czkem.h"
#include "quorvel/sdk/fonte_afd.h"

namespace quorvel::sdk {

struct UsuarioVirtual {
  std::string id;  // user number as text ("25")
  std::string nome, senha;
  int32_t privilegio = 0;
  bool habilitado = true;
  std::string cartao, pis, cpf;
};

// What a register clock records as a punch's employee: the PIS, or the CPF of an employee who
// has none (as clocks under the 2021 rules do).
inline std::string IdentificadorDoPonto(const UsuarioVirtual& u) {
  return u.pis.empty() ? u.cpf : u.pis;
}

struct MarcacaoVirtual {
  int32_t cartao = 0;  // user number (model EModeloRelogio_Quorvel)
  int32_t modo = 1;    // 1 fingerprint, 0 password, 2 card
  int32_t estado = 0;  // 0 in, 1 out
  std::string nsr;     // model EModeloRelogio_Tarvenix
  std::string pis;
  DataHora momento;
  // A punch whose date the clock reports as impossible (a fault for tests).
  bool dataImpossivel = false;
};

struct EmpregadorVirtual {
  std::string nome, documento, cei, endereco;
  int32_t tipoDocumento = 0;
};

// A register clock's fiscal records besides its punches, numbered in the punches' own NSR
// sequence: the employer set (type 2), the clock's time set (type 4), an employee included,
// changed or removed (type 5). Punch reads never deliver them, so the punches' NSRs have gaps
// where they stand, as a real register clock's do.
struct RegistroFiscalVirtual {
  int64_t nsr = 0;
  int32_t tipo = 0;
  DataHora momento;              // the clock's time when it was recorded
  DataHora ajustado;             // type 4: the time the clock was set to
  bool mudancaDeVerao = false;   // type 4: summer time began or ended (not a time set)
  bool veraoDepois = false;      // type 4: whether summer time is in force after it
  char operacao = 0;             // type 5: 'I' included, 'A' changed, 'E' removed
  std::string identificador;     // type 5: the employee's CPF, or their PIS when they have none
  std::string nome;              // type 5: the employee's name
  std::string pis;               // type 5: the employee's PIS, which their punches may carry
  EmpregadorVirtual empregador;  // type 2
};

// What a register clock's fiscal file says of the clock itself. Not journaled: it is how the
// clock was made and set up, given again at each start.
struct IdentificacaoRep {
  std::string fabricacao;      // manufacturing number, up to 17 digits
  std::string modelo;          // the model's name, up to 30 characters
  std::string fabricante;      // the maker's CNPJ
  std::string responsavel;     // the CPF its records of types 2, 4 and 5 name as who did it
  int32_t fusoMinutos = -180;  // the UTC offset of its date-times
};

// A virtual clock's, unless told otherwise: its code as the manufacturing number.
inline IdentificacaoRep IdentificacaoPadrao(int32_t codigo) {
  IdentificacaoRep i;
  i.fabricacao = std::to_string(codigo);
  if (i.fabricacao.size() < 17) i.fabricacao.insert(0, 17 - i.fabricacao.size(), '0');
  i.modelo = "QUORVEL REP VIRTUAL";
  return i;
}

// The yearly summer-time period SdkSetDaylight gives, month-day-hour-minute as MMDDhhmm: the
// start read on standard time, the end on summer time (as the clock shows them).
struct PeriodoDeVerao {
  int32_t inicio = 0, fim = 0;
  // The period in force under the clock's options: a register clock needs
  // "DaylightSavingTimeOn" too. Nothing for none, one cleared or one of no length.
  static std::optional<PeriodoDeVerao> DasOpcoes(
      const std::unordered_map<std::string, std::string>& opcoes, EModeloRelogio modelo);
  // Whether a standard-time instant (seconds) falls in the period.
  bool Contem(int64_t padrao) const;
  // The last start (`entrada`) or end at or before `padrao`, on standard time.
  int64_t UltimaMudanca(int64_t padrao, bool entrada) const;
};

struct CapacidadesVirtuais {
  int32_t usuarios = 3000;
  int32_t templates = 3000;
  int32_t registros = 100000;
};

// The device itself: state shared by every SDK object connected to it. Thread-safe.
class DispositivoVirtual {
 public:
  DispositivoVirtual(EModeloRelogio modelo, std::string firmware = {});

  EModeloRelogio Modelo() const { return modelo_; }
  std::string Firmware() const;
  void DefineFirmware(std::string versao);
  void DefineCapacidades(CapacidadesVirtuais c);
  // Where the clock reads the wall time from (the host's clock in tests); default: system.
  void DefineFonteDeTempo(std::function<DataHora()> agora);
  // The clock runs this many seconds ahead of its time source (negative: behind), as a clock
  // that was never set right does. Not journaled: it is the clock's, not its state's.
  void DefineDesvio(int64_t segundos);
  void DefineIdentificacaoRep(IdentificacaoRep i);

  // ---- State a test or a demo sets up directly -------------------------------------------
  // Adds a punch now (or at `momento`); false when the log is full or the clock disabled.
  bool AdicionaMarcacao(int32_t usuario, int32_t modo = 1, std::optional<DataHora> momento = {});
  // Adds a register record with the next NSR for the given PIS.
  bool AdicionaRegistro(const std::string& pis, std::optional<DataHora> momento = {});
  // A punch whose date the clock reports as impossible (month 13 / "31/02").
  void AdicionaMarcacaoComDataImpossivel();
  void AdicionaUsuario(UsuarioVirtual u);
  // Stores a template as the clock keeps it (converted for model EModeloRelogio_Quorvel).
  void AdicionaTemplate(const std::string& usuario, int32_t dedo, std::string texto);

  // ---- Faults on demand -------------------------------------------------------------------
  // Every call answers false with -2 until the next connect (chamadas < 0), or for the next
  // `chamadas` calls.
  void PerdeLink(int32_t chamadas = -1);
  // The named operation (e.g. "SdkSetUserInfo") answers false with `codigo`, `vezes` times
  // (negative: until cleared).
  void Recusa(const std::string& operacao, int32_t codigo, int32_t vezes = -1);
  // The named operation throws an Erro numbered kFalhaDeChamada, `vezes` times.
  void FalhaComoChamada(const std::string& operacao, int32_t vezes = -1);
  // Every call waits this long first (a real sleep unless DefineEspera says otherwise).
  void Lentidao(int32_t milissegundos);
  // How the clock waits when slow; tests pass the virtual host's time step.
  void DefineEspera(std::function<void(int32_t)> espera);
  void LimpaFalhas();

  // ---- Durability ------------------------------------------------------------------------
  // Every change of state (punch, user, template, option, time, ...) is handed to `diario`
  // as its records (JSON, one per line, '\n' between them), under the clock's lock and
  // *before* it is applied: when `diario` throws, or a text is not UTF-8, the operation is
  // refused (kFalhaGravacao, kArgumentoInvalido) and nothing changes.
  void DefineDiario(std::function<void(const std::string&)> diario);
  // Applies one journal record (on start-up, replaying the journal). Every field is checked
  // (types, ranges, dates) before anything is applied; false with the reason in `erro` for a
  // record that does not hold.
  bool Reaplica(const std::string& linha, std::string* erro = nullptr);
  // The whole state as a compact binary image tagged with `sequencia` (the last journal
  // record it includes), checksummed; and the way back. CarregaInstantaneo replaces the state
  // and returns the sequence, or throws std::runtime_error for a damaged image.
  std::string Instantaneo(uint64_t sequencia) const;
  uint64_t CarregaInstantaneo(std::string_view imagem);
  // After damaged records were taken out of the journal: register numbers go on after every
  // one that may have been issued (the journal reserves them ahead, kReservaNsr at a time), so
  // an NSR a collector already stored is never issued again. Returns the last NSR now.
  int64_t RetomaNsrAposReparo();
  static constexpr int64_t kReservaNsr = 100;
  // Which clock a stored state belongs to: drawn once when the clock is new, kept in its
  // snapshot and at the head of every journal, so the files of two clocks are never taken as
  // one. Empty until known.
  std::string Identidade() const;
  void DefineIdentidade(std::string identidade);

  // ---- Inspection -------------------------------------------------------------------------
  std::vector<UsuarioVirtual> Usuarios() const;
  std::optional<std::string> TemplateDe(const std::string& usuario, int32_t dedo) const;
  std::vector<MarcacaoVirtual> Marcacoes() const;
  std::vector<RegistroFiscalVirtual> RegistrosFiscais() const;
  // A part of a register clock's own fiscal file (see FonteDoAfd): records by NSR, the header
  // first, the trailer last, CRC-16/MODBUS as register clocks write it.
  ParteAfd ParteDoAfd(const PedidoAfd& pedido) const;
  std::vector<MarcacaoVirtual> MarcacoesDesde(size_t inicio, size_t maximo) const;
  // Identifies the log's contents: changes when the log is erased (and differs between two
  // clocks or two runs), so a reader that kept a copy knows whether it may just add to it.
  struct VersaoLog {
    uint64_t geracao;
    size_t tamanho;
  };
  VersaoLog Versao() const;
  std::optional<std::string> Opcao(const std::string& nome) const;
  int32_t InformacaoDispositivo(int32_t item) const;
  EmpregadorVirtual Empregador() const;
  DataHora Agora() const;
  bool Habilitado() const;
  int32_t Conexoes() const;

 private:
  friend class SdkVirtual;
  friend class CadastroVirtual;
  friend class LeituraDoLogVirtual;

  // Decides, under the lock, how a call goes: 0 = proceed, otherwise the refusal code.
  // May throw for an operation made to fail as a call.
  int32_t Admite(const char* operacao, bool conectado, uint64_t geracaoLink);
  // The clock's time: its standard time (the source's plus its offset), an hour ahead while
  // the summer-time period lasts.
  DataHora AgoraSemTrava() const;
  int64_t PadraoSemTrava() const;
  bool NoVeraoSemTrava(int64_t padrao) const;
  // The standard time (seconds) of a time as the clock shows it (a time set is given so).
  int64_t PadraoDoMostradoSemTrava(DataHora mostrado) const;
  // After the options changed: the period in force again.
  void ReleVeraoSemTrava();
  // An option written (journaled first); summer time follows its change at once.
  void DefineOpcaoSemTrava(const std::string& nome, const std::string& valor);
  // A register clock records a summer-time move it has not recorded yet (type 4), before any
  // record that follows it: at the moment the period was crossed, or now when the period was
  // just set or cleared (`mudouAgora`). Throws FalhaDeGravacao as RegistraFiscal.
  void AcompanhaVeraoSemTrava(bool mudouAgora = false);
  ParteAfd ParteDoAfdSemTrava(const PedidoAfd& pedido) const;
  // The SDK's operations on the fiscal record, under the lock: the SDK's code, codigo::kSucesso
  // or why not (nothing changed then). Throws FalhaDeGravacao when the journal refuses.
  int32_t LeParteDoAfdSemTrava(const PedidoAfd& pedido, ParteAfd& parte) const;
  int32_t DefineEmpregadorSemTrava(EmpregadorVirtual e);
  void AjustaHoraSemTrava(DataHora novo);
  // Journal records are built only for a clock that keeps a journal: making one (a template's
  // text copied into it, say) costs more than most operations do. `faz` returns the record.
  template <class Faz>
  void Anota(Faz&& faz) {
    if (diario_) AnotaVarios(std::vector<nlohmann::json>{faz()});
  }
  void AnotaVarios(const std::vector<nlohmann::json>& registros);
  void AnotaMarcacao(const MarcacaoVirtual& m);
  void AnotaUsuario(const UsuarioVirtual& u);
  std::string ProximoNsr() const;
  void GuardaMarcacao(MarcacaoVirtual m);
  // Journals an operation's own records with the fiscal record it makes (a register clock's;
  // the other model journals only the operation's), numbered next, in one write; keeps the
  // fiscal record once written. Throws FalhaDeGravacao with nothing kept.
  // `proprios` makes the operation's own records (none when empty); it is called only for a
  // clock that keeps a journal, as Anota's. `momento`: when it happened, if not now.
  using Registros = std::function<std::vector<nlohmann::json>()>;
  void RegistraFiscal(RegistroFiscalVirtual f, const Registros& proprios,
                      std::optional<DataHora> momento = {});
  void GuardaFiscal(RegistroFiscalVirtual f);

  mutable std::mutex mutex_;
  const EModeloRelogio modelo_;
  std::string firmware_;
  CapacidadesVirtuais capacidades_;
  std::function<DataHora()> fonteTempo_;
  int64_t deslocamentoSegundos_ = 0;
  bool habilitado_ = true;
  std::map<std::string, UsuarioVirtual> usuarios_;  // by id, in id order
  std::map<std::pair<std::string, int32_t>, std::string> templates_;
  std::vector<MarcacaoVirtual> log_;
  std::vector<RegistroFiscalVirtual> fiscais_;  // never erased, as a clock's fiscal memory
  int64_t ultimoNsr_ = 0;
  int64_t nsrReservado_ = 0;  // journaled ahead of the NSRs it covers
  std::string identidade_;
  std::unordered_map<std::string, std::string> opcoes_;
  std::unordered_map<int32_t, int32_t> informacoes_;
  EmpregadorVirtual empregador_;
  IdentificacaoRep identificacao_;
  std::optional<PeriodoDeVerao> verao_;  // from opcoes_, kept beside them
  bool veraoRegistrado_ = false;         // as the last type-4 record left it
  int32_t conexoes_ = 0;
  // Faults.
  int32_t linkPerdidoChamadas_ = 0;  // >0: that many calls; <0: until reconnect
  uint64_t geracaoLink_ = 0;         // bumped by a lost link that lasts until reconnect
  struct Falha {
    int32_t codigo;
    int32_t vezes;
    bool lanca;
  };
  std::unordered_map<std::string, Falha> falhas_;
  int32_t lentidaoMs_ = 0;
  std::function<void(int32_t)> espera_;
  std::function<void(const std::string&)> diario_;
  uint64_t geracaoLog_;
};

// The process-wide set of virtual clocks, reachable by "IP:port" or by serial port number.
class RedeVirtual {
 public:
  static RedeVirtual& Instancia();
  void Publica(const std::string& ip, int32_t porta, std::shared_ptr<DispositivoVirtual> d);
  void PublicaSerial(int32_t porta, std::shared_ptr<DispositivoVirtual> d);
  void Retira(const std::string& ip, int32_t porta);
  void RetiraSerial(int32_t porta);
  void Limpa();
  std::shared_ptr<DispositivoVirtual> Procura(const std::string& ip, int32_t porta) const;
  std::shared_ptr<DispositivoVirtual> ProcuraSerial(int32_t porta) const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<DispositivoVirtual>> rede_;
  std::unordered_map<int32_t, std::shared_ptr<DispositivoVirtual>> serial_;
};

// An SDK object talking to a virtual clock found in RedeVirtual.
std::shared_ptr<CZKEM> CriaSdkVirtual();
// An SDK object already connected to `d` (the clock daemon's side of a connection).
std::shared_ptr<CZKEM> CriaSdkVirtualConectado(std::shared_ptr<DispositivoVirtual> d);
// The factory for a control whose clocks are virtual.
FabricaCZKEM FabricaVirtual();

// Adds a punch for a random known user every `intervaloMs` while `host` runs its loop.
// Keep the timer as long as punches should arrive.
std::unique_ptr<Timer> GeraMarcacoes(Host& host, std::shared_ptr<DispositivoVirtual> d,
                                     int32_t intervaloMs, uint32_t semente = 1);

// Sample employees and punches for demos: five employees with passwords and templates, a
// week of punches ending today (Quorvel) or register records (Tarvenix).
void SemeiaExemplo(DispositivoVirtual& d);

// The date-time text SdkGetNextLog delivers for a punch.
std::string TextoMarcacao(const MarcacaoVirtual& m);

}  // namespace quorvel::sdk
