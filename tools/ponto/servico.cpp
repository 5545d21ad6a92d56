// ponto servico: the collector service. It runs until SIGTERM or Ctrl-C: publishes a heartbeat,
// takes the lease of its share of the clocks (the database decides who holds which clock, so
// several services on one PostgreSQL divide the clocks and take over those of a service that
// died), connects the clocks it holds, reconciles each one by an incremental collection (at
// start, on reconnect, and every few minutes, so punches made while nobody was collecting are
// fetched), then keeps the store current from monitoring. The store may go away and come back:
// the service reopens it and resumes, and stops talking to its clocks before leases it cannot
// renew run out. One log line per event.
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <ctime>
#include <iostream>
#include <map>
#include <mutex>
#include <set>

#include "banco.h"
#include "coletor.h"
#include "partilha.h"
#include "saida.h"
#include "systemd.h"
#include "web/painel.h"

namespace ponto {

using namespace quorvel;
using armazem::AgoraUtc;
using armazem::Armazem;
using Cronometro = std::chrono::steady_clock;

namespace {

// Monitored punches kept per clock while the store is away; past this the service relies on the
// reconciliation that follows the store's return (the clock keeps every punch meanwhile).
constexpr size_t kPendentesMaximo = 100000;
// How long before a lease that cannot be renewed runs out the service stops using its clock.
constexpr auto kFolgaArrendamento = std::chrono::milliseconds(1500);
constexpr auto kEsperaBancoMaxima = std::chrono::seconds(4);
// Services started together (a site's machines booting) see each other's heartbeat before the
// first division of the clocks: without this wait the first one up takes every clock and then
// hands two thirds of them over, each connected twice.
constexpr auto kEsperaPelosOutros = std::chrono::seconds(2);
// A control opens one link per tick of its connection timer (ten a second): the service divides
// its clocks among controls of at most this many, so a site of hundreds comes up in seconds.
constexpr size_t kRelogiosPorControle = 40;
// A register clock's employees are read back whole this often (for the CPF of each punch).
constexpr auto kReleituraDeFuncionarios = std::chrono::minutes(15);

// Seconds from a UTC text the store wrote ("aaaa-mm-ddThh:mm:ssZ") to now; nothing for another.
std::optional<double> SegundosDesde(const std::string& utc) {
  std::tm tm{};
  const char* fim = strptime(utc.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
  if (!fim || *fim) return std::nullopt;
  const std::time_t quando = timegm(&tm);
  return std::difftime(std::time(nullptr), quando);
}

// One event, one line: the component's descriptions end their message at CR LF (class and
// method follow), and a database's messages span lines of their own.
std::string Linha(const std::string& texto) {
  std::string r;
  for (char c : texto.substr(0, texto.find("\r\n"))) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    if (c == ' ' && (r.empty() || r.back() == ' ')) continue;
    r.push_back(c);
  }
  while (!r.empty() && r.back() == ' ') r.pop_back();
  return r;
}

// The "<N>" priority journald reads at the start of a line of a service's stderr.
class PrioridadeDoJournal final : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg& msg, const std::tm&,
              spdlog::memory_buf_t& dest) override {
    static constexpr const char* kPrioridades[] = {"<7>", "<7>", "<6>", "<4>", "<3>", "<2>", "<6>"};
    const char* p = kPrioridades[std::min<int>(msg.level, 6)];
    dest.append(p, p + 3);
  }
  std::unique_ptr<custom_flag_formatter> clone() const override {
    return std::make_unique<PrioridadeDoJournal>();
  }
};

std::shared_ptr<spdlog::logger> CriaLog(const std::string& nome) {
  // Thread-safe: the web page's threads log through it too.
  auto log = spdlog::stderr_logger_mt("ponto-servico-" + nome);
  if (systemd::NoJournal()) {
    // The journal stamps the time itself and files each line under its priority.
    auto formato = std::make_unique<spdlog::pattern_formatter>();
    formato->add_flag<PrioridadeDoJournal>('*').set_pattern("%*%l %v");
    log->set_formatter(std::move(formato));
  } else {
    log->set_pattern("%Y-%m-%d %H:%M:%S.%e %^%l%$ %v");
  }
  log->flush_on(spdlog::level::trace);
  return log;
}

}  // namespace

