// ponto servico: the collector service. It runs until SIGTERM or Ctrl-C: takes the lease of
// every clock it can (the database decides who holds which clock, so several services on one
// PostgreSQL share the clocks and take over those of a service that died), connects the
// clocks it holds, reconciles each one by an incremental collection (at start, on reconnect,
// and every few minutes, so punches made while nobody was collecting are fetched), then keeps
// the store current from monitoring. One log line per event.
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <deque>
#include <iostream>
#include <map>
#include <regex>

#include "banco.h"
#include "coletor.h"
#include "saida.h"

namespace ponto {

using namespace quorvel;
using armazem::Armazem;
using Cronometro = std::chrono::steady_clock;

namespace {

struct EstadoLocal {
  std::shared_ptr<Relogio> relogio;
  bool arrendado = false, conectado = false, monitorando = false;
  bool reconciliar = false;  // at once: just connected, or a fingerprint punch seen
  Cronometro::time_point ultimaReconciliacao{}, proximaConexao{}, proximoEstado{};
  std::vector<std::shared_ptr<Marcacao>> pendentes;  // register punches raised, not yet stored
  std::optional<DataHora> ultima;
  std::string ultimoErro;
};

int MostraEstado(const Opcoes& o) {
  auto banco = Armazem::Abre(EnderecoBanco(o), NomeColetor(o));
  const Formato f = o.Valor("--formato") ? FormatoDe(*o.Valor("--formato")) : Formato::Tabela;
  Tabela t{{"Relógio", "Conectado", "Última marcação", "Último erro", "Coletor", "Atualizado em",
            "Arrendado por", "Arrendamento (s)"},
           {"relogio", "conectado", "ultima_marcacao", "ultimo_erro", "coletor", "atualizado_em",
            "arrendado_por", "arrendamento_segundos"},
           {}};
  for (const auto& e : banco->Estados()) {
    char restante[32] = "";
    if (!e.arrendadoPor.empty())
      std::snprintf(restante, sizeof restante, "%.0f", e.segundosRestantes);
    t.linhas.push_back({std::to_string(e.relogio), e.conectado ? "sim" : "não", e.ultimaMarcacao,
                        e.ultimoErro, e.coletor, e.atualizadoEm, e.arrendadoPor, restante});
  }
  Imprime(std::cout, t, f, o.Tem("--bom"));
  return kOk;
}

class Coletor {
 public:
  Coletor(const Opcoes& o, Sessao& s)
      : s_(s),
        banco_(Armazem::Abre(EnderecoBanco(o), NomeColetor(o))),
        validade_(o.Tem("--arrendamento") ? o.Numero("--arrendamento", 3, 3600) : 15),
        reconciliacao_(o.Tem("--reconciliar-a-cada") ? o.Numero("--reconciliar-a-cada", 1, 86400)
                                                     : 300) {
    log_ = spdlog::stderr_logger_st("ponto-servico-" + banco_->Coletor());
    log_->set_pattern("%Y-%m-%d %H:%M:%S.%e %^%l%$ %v");
    log_->flush_on(spdlog::level::trace);
    for (const auto& r : s_.Relogios()) estados_[r->Codigo()].relogio = r;
    auto& ev = s_.Controle().Eventos();
    ev.RelogioConectado = [this](int16_t c) { AoConectar(c); };
    ev.ErroConexaoRelogio = [this](int16_t c) { AoFalharConexao(c); };
    ev.MarcacaoRecolhida = [this](const std::shared_ptr<Marcacao>& m) { AoReceber(m); };
    ev.ErroMonitoracao = [this](int16_t n, const std::string& d) { AoErroMonitoracao(n, d); };
  }

  int Roda() {
    log_->info(
        "serviço iniciado: coletor {}, {} {}, arrendamento de {} s, reconciliação a "
        "cada {} s",
        banco_->Coletor(), estados_.size(), estados_.size() == 1 ? "relógio" : "relógios",
        validade_, reconciliacao_);
    auto trabalho = s_.Loop().CriaTimer([this] { Trabalha(); });
    trabalho->Intervalo(200);
    trabalho->Habilitado(true);
    s_.Loop().RodaAte([] { return Sessao::Interrompido(); }, std::chrono::hours(24 * 365 * 10));
    trabalho->Habilitado(false);
    Encerra();
    return kOk;
  }

