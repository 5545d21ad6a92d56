// The virtual clock's state: what a test or a demo sets up, its faults, what it holds.
#include "quorvel/sdk/relogio_virtual.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>
#include <utility>

#include "quorvel/erro.h"
#include "sdk/virtual_interno.h"

namespace quorvel::sdk {

using namespace virtual_interno;

// ---- DispositivoVirtual -------------------------------------------------------------------

DispositivoVirtual::DispositivoVirtual(EModeloRelogio modelo, std::string firmware)
    : modelo_(modelo),
      fonteTempo_(AgoraDoSistema),
      geracaoLog_(std::random_device{}() * 1000003ull) {
  firmware_ = firmware.empty()
                  ? (modelo == EModeloRelogio_Tarvenix ? "2.1.12" : "Ver 6.60 Dez 2026")
                  : std::move(firmware);
  if (modelo_ == EModeloRelogio_Tarvenix) opcoes_["mrpversion"] = firmware_;
}

std::string DispositivoVirtual::Firmware() const {
  std::lock_guard l(mutex_);
  return firmware_;
}

void DispositivoVirtual::DefineFirmware(std::string versao) {
  std::lock_guard l(mutex_);
  firmware_ = std::move(versao);
  if (modelo_ == EModeloRelogio_Tarvenix) opcoes_["mrpversion"] = firmware_;
}

void DispositivoVirtual::DefineCapacidades(CapacidadesVirtuais c) {
  std::lock_guard l(mutex_);
  capacidades_ = c;
}

void DispositivoVirtual::DefineFonteDeTempo(std::function<DataHora()> agora) {
  std::lock_guard l(mutex_);
  fonteTempo_ = std::move(agora);
}

void DispositivoVirtual::DefineDesvio(int64_t segundos) {
  std::lock_guard l(mutex_);
  fonteTempo_ = [fonte = std::move(fonteTempo_), segundos] {
    return DataHora::DeSegundos(fonte().Segundos() + segundos);
  };
}

DataHora DispositivoVirtual::Agora() const {
  std::lock_guard l(mutex_);
  return AgoraSemTrava();
}

int64_t DispositivoVirtual::RetomaNsrAposReparo() {
  std::lock_guard l(mutex_);
  ultimoNsr_ = std::max(ultimoNsr_, nsrReservado_);
  return ultimoNsr_;
}

std::string DispositivoVirtual::ProximoNsr() const { return std::to_string(ultimoNsr_ + 1); }

void DispositivoVirtual::GuardaMarcacao(MarcacaoVirtual m) {
  // The register numbers ahead are reserved in the journal before one of them is used: a
  // journal repaired after damage knows how far they may have gone.
  if (!m.nsr.empty() && diario_ && ultimoNsr_ + 1 > nsrReservado_) {
    const int64_t reserva = ultimoNsr_ + kReservaNsr;
    Anota([&] { return nlohmann::json{{"t", "nr"}, {"v", reserva}}; });
    nsrReservado_ = reserva;
  }
  // Journaled first: a change the journal could not keep never reaches memory.
  AnotaMarcacao(m);
  if (!m.nsr.empty()) ++ultimoNsr_;
  log_.push_back(std::move(m));
}

void DispositivoVirtual::RegistraFiscal(RegistroFiscalVirtual f, const Registros& proprios,
                                        std::optional<DataHora> momento) {
  if (modelo_ != EModeloRelogio_Tarvenix) {
    if (diario_ && proprios) AnotaVarios(proprios());
    return;
  }
  if (!f.mudancaDeVerao) AcompanhaVeraoSemTrava();
  f.nsr = ultimoNsr_ + 1;
  f.momento = momento.value_or(AgoraSemTrava());
  std::optional<int64_t> reserva;
  if (diario_) {
    std::vector<nlohmann::json> registros;
    if (f.nsr > nsrReservado_) {
      reserva = ultimoNsr_ + kReservaNsr;
      registros.push_back({{"t", "nr"}, {"v", *reserva}});
    }
    if (proprios)
      for (auto& r : proprios()) registros.push_back(std::move(r));
    registros.push_back(RegistroFiscalJson(f));
    AnotaVarios(registros);
  }
  if (reserva) nsrReservado_ = *reserva;
  ultimoNsr_ = f.nsr;
  GuardaFiscal(std::move(f));
}

bool DispositivoVirtual::AdicionaMarcacao(int32_t usuario, int32_t modo,
                                          std::optional<DataHora> momento) {
  std::lock_guard l(mutex_);
  if (!habilitado_ || static_cast<int64_t>(log_.size()) >= capacidades_.registros) return false;
  MarcacaoVirtual m;
  m.cartao = usuario;
  m.modo = modo;
  m.estado = static_cast<int32_t>(log_.size() % 2);
  m.momento = momento.value_or(AgoraSemTrava());
  try {
    AcompanhaVeraoSemTrava();
    if (modelo_ == EModeloRelogio_Tarvenix) {
      m.nsr = ProximoNsr();
      auto it = usuarios_.find(std::to_string(usuario));
      if (it != usuarios_.end()) m.pis = IdentificadorDoPonto(it->second);
    }
    GuardaMarcacao(std::move(m));
  } catch (const FalhaDeGravacao&) {
    return false;
  }
  return true;
}

bool DispositivoVirtual::AdicionaRegistro(const std::string& pis, std::optional<DataHora> momento) {
  std::lock_guard l(mutex_);
  if (!habilitado_ || static_cast<int64_t>(log_.size()) >= capacidades_.registros) return false;
  MarcacaoVirtual m;
  m.pis = pis;
  m.modo = 0;
  m.momento = momento.value_or(AgoraSemTrava());
  try {
    AcompanhaVeraoSemTrava();
    m.nsr = ProximoNsr();
    GuardaMarcacao(std::move(m));
  } catch (const FalhaDeGravacao&) {
    return false;
  }
  return true;
}

void DispositivoVirtual::AdicionaMarcacaoComDataImpossivel() {
  std::lock_guard l(mutex_);
  MarcacaoVirtual m;
  m.cartao = 1;
  m.dataImpossivel = true;
  m.momento = AgoraSemTrava();
  try {
    AcompanhaVeraoSemTrava();
    if (modelo_ == EModeloRelogio_Tarvenix) m.nsr = ProximoNsr();
    GuardaMarcacao(std::move(m));
  } catch (const FalhaDeGravacao&) {
  }
}

void DispositivoVirtual::AdicionaUsuario(UsuarioVirtual u) {
  std::lock_guard l(mutex_);
  try {
    AnotaUsuario(u);
  } catch (const FalhaDeGravacao&) {
    return;
  }
  usuarios_[u.id] = std::move(u);
}

void DispositivoVirtual::AdicionaTemplate(const std::string& usuario, int32_t dedo,
                                          std::string texto) {
  std::lock_guard l(mutex_);
  try {
    Anota([&] { return nlohmann::json{{"t", "tp"}, {"id", usuario}, {"d", dedo}, {"v", texto}}; });
  } catch (const FalhaDeGravacao&) {
    return;
  }
  templates_[{usuario, dedo}] = std::move(texto);
}

void DispositivoVirtual::PerdeLink(int32_t chamadas) {
  std::lock_guard l(mutex_);
  if (chamadas < 0)
    ++geracaoLink_;
  else
    linkPerdidoChamadas_ = chamadas;
}

void DispositivoVirtual::Recusa(const std::string& operacao, int32_t codigo, int32_t vezes) {
  std::lock_guard l(mutex_);
  falhas_[operacao] = {codigo, vezes, false};
}

void DispositivoVirtual::FalhaComoChamada(const std::string& operacao, int32_t vezes) {
  std::lock_guard l(mutex_);
  falhas_[operacao] = {codigo::kFalhaDeChamada, vezes, true};
}

void DispositivoVirtual::Lentidao(int32_t milissegundos) {
  std::lock_guard l(mutex_);
  lentidaoMs_ = milissegundos;
}

void DispositivoVirtual::DefineEspera(std::function<void(int32_t)> espera) {
  std::lock_guard l(mutex_);
  espera_ = std::move(espera);
}

void DispositivoVirtual::LimpaFalhas() {
  std::lock_guard l(mutex_);
  falhas_.clear();
  linkPerdidoChamadas_ = 0;
  lentidaoMs_ = 0;
}

std::vector<UsuarioVirtual> DispositivoVirtual::Usuarios() const {
  std::lock_guard l(mutex_);
  std::vector<UsuarioVirtual> r;
  for (const auto& [id, u] : usuarios_) r.push_back(u);
  return r;
}

std::optional<std::string> DispositivoVirtual::TemplateDe(const std::string& usuario,
                                                          int32_t dedo) const {
  std::lock_guard l(mutex_);
  auto it = templates_.find({usuario, dedo});
  if (it == templates_.end()) return std::nullopt;
  return it->second;
}

std::vector<MarcacaoVirtual> DispositivoVirtual::Marcacoes() const {
  std::lock_guard l(mutex_);
  return log_;
}

std::vector<RegistroFiscalVirtual> DispositivoVirtual::RegistrosFiscais() const {
  std::lock_guard l(mutex_);
  return fiscais_;
}

std::optional<std::string> DispositivoVirtual::Opcao(const std::string& nome) const {
  std::lock_guard l(mutex_);
  auto it = opcoes_.find(nome);
  if (it == opcoes_.end()) return std::nullopt;
  return it->second;
}

int32_t DispositivoVirtual::InformacaoDispositivo(int32_t item) const {
  std::lock_guard l(mutex_);
  auto it = informacoes_.find(item);
  return it == informacoes_.end() ? 0 : it->second;
}

EmpregadorVirtual DispositivoVirtual::Empregador() const {
  std::lock_guard l(mutex_);
  return empregador_;
}

bool DispositivoVirtual::Habilitado() const {
  std::lock_guard l(mutex_);
  return habilitado_;
}

int32_t DispositivoVirtual::Conexoes() const {
  std::lock_guard l(mutex_);
  return conexoes_;
}

int32_t DispositivoVirtual::Admite(const char* operacao, bool conectado, uint64_t geracaoLink) {
  auto it = falhas_.find(operacao);
  if (it != falhas_.end() && it->second.lanca) {
    if (it->second.vezes > 0 && --it->second.vezes == 0) falhas_.erase(it);
    throw Erro(codigo::kFalhaDeChamada,
               std::string("Falha do relógio virtual em ") + operacao + ".");
  }
  if (!conectado || geracaoLink != geracaoLink_) return codigo::kLinkPerdido;
  if (linkPerdidoChamadas_ > 0) {
    --linkPerdidoChamadas_;
    return codigo::kLinkPerdido;
  }
  if (it != falhas_.end()) {
    const int32_t c = it->second.codigo;
    if (it->second.vezes > 0 && --it->second.vezes == 0) falhas_.erase(it);
    return c;
  }
  return codigo::kSucesso;
}

DispositivoVirtual::VersaoLog DispositivoVirtual::Versao() const {
  std::lock_guard l(mutex_);
  return {geracaoLog_, log_.size()};
}

std::string TextoMarcacao(const MarcacaoVirtual& m) {
  return m.dataImpossivel ? "2024-02-31 10:00:00" : m.momento.FormataIso();
}

std::vector<MarcacaoVirtual> DispositivoVirtual::MarcacoesDesde(size_t inicio,
                                                                size_t maximo) const {
  std::lock_guard l(mutex_);
  std::vector<MarcacaoVirtual> r;
  for (size_t i = inicio; i < log_.size() && r.size() < maximo; ++i) r.push_back(log_[i]);
  return r;
}

}  // namespace quorvel::sdk