Tabela TabelaDeEstados(const std::vector<armazem::EstadoRelogio>& estados, Formato f) {
  Tabela t{{"Relógio", "Conectado", "Desde", "Última marcação", "Gravada em", "Hoje", "Último erro",
            "Coletor", "Arrendamento", "Restante (s)", "Atualizado em"},
           {"relogio", "conectado", "conectado_desde", "ultima_marcacao", "gravada_em",
            "marcacoes_hoje", "ultimo_erro", "arrendado_por", "arrendamento_vivo",
            "arrendamento_segundos", "atualizado_em"},
           {}};
  const bool paraPessoas = f == Formato::Tabela;
  for (const auto& e : estados) {
    const bool vivo = e.ArrendamentoVivo();
    char restante[32] = "";
    if (vivo) std::snprintf(restante, sizeof restante, "%.0f", e.segundosRestantes);
    // What a collector that is gone said about a clock is no longer known to be true.
    const std::string conectado = vivo ? (e.conectado ? "sim" : "não") : "";
    t.linhas.push_back(
        {std::to_string(e.relogio), paraPessoas && !vivo ? "?" : conectado,
         vivo ? DataDoBanco(e.conectadoDesde, f) : "", DataDoBanco(e.ultimaMarcacao, f),
         DataDoBanco(e.gravadaEm, f), std::to_string(e.marcacoesHoje), e.ultimoErro,
         vivo ? e.arrendadoPor : "",
         paraPessoas ? (vivo ? "ativo" : "nenhum coletor ativo") : (vivo ? "sim" : "não"), restante,
         DataDoBanco(e.atualizadoEm, f)});
  }
  return t;
}

namespace {

int MostraEstado(const Opcoes& o) {
  const Formato f = o.Valor("--formato") ? FormatoDe(*o.Valor("--formato")) : Formato::Tabela;
  // 0: no alert for a disconnected clock (a clock with no live collector always alerts).
  const long long alerta = o.Tem("--alerta") ? o.Numero("--alerta", 1, 86400 * 365) : 0;
  auto banco = Armazem::Abre(EnderecoBanco(o), NomeColetor(o), armazem::Acesso::Leitura);
  const auto estados = banco->Estados(true);
  const Tabela t = TabelaDeEstados(estados, f);
  int codigo = kOk;
  std::vector<std::string> alertas;
  for (const auto& e : estados) {
    if (!e.ArrendamentoVivo()) {
      alertas.push_back("relógio " + std::to_string(e.relogio) + ": nenhum coletor ativo");
    } else if (!e.conectado && alerta > 0) {
      const auto desde = SegundosDesde(e.conectadoDesde);
      if (desde && *desde > static_cast<double>(alerta))
        alertas.push_back("relógio " + std::to_string(e.relogio) + ": desconectado há " +
                          std::to_string(static_cast<long long>(*desde)) + " s");
    }
  }
  Imprime(std::cout, t, f, o.Tem("--bom"));
  for (const auto& c : banco->Coletores()) {
    // A heartbeat comes several times per lease period: one older than that is a stop.
    if (!c.Vivo())
      std::cerr << "Coletor " << c.nome << " parado: sem sinal há "
                << static_cast<long long>(c.segundosDesdePulso) << " s.\n";
  }
  for (const auto& a : alertas) std::cerr << "Alerta: " << a << ".\n";
  if (!alertas.empty()) codigo = kInacessivel;
  return codigo;
}

struct EstadoLocal {
  std::shared_ptr<Relogio> relogio;
  bool arrendado = false, conectado = false, monitorando = false;
  bool reconciliar = false;  // at once: just connected, or a fingerprint punch seen
  bool resolvido = false;    // reconciled once, or found unreachable: counts for readiness
  Cronometro::time_point ultimaReconciliacao{}, proximaConexao{}, proximoEstado{};
  // When the clock's employees were last read back whole (for the CPF each punch carries).
  std::optional<Cronometro::time_point> funcionariosLidos;
  // Until when the lease is surely ours: measured from before the call that renewed it.
  Cronometro::time_point arrendadoAte{};
  std::optional<Cronometro::time_point> livreDesde;  // seen with no live lease since
  std::vector<std::shared_ptr<Marcacao>> pendentes;  // register punches raised, not yet stored
  std::optional<DataHora> ultima;
  std::string conectadoDesde, gravadaEm;  // UTC
  std::string ultimoErro;
};

class Coletor {
 public:
  Coletor(const Opcoes& o, Sessao& s)
      : s_(s),
        endereco_(EnderecoBanco(o)),
        nome_(NomeColetor(o)),
        banco_(Armazem::Abre(endereco_, nome_)),
        validade_(o.Tem("--arrendamento") ? o.Numero("--arrendamento", 3, 3600) : 15),
        reconciliacao_(o.Tem("--reconciliar-a-cada") ? o.Numero("--reconciliar-a-cada", 1, 86400)
                                                     : 300),
        watchdog_(systemd::IntervaloWatchdog()) {
    log_ = CriaLog(banco_->Coletor());
    for (const auto& r : s_.Relogios()) estados_[r->Codigo()].relogio = r;
    faixas_.resize(s_.Controles().size());
    for (const auto& controle : s_.Controles()) {
      auto& ev = controle->Eventos();
      ev.RelogioConectado = [this](int16_t c) { AoConectar(c); };
      ev.ErroConexaoRelogio = [this](int16_t c) { AoFalharConexao(c); };
      ev.MarcacaoRecolhida = [this](const std::shared_ptr<Marcacao>& m) { AoReceber(m); };
      ev.ErroMonitoracao = [this](int16_t n, const std::string& d) { AoErroMonitoracao(n, d); };
    }
  }