 private:
  void Trabalha() noexcept {
    if (ocupado_) return;  // a collection yields to the loop, which ticks this timer again
    ocupado_ = true;
    try {
      const auto agora = Cronometro::now();
      if (agora >= proximaRenovacao_) {
        Renova();
        proximaRenovacao_ = agora + std::chrono::seconds(std::max<long long>(1, validade_ / 3));
      }
      Conecta(agora);
      for (auto& [codigo, e] : estados_) {
        if (Sessao::Interrompido()) break;
        GravaPendentes(codigo, e);
        if (e.conectado && e.arrendado &&
            (e.reconciliar ||
             agora - e.ultimaReconciliacao >= std::chrono::seconds(reconciliacao_)))
          Reconcilia(codigo, e);
        if (e.arrendado && agora >= e.proximoEstado) PublicaEstado(codigo, e);
      }
    } catch (const std::exception& ex) {
      log_->error("{}", Linha(ex.what()));
    }
    ocupado_ = false;
  }

  // Leases: taken, renewed, or found lost (this service stalled past its lease and another
  // took the clock: it lets the clock go).
  void Renova() {
    for (auto& [codigo, e] : estados_) {
      bool nosso = false;
      try {
        nosso = banco_->Arrenda(codigo, std::chrono::seconds(validade_));
      } catch (const Erro& ex) {
        log_->error("relógio {}: arrendamento não renovado: {}", codigo, Linha(ex.Descricao()));
        continue;
      }
      if (nosso && !e.arrendado) {
        log_->info("relógio {}: assumido por este coletor", codigo);
        e.arrendado = true;
        e.proximaConexao = {};
        e.proximoEstado = {};
      } else if (!nosso && e.arrendado) {
        log_->warn("relógio {}: arrendado por outro coletor; deixando o relógio", codigo);
        Solta(codigo, e);
      }
    }
  }

  // One connection request at a time: the control makes only the last request of a tick.
  void Conecta(Cronometro::time_point agora) {
    if (conectando_ != 0) {
      if (agora < prazoConexao_) return;
      conectando_ = 0;  // no answer: try the next one
    }
    for (auto& [codigo, e] : estados_) {
      // A monitored clock whose link fell is reopened by the monitoring itself.
      if (!e.arrendado || e.conectado || e.monitorando || agora < e.proximaConexao) continue;
      conectando_ = codigo;
      prazoConexao_ = agora + std::chrono::seconds(60);
      e.proximaConexao = agora + std::chrono::seconds(10);
      s_.Controle().ConectarRelogio(codigo);
      return;
    }
  }

  void AoConectar(int16_t c) {
    if (c == conectando_) conectando_ = 0;
    auto it = estados_.find(c);
    if (it == estados_.end()) return;
    EstadoLocal& e = it->second;
    const bool voltou = e.monitorando;  // monitoring reopened a lost link
    e.conectado = true;
    e.reconciliar = true;
    e.ultimoErro.clear();
    e.proximoEstado = {};
    log_->info("relógio {} ({}): {}", c, Sessao::Onde(*e.relogio),
               voltou ? "conexão restabelecida" : "conectado");
  }

  void AoFalharConexao(int16_t c) {
    if (c == conectando_) conectando_ = 0;
    auto it = estados_.find(c);
    if (it == estados_.end()) return;
    it->second.ultimoErro = "não foi possível conectar";
    it->second.proximoEstado = {};
    log_->warn("relógio {} ({}): não foi possível conectar; nova tentativa em 10 s", c,
               Sessao::Onde(*it->second.relogio));
  }

  void AoReceber(const std::shared_ptr<Marcacao>& m) {
    auto it = estados_.find(m->CodigoRelogio());
    if (it == estados_.end()) return;
    EstadoLocal& e = it->second;
    if (e.relogio->ModeloRelogio() == EModeloRelogio_Tarvenix) {
      e.pendentes.push_back(m);
    } else {
      // A fingerprint punch's identity needs its place in the log: an incremental collection
      // stores it.
      e.reconciliar = true;
    }
  }

  void AoErroMonitoracao(int16_t numero, const std::string& descricao) {
    static const std::regex kRelogio("rel[oó]gio (-?[0-9]+)");
    std::smatch m;
    const std::string linha = Linha(descricao);
    if (std::regex_search(linha, m, kRelogio)) {
      auto it = estados_.find(static_cast<int16_t>(std::stoi(m[1])));
      if (it != estados_.end() && numero == -43) {
        it->second.conectado = false;
        it->second.ultimoErro = "conexão perdida";
        it->second.proximoEstado = {};
      }
    }
    log_->warn("monitoração: erro {}: {}{}", numero, linha, numero == -43 ? " Reconectando…" : "");
  }