  // From the web page's threads: clock `codigo` reconciled at the next tick. Empty when taken;
  // else why not, for the person who asked.
  std::string PedeAtualizacao(int16_t codigo) {
    std::lock_guard trava(mPedidos_);
    const std::string nome = "relógio " + std::to_string(codigo);
    const auto it = situacao_.find(codigo);
    if (it == situacao_.end()) return nome + " não é coletado por este serviço.";
    if (!it->second.first)
      return nome + " está com outro coletor: peça no painel do serviço que o coleta.";
    if (!it->second.second) return nome + " está desconectado; o serviço tenta reconectar sozinho.";
    pedidos_.insert(codigo);
    return "";
  }

  void Anota(const std::string& linha) { log_->info("{}", linha); }

  int Roda() {
    log_->info(
        "serviço iniciado: coletor {}, {} {}, arrendamento de {} s, reconciliação a "
        "cada {} s",
        banco_->Coletor(), estados_.size(), estados_.size() == 1 ? "relógio" : "relógios",
        validade_, reconciliacao_);
    Protege([&] { banco_->Pulsa(Validade()); });
    proximaRodada_ = Cronometro::now() + kEsperaPelosOutros;
    auto trabalho = s_.Loop().CriaTimer([this] { Trabalha(); });
    trabalho->Intervalo(200);
    trabalho->Habilitado(true);
    logo_ = s_.Loop().CriaTimer([this] { GravaLogo(); });
    logo_->Intervalo(1);
    s_.Loop().RodaAte([] { return Sessao::Interrompido(); }, std::chrono::hours(24 * 365 * 10));
    trabalho->Habilitado(false);
    logo_.reset();
    Encerra();
    return kOk;
  }

 private:
  std::chrono::seconds Validade() const { return std::chrono::seconds(validade_); }

  void Trabalha() noexcept {
    const auto agora = Cronometro::now();
    // The watchdog is fed from the tick: a service whose loop hangs is restarted by systemd.
    if (watchdog_.count() > 0 && agora >= proximoWatchdog_) {
      systemd::Notifica("WATCHDOG=1");
      proximoWatchdog_ = agora + watchdog_ / 2;
    }
    if (ocupado_) {
      // A collection yields to the loop, which ticks this timer again: only the leases of the
      // clocks held are kept alive meanwhile, so a long collection never outlives its lease.
      if (!bancoFora_ && agora >= proximaRodada_) Protege([&] { RenovaMantidos(agora); });
      return;
    }
    ocupado_ = true;
    AtendePedidos();
    if (bancoFora_ && agora >= proximaTentativaBanco_) ReabreBanco(agora);
    if (!bancoFora_) {
      Protege([&] {
        if (agora >= proximaRodada_) Rodada(agora);
        Conecta(agora);
        for (auto& [codigo, e] : estados_) {
          if (Sessao::Interrompido() || bancoFora_) break;
          CuidaDoRelogio(codigo, e, agora);
        }
        AnunciaProntidao();
      });
    }
    if (bancoFora_) SoltaVencidos(Cronometro::now());
    PublicaSituacao();
    ocupado_ = false;
  }

  // A clock's share of a tick: what monitoring raised is stored, a reconciliation that is due
  // runs, and the clock's state is published when due.
  void CuidaDoRelogio(int16_t codigo, EstadoLocal& e, Cronometro::time_point agora) {
    GravaPendentes(codigo, e);
    if (e.conectado && e.arrendado &&
        (e.reconciliar || agora - e.ultimaReconciliacao >= std::chrono::seconds(reconciliacao_)))
      Reconcilia(codigo, e);
    if (e.arrendado && agora >= e.proximoEstado) PublicaEstado(codigo, e);
  }

  // What monitoring raised is stored right after the monitoring tick that raised it, not at
  // this service's next tick (up to 200 ms later): the time from a punch to its row is what a
  // site watches. Only the clocks with something to store are visited. A tick in progress (a
  // collection that yielded) or a store that is away leaves it to the next tick.
  void GravaLogo() {
    if (logo_) logo_->Habilitado(false);
    if (ocupado_ || bancoFora_) return;
    ocupado_ = true;
    Protege([&] {
      const auto agora = Cronometro::now();
      for (auto& [codigo, e] : estados_) {
        if (Sessao::Interrompido() || bancoFora_) break;
        if (!e.pendentes.empty() || e.reconciliar) CuidaDoRelogio(codigo, e, agora);
      }
    });
    ocupado_ = false;
  }

  // ---- The web page's requests ------------------------------------------------------------

  void AtendePedidos() {
    std::set<int16_t> pedidos;
    {
      std::lock_guard trava(mPedidos_);
      pedidos.swap(pedidos_);
    }
    for (int16_t codigo : pedidos) {
      auto it = estados_.find(codigo);
      if (it == estados_.end() || !it->second.arrendado || !it->second.conectado) continue;
      it->second.reconciliar = true;
      log_->info("relógio {}: atualização pedida pelo painel", codigo);
    }
  }

  void PublicaSituacao() {
    std::lock_guard trava(mPedidos_);
    for (const auto& [codigo, e] : estados_) situacao_[codigo] = {e.arrendado, e.conectado};
  }

  // Runs a step of the tick; a failure of the store starts an outage, any other is logged.
  template <class F>
  void Protege(F&& passo) noexcept {
    try {
      passo();
    } catch (const Erro& ex) {
      if (ex.Numero() == erro::kArmazem)
        PerdeBanco(ex);
      else
        log_->error("{}", Linha(ex.Descricao()));
    } catch (const std::exception& ex) {
      log_->error("{}", Linha(ex.what()));
    }
  }

  // ---- The store comes and goes ----------------------------------------------------------

  void PerdeBanco(const Erro& ex) {
    if (!bancoFora_) {
      log_->error("banco de dados inacessível ({}); reconectando", Linha(ex.Descricao()));
      foraDesde_ = Cronometro::now();
      esperaBanco_ = std::chrono::milliseconds(250);
    }
    // The broken connection is not used again; it is replaced when the store is back, not
    // destroyed now: a collection that yielded to this tick may still hold it.
    bancoFora_ = true;
    proximaTentativaBanco_ = Cronometro::now() + esperaBanco_;
  }

  void ReabreBanco(Cronometro::time_point agora) {
    try {
      banco_ = Armazem::Abre(endereco_, nome_);
    } catch (const Erro&) {
      esperaBanco_ = std::min<std::chrono::milliseconds>(esperaBanco_ * 2, kEsperaBancoMaxima);
      proximaTentativaBanco_ = agora + esperaBanco_;
      return;
    }
    bancoFora_ = false;
    const double segundos = std::chrono::duration<double>(agora - foraDesde_).count();
    log_->info("banco de dados de volta após {:.1f} s; retomando", segundos);
    // Leases again at once; every clock reconciled from its stored cursor, so what arrived
    // while the store was away is stored, once.
    proximaRodada_ = {};
    for (auto& [codigo, e] : estados_) {
      e.reconciliar = true;
      e.proximoEstado = {};
    }
  }

  // Leases that cannot be renewed: the clock is let go before its lease runs out, so another
  // collector that takes it never shares it with this one. Punches raised and not stored stay.
  void SoltaVencidos(Cronometro::time_point agora) {
    for (auto& [codigo, e] : estados_) {
      if (!e.arrendado || agora + kFolgaArrendamento < e.arrendadoAte) continue;
      log_->warn("relógio {}: arrendamento não renovado (sem banco de dados); coleta suspensa",
                 codigo);
      Solta(codigo, e, /*manterPendentes=*/true);
    }
  }

  // ---- Heartbeat, leases and the sharing of the clocks -----------------------------------