  void GravaPendentes(int16_t codigo, EstadoLocal& e) {
    if (e.pendentes.empty()) return;
    const auto pendentes = std::move(e.pendentes);
    e.pendentes.clear();
    const auto r = GravaMonitoradas(*banco_, codigo, pendentes);
    Registra(codigo, e, r, "monitoração");
    AtualizaFuncionarios(s_.Controle(), codigo, *banco_, r.pis);
  }

  void Reconcilia(int16_t codigo, EstadoLocal& e) {
    e.reconciliar = false;
    e.ultimaReconciliacao = Cronometro::now();
    try {
      const auto r = ColetaNovas(s_.Controle(), *e.relogio, *banco_);
      if (!r) return;  // stopping
      if (r->logRecomecado)
        log_->warn("relógio {}: as marcações foram apagadas no relógio; lendo desde o início",
                   codigo);
      Registra(codigo, e, *r, "coleta incremental");
      if (e.relogio->ModeloRelogio() == EModeloRelogio_Tarvenix)
        if (const size_t n = AtualizaFuncionarios(s_.Controle(), codigo, *banco_, r->pis))
          log_->info("relógio {}: {} funcionários lidos para o cadastro PIS/CPF", codigo, n);
      if (!e.monitorando && e.conectado) {
        s_.Controle().IniciaMonitoracaoRelogio(codigo);
        e.monitorando = true;
        log_->info("relógio {}: monitorando", codigo);
      }
    } catch (const Erro& ex) {
      if (ex.Numero() == erro::kArmazem) throw;
      e.ultimoErro = "erro " + std::to_string(ex.Numero()) + ": " + Linha(ex.Descricao());
      e.proximoEstado = {};
      log_->warn("relógio {}: coleta incompleta ({}); o que chegou está gravado", codigo,
                 e.ultimoErro);
      if (ex.Numero() == -43 && !e.monitorando) {
        e.conectado = false;
        e.proximaConexao = Cronometro::now() + std::chrono::seconds(3);
      }
    }
  }

  void Registra(int16_t codigo, EstadoLocal& e, const ResultadoColeta& r, const char* como) {
    if (r.ultima) e.ultima = r.ultima;
    if (r.novas > 0) {
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
    estado.ultimaMarcacao = e.ultima ? e.ultima->FormataIso() : "";
    estado.ultimoErro = e.ultimoErro;
    try {
      banco_->GravaEstado(estado);
    } catch (const Erro& ex) {
      log_->error("estado do relógio {} não gravado: {}", codigo, Linha(ex.Descricao()));
    }
    e.proximoEstado = Cronometro::now() + std::chrono::seconds(30);
  }

  void Solta(int16_t codigo, EstadoLocal& e) {
    try {
      if (e.monitorando) s_.Controle().PararMonitoracaoRelogio(codigo);
      if (e.conectado) s_.Controle().DesconectarRelogio(codigo);
    } catch (const Erro& ex) {
      log_->warn("relógio {}: {}", codigo, Linha(ex.Descricao()));
    }
    e.arrendado = e.conectado = e.monitorando = false;
    e.pendentes.clear();
  }

  void Encerra() noexcept {
    log_->info("encerrando");
    for (auto& [codigo, e] : estados_) {
      try {
        GravaPendentes(codigo, e);
        if (!e.arrendado) continue;
        e.conectado = false;
        PublicaEstado(codigo, e);
        Solta(codigo, e);
        banco_->Libera(codigo);
      } catch (const std::exception& ex) {
        log_->error("relógio {}: {}", codigo, Linha(ex.what()));
      }
    }
    log_->info("serviço encerrado");
  }

  static std::string Linha(const std::string& d) { return d.substr(0, d.find("\r\n")); }

  Sessao& s_;
  std::unique_ptr<Armazem> banco_;
  long long validade_, reconciliacao_;
  std::shared_ptr<spdlog::logger> log_;
  std::map<int16_t, EstadoLocal> estados_;
  int16_t conectando_ = 0;
  Cronometro::time_point prazoConexao_{}, proximaRenovacao_{};
  bool ocupado_ = false;
};

}  // namespace

int Servico(const Opcoes& o) {
  if (o.Tem("--estado")) return MostraEstado(o);
  Sessao s(o);
  // The embedded clocks record a punch every two seconds, so the service has work to show.
  std::vector<std::unique_ptr<Timer>> geradores;
  uint32_t semente = 11;
  for (const auto& d : s.Embutidos())
    geradores.push_back(sdk::GeraMarcacoes(s.Loop(), d, 2000, semente++));
  Coletor c(o, s);
  return c.Roda();
}

}  // namespace ponto