  void RenovaMantidos(Cronometro::time_point agora) {
    banco_->Pulsa(Validade());
    for (auto& [codigo, e] : estados_) {
      if (!e.arrendado) continue;
      if (banco_->Arrenda(codigo, Validade())) {
        e.arrendadoAte = agora + Validade();
      } else {
        log_->warn("relógio {}: arrendado por outro coletor; deixando o relógio", codigo);
        Solta(codigo, e);
      }
    }
    proximaRodada_ = agora + ProximaRodadaEm();
  }

  std::chrono::milliseconds ProximaRodadaEm() const {
    return std::chrono::milliseconds(std::max<long long>(1000, validade_ * 1000 / 3));
  }

  void Rodada(Cronometro::time_point agora) {
    RenovaMantidos(agora);
    // Who is alive, who holds what.
    size_t vivos = 0;
    std::map<std::string, size_t> porColetor;
    for (const auto& c : banco_->Coletores())
      if (c.Vivo()) {
        ++vivos;
        porColetor[c.nome];
      }
    std::map<int16_t, armazem::EstadoRelogio> estados;
    auto proxima = agora + ProximaRodadaEm();
    for (auto& e : banco_->Estados(false)) {
      if (e.ArrendamentoVivo()) {
        if (porColetor.count(e.arrendadoPor)) ++porColetor[e.arrendadoPor];
        // A lease of another collector is looked at again right after it runs out.
        if (e.arrendadoPor != nome_)
          proxima = std::min(proxima, agora + std::chrono::milliseconds(static_cast<long long>(
                                                  e.segundosRestantes * 1000 + 200)));
      }
      estados[e.relogio] = std::move(e);
    }
    partilha::Visao v;
    v.relogios = estados_.size();
    v.servicosVivos = std::max<size_t>(vivos, 1);
    const size_t cota = partilha::Cota(v.relogios, v.servicosVivos);
    for (const auto& [nome, quantos] : porColetor)
      if (nome != nome_ && quantos < cota) v.espacoDosOutros += cota - quantos;
    for (const auto& [codigo, e] : estados_) v.mantidos += e.arrendado ? 1 : 0;

    // Past the share while others have room: the clocks with the highest codes go first. Not
    // a clock whose connection is on its way: the control would open it after the lease was
    // let go, and the next holder's link would meet this one's at the clock (it waits for the
    // next round, once the attempt has answered).
    size_t deixar = partilha::QuantosDeixar(v);
    for (auto it = estados_.rbegin(); it != estados_.rend() && deixar > 0; ++it) {
      auto& [codigo, e] = *it;
      if (!e.arrendado || codigo == faixas_[s_.Faixa(codigo)].conectando) continue;
      log_->info("relógio {}: deixado para outro coletor (cota de {} com {} coletores)", codigo,
                 cota, v.servicosVivos);
      e.conectado = false;
      PublicaEstado(codigo, e);
      Solta(codigo, e);
      banco_->Libera(codigo);
      --v.mantidos;
      --deixar;
    }

    for (auto& [codigo, e] : estados_) {
      if (e.arrendado) continue;
      const auto estado = estados.find(codigo);
      if (estado != estados.end() && estado->second.ArrendamentoVivo()) {
        e.livreDesde.reset();
        continue;
      }
      if (!e.livreDesde) e.livreDesde = agora;
      const double livre = std::chrono::duration<double>(agora - *e.livreDesde).count();
      if (!partilha::Toma(v, livre, static_cast<double>(validade_))) continue;
      if (!banco_->Arrenda(codigo, Validade())) continue;
      log_->info("relógio {}: assumido por este coletor", codigo);
      e.arrendado = true;
      e.arrendadoAte = agora + Validade();
      e.livreDesde.reset();
      e.proximaConexao = {};
      e.proximoEstado = {};
      e.conectadoDesde = AgoraUtc();
      e.resolvido = false;
      ++v.mantidos;
    }
    proximaRodada_ = std::max(proxima, agora + std::chrono::milliseconds(200));
    primeiraRodada_ = true;
  }

  // READY=1 once every clock this service took has been reconciled (or found unreachable).
  void AnunciaProntidao() {
    if (pronto_ || !primeiraRodada_) return;
    for (const auto& [codigo, e] : estados_)
      if (e.arrendado && !e.resolvido) return;
    pronto_ = true;
    systemd::Notifica("READY=1");
    log_->info("pronto: primeira reconciliação concluída");
  }

  // ---- Clocks -----------------------------------------------------------------------------

  // One connection request at a time per control: a control makes only the last request of
  // a tick. The controls (one per kRelogiosPorControle clocks) open theirs side by side.
  void Conecta(Cronometro::time_point agora) {
    size_t livres = 0;
    for (auto& f : faixas_) {
      if (f.conectando != 0 && agora >= f.prazo) f.conectando = 0;  // no answer: the next one
      livres += f.conectando == 0 ? 1 : 0;
    }
    for (auto& [codigo, e] : estados_) {
      if (livres == 0) return;
      // A monitored clock whose link fell is reopened by the monitoring itself.
      if (!e.arrendado || e.conectado || e.monitorando || agora < e.proximaConexao) continue;
      Faixa& f = faixas_[s_.Faixa(codigo)];
      if (f.conectando != 0) continue;
      f.conectando = codigo;
      f.prazo = agora + std::chrono::seconds(60);
      --livres;
      e.proximaConexao = agora + std::chrono::seconds(10);
      s_.Controle(codigo).ConectarRelogio(codigo);
    }
  }

  // A control opens one link per tick of its own: the next request goes in as soon as one
  // answers, not at this service's next tick, so each control brings up ten clocks a second.
  void ProximaConexao() {
    // Not from inside this service's own tick (a collection yielding runs the controls' ticks):
    // the tick in progress asks for the next ones itself.
    if (bancoFora_ || ocupado_) return;
    Protege([&] { Conecta(Cronometro::now()); });
  }

  void MudaConexao(EstadoLocal& e, bool conectado) {
    if (e.conectado != conectado) e.conectadoDesde = AgoraUtc();
    e.conectado = conectado;
    e.proximoEstado = {};
  }

  void AoConectar(int16_t c) {
    if (auto& f = faixas_[s_.Faixa(c)]; f.conectando == c) f.conectando = 0;
    Conectou(c);
    ProximaConexao();
  }

  void Conectou(int16_t c) {
    auto it = estados_.find(c);
    if (it == estados_.end()) return;
    EstadoLocal& e = it->second;
    if (!e.arrendado) {
      // Asked for before the clock was let go: no link to a clock this service does not hold.
      Protege([&] { s_.Controle(c).DesconectarRelogio(c); });
      return;
    }
    const bool voltou = e.monitorando;  // monitoring reopened a lost link
    MudaConexao(e, true);
    e.reconciliar = true;
    e.ultimoErro.clear();
    log_->info("relógio {} ({}): {}", c, Sessao::Onde(*e.relogio),
               voltou ? "conexão restabelecida" : "conectado");
  }

  void AoFalharConexao(int16_t c) {
    if (auto& f = faixas_[s_.Faixa(c)]; f.conectando == c) f.conectando = 0;
    NaoConectou(c);
    ProximaConexao();
  }

  void NaoConectou(int16_t c) {
    auto it = estados_.find(c);
    if (it == estados_.end()) return;
    EstadoLocal& e = it->second;
    bool tentarDeNovo = false;
    const std::string motivo = s_.MotivoDaFalha(c, tentarDeNovo);
    if (tentarDeNovo) {
      log_->info("relógio {}: modelo {} anunciado pelo relógio", c,
                 NomeModelo(e.relogio->ModeloRelogio()));
      e.proximaConexao = {};
      return;
    }
    MudaConexao(e, false);
    e.ultimoErro = motivo;
    e.resolvido = true;
    log_->warn("{}; nova tentativa em 10 s", motivo.substr(0, motivo.size() - 1));
  }

  void AoReceber(const std::shared_ptr<Marcacao>& m) {
    auto it = estados_.find(m->CodigoRelogio());
    if (it == estados_.end()) return;
    EstadoLocal& e = it->second;
    if (logo_) logo_->Habilitado(true);
    if (e.relogio->ModeloRelogio() == EModeloRelogio_Tarvenix) {
      if (e.pendentes.size() < kPendentesMaximo) e.pendentes.push_back(m);
      // Past the bound the next reconciliation fetches them from the clock.
      else
        e.reconciliar = true;
    } else {
      // A fingerprint punch's identity needs its place in the log: an incremental collection
      // stores it.
      e.reconciliar = true;
    }
  }

  // Which clock an error was about comes from the control, never from the error's text.
  void AoErroMonitoracao(int16_t numero, const std::string& descricao) {
    bool deUmRelogio = false;
    for (auto& [codigo, e] : estados_) {
      if (!e.monitorando || !e.conectado || !s_.Controle(codigo).MonitoracaoSemConexao(codigo))
        continue;
      deUmRelogio = true;
      MudaConexao(e, false);
      e.ultimoErro = "conexão perdida";
      log_->warn("relógio {} ({}): conexão perdida; reconectando", codigo,
                 Sessao::Onde(*e.relogio));
    }
    if (!deUmRelogio) log_->warn("monitoração: erro {}: {}", numero, Linha(descricao));
  }

  void GravaPendentes(int16_t codigo, EstadoLocal& e) {
    if (e.pendentes.empty()) return;
    auto pendentes = std::move(e.pendentes);
    e.pendentes.clear();
    ResultadoColeta r;
    try {
      r = GravaMonitoradas(*banco_, codigo, pendentes, [&](int64_t depois, int64_t ate) {
        return OutrosRegistrosDoRelogio(s_.Controle(codigo), codigo, depois, ate);
      });
    } catch (...) {
      // Kept for the store's return, ahead of what arrives meanwhile.
      pendentes.insert(pendentes.end(), e.pendentes.begin(), e.pendentes.end());
      e.pendentes = std::move(pendentes);
      throw;
    }
    Registra(codigo, e, r, "monitoração");
    AtualizaFuncionarios(s_.Controle(codigo), codigo, *banco_, r.pis, false);
  }

  void Reconcilia(int16_t codigo, EstadoLocal& e) {
    e.reconciliar = false;
    e.ultimaReconciliacao = Cronometro::now();
    try {
      const auto r = ColetaNovas(s_.Controle(codigo), *e.relogio, *banco_);
      if (!r) return;  // stopping
      if (r->logRecomecado)
        log_->warn("relógio {}: as marcações foram apagadas no relógio; lendo desde o início",
                   codigo);
      Registra(codigo, e, *r, "coleta incremental");
      e.resolvido = true;
      if (e.relogio->ModeloRelogio() == EModeloRelogio_Tarvenix) {
        // Read back whole at the first reconciliation and then every kReleituraDeFuncionarios
        // (and whenever a punch names an employee the store does not know): a CPF corrected
        // on the clock reaches the store within that period, without a read of every employee
        // at each reconciliation of every clock, which held the service's loop long enough,
        // on a loaded machine, to keep it from letting a clock go in time.
        const auto agora = Cronometro::now();
        const bool todos =
            !e.funcionariosLidos || agora - *e.funcionariosLidos >= kReleituraDeFuncionarios;
        if (todos) e.funcionariosLidos = agora;
        if (const size_t n =
                AtualizaFuncionarios(s_.Controle(codigo), codigo, *banco_, r->pis, todos);
            n > 0 && r->novas > 0)
          log_->info("relógio {}: {} funcionários lidos para o cadastro PIS/CPF", codigo, n);
      }
      if (!e.monitorando && e.conectado && e.arrendado) {
        s_.Controle(codigo).IniciaMonitoracaoRelogio(codigo);
        e.monitorando = true;
        log_->info("relógio {}: monitorando", codigo);
      }
    } catch (const Erro& ex) {
      if (ex.Numero() == erro::kArmazem) {
        e.reconciliar = true;  // again once the store is back
        throw;
      }
      e.ultimoErro = "erro " + std::to_string(ex.Numero()) + ": " + Linha(ex.Descricao());
      e.proximoEstado = {};
      e.resolvido = true;
      log_->warn("relógio {}: coleta incompleta ({}); o que chegou está gravado", codigo,
                 e.ultimoErro);
      if (ex.Numero() == erro::kRelogioDesconectado && !e.monitorando) {
        MudaConexao(e, false);
        e.proximaConexao = Cronometro::now() + std::chrono::seconds(3);
      }
    }
  }

  void Registra(int16_t codigo, EstadoLocal& e, const ResultadoColeta& r, const char* como) {
    if (r.ultima) e.ultima = r.ultima;
    if (r.novas > 0) {
      e.gravadaEm = AgoraUtc();
      log_->info("relógio {}: {} ({})", codigo,
                 r.novas == 1 ? std::string("1 marcação nova gravada")
                              : std::to_string(r.novas) + " marcações novas gravadas",
                 como);
      e.proximoEstado = {};
    }
  }

  void PublicaEstado(int16_t codigo, EstadoLocal& e) {
    armazem::EstadoRelogio estado;
    estado.relogio = codigo;
    estado.conectado = e.conectado;
    estado.conectadoDesde = e.conectadoDesde;
    estado.ultimaMarcacao = e.ultima ? e.ultima->FormataIso() : "";
    estado.gravadaEm = e.gravadaEm;
    estado.ultimoErro = e.ultimoErro;
    banco_->GravaEstado(estado);
    e.proximoEstado = Cronometro::now() + std::chrono::seconds(30);
  }

  void Solta(int16_t codigo, EstadoLocal& e, bool manterPendentes = false) {
    try {
      if (e.monitorando) s_.Controle(codigo).PararMonitoracaoRelogio(codigo);
      // Also a clock whose monitored link fell: the control still holds it as connected.
      s_.Controle(codigo).DesconectarRelogio(codigo);
    } catch (const Erro& ex) {
      log_->warn("relógio {}: {}", codigo, Linha(ex.Descricao()));
    }
    e.arrendado = e.monitorando = false;
    MudaConexao(e, false);
    e.livreDesde.reset();
    if (!manterPendentes) e.pendentes.clear();
  }

  void Encerra() noexcept {
    log_->info("encerrando");
    systemd::Notifica("STOPPING=1");
    for (auto& [codigo, e] : estados_) {
      try {
        if (!bancoFora_) GravaPendentes(codigo, e);
        if (!e.arrendado) continue;
        Solta(codigo, e);
        if (bancoFora_) continue;
        PublicaEstado(codigo, e);
        banco_->Libera(codigo);
      } catch (const std::exception& ex) {
        log_->error("relógio {}: {}", codigo, Linha(ex.what()));
      }
    }
    try {
      if (!bancoFora_) banco_->Despede();
    } catch (const std::exception& ex) {
      log_->error("{}", Linha(ex.what()));
    }
    log_->info("serviço encerrado");
  }

  Sessao& s_;
  const std::string endereco_, nome_;
  std::unique_ptr<Armazem> banco_;
  long long validade_, reconciliacao_;
  std::shared_ptr<spdlog::logger> log_;
  std::map<int16_t, EstadoLocal> estados_;
  // Each control's connection on its way, and until when its answer is waited for.
  struct Faixa {
    int16_t conectando = 0;
    Cronometro::time_point prazo{};
  };
  std::vector<Faixa> faixas_;
  Cronometro::time_point proximaRodada_{};
  std::unique_ptr<Timer> logo_;  // fires once, right after a monitoring tick raised punches
  bool ocupado_ = false;
  bool primeiraRodada_ = false, pronto_ = false;
  // The store's outages.
  bool bancoFora_ = false;
  Cronometro::time_point foraDesde_{}, proximaTentativaBanco_{};
  std::chrono::milliseconds esperaBanco_{250};
  // What the web page may ask for (held, connected) and what it asked for, across threads.
  std::mutex mPedidos_;
  std::map<int16_t, std::pair<bool, bool>> situacao_;
  std::set<int16_t> pedidos_;
  // systemd's watchdog.
  std::chrono::microseconds watchdog_;
  Cronometro::time_point proximoWatchdog_{};
};

}  // namespace

int Servico(const Opcoes& o) {
  if (o.Tem("--estado")) {
    if (o.Tem("--web") || o.Tem("--web-token"))
      throw ErroDeUso("--estado não serve a página; use ponto web --web ENDEREÇO:PORTA.");
    return MostraEstado(o);
  }
  // The page's address and token are checked before any clock is touched.
  std::optional<web::Configuracao> pagina;
  if (o.Tem("--web") || o.Tem("--web-token")) pagina = web::ConfiguracaoDe(o);
  Sessao s(o, kRelogiosPorControle);
  // The embedded clocks record a punch every two seconds, so the service has work to show.
  std::vector<std::unique_ptr<Timer>> geradores;
  uint32_t semente = 11;
  for (const auto& d : s.Embutidos())
    geradores.push_back(sdk::GeraMarcacoes(s.Loop(), d, 2000, semente++));
  Coletor c(o, s);
  std::unique_ptr<web::Painel> painel;  // stops before the collector it asks things of
  if (pagina) {
    for (const auto& r : s.Relogios())
      pagina->relogios.push_back({r->Codigo(), NomeModelo(r->ModeloRelogio()), Sessao::Onde(*r)});
    pagina->atualizar = [&c](int16_t codigo) { return c.PedeAtualizacao(codigo); };
    pagina->registra = [&c](const std::string& linha) { c.Anota(linha); };
    painel = std::make_unique<web::Painel>(std::move(*pagina));
    c.Anota("painel web em " + painel->Url());
  }
  return c.Roda();
}

}  // namespace ponto
