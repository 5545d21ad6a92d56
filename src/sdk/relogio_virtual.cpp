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

namespace quorvel::sdk {

namespace {

DataHora AgoraDoSistema() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return DataHora::DePartes(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min, local.tm_sec);
}

// "Ver 2.1.12" and "2.1.12" name the same firmware; compared as text like the component does.
std::string NormalizaVersao(std::string v) {
  for (auto& c : v)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (size_t p; (p = v.find("VER")) != std::string::npos;) v.erase(p, 3);
  const size_t i = v.find_first_not_of(' ');
  if (i == std::string::npos) return {};
  return v.substr(i, v.find_last_not_of(' ') - i + 1);
}

bool PisValido(const std::string& pis) {
  if (pis.empty()) return true;
  if (pis.size() != 11 ||
      !std::all_of(pis.begin(), pis.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  static constexpr int kPesos[10] = {3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  int soma = 0;
  for (int i = 0; i < 10; ++i) soma += (pis[static_cast<size_t>(i)] - '0') * kPesos[i];
  int dv = 11 - soma % 11;
  if (dv >= 10) dv = 0;
  return dv == pis[10] - '0';
}

std::string ComDigitoPis(const std::string& base10) {
  static constexpr int kPesos[10] = {3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  int soma = 0;
  for (int i = 0; i < 10; ++i) soma += (base10[static_cast<size_t>(i)] - '0') * kPesos[i];
  int dv = 11 - soma % 11;
  if (dv >= 10) dv = 0;
  return base10 + static_cast<char>('0' + dv);
}

bool TextoPeriodoValido(const std::string& t) {
  return t.size() == 8 &&
         std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A change the journal could not keep: the operation is refused with `codigo`.
struct FalhaDeGravacao {
  int32_t codigo;
};

std::string ChaveRede(const std::string& ip, int32_t porta) {
  return ip + ":" + std::to_string(porta);
}

}  // namespace

std::optional<std::string> ConverteTemplateVirtual(const std::string& texto) {
  if (texto.size() < 4) return std::nullopt;
  for (char c : texto)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
          c == '/' || c == '='))
      return std::nullopt;
  return "V10:" + texto;
}

bool ConverteTemplateSdk(const std::string& entrada, std::string& saida, int32_t& tamanho,
                         int32_t& ultimoErro) {
  auto convertido = ConverteTemplateVirtual(entrada);
  if (!convertido) {
    ultimoErro = codigo::kArgumentoInvalido;
    return false;
  }
  saida = std::move(*convertido);
  tamanho = static_cast<int32_t>(saida.size());
  ultimoErro = codigo::kSucesso;
  return true;
}

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

DataHora DispositivoVirtual::AgoraSemTrava() const {
  return DataHora::DeSegundos(fonteTempo_().Segundos() + deslocamentoSegundos_);
}

DataHora DispositivoVirtual::Agora() const {
  std::lock_guard l(mutex_);
  return AgoraSemTrava();
}

std::string DispositivoVirtual::ProximoNsr() const { return std::to_string(ultimoNsr_ + 1); }

void DispositivoVirtual::GuardaMarcacao(MarcacaoVirtual m) {
  // Journaled first: a change the journal could not keep never reaches memory.
  AnotaMarcacao(m);
  if (!m.nsr.empty()) ++ultimoNsr_;
  log_.push_back(std::move(m));
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
  if (modelo_ == EModeloRelogio_Tarvenix) {
    m.nsr = ProximoNsr();
    auto it = usuarios_.find(std::to_string(usuario));
    if (it != usuarios_.end()) m.pis = it->second.pis;
  }
  try {
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
  m.nsr = ProximoNsr();
  m.pis = pis;
  m.modo = 0;
  m.momento = momento.value_or(AgoraSemTrava());
  try {
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
  if (modelo_ == EModeloRelogio_Tarvenix) m.nsr = ProximoNsr();
  try {
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
    Anota({{"t", "tp"}, {"id", usuario}, {"d", dedo}, {"v", texto}});
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
  falhas_[operacao] = {kFalhaDeChamada, vezes, true};
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
    throw Erro(kFalhaDeChamada, std::string("Falha do relógio virtual em ") + operacao + ".");
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

// ---- Journal -------------------------------------------------------------------------

void DispositivoVirtual::DefineDiario(std::function<void(const std::string&)> diario) {
  std::lock_guard l(mutex_);
  diario_ = std::move(diario);
}

void DispositivoVirtual::Anota(const nlohmann::json& registro) {
  AnotaVarios(std::vector<nlohmann::json>{registro});
}

void DispositivoVirtual::AnotaVarios(const std::vector<nlohmann::json>& registros) {
  if (!diario_ || reaplicando_ || registros.empty()) return;
  std::string linhas;
  try {
    for (const auto& r : registros) {
      if (!linhas.empty()) linhas.push_back('\n');
      linhas += r.dump();
    }
  } catch (const nlohmann::json::exception&) {
    // Text that is not UTF-8 could not be journaled, so it is not stored at all.
    throw FalhaDeGravacao(codigo::kArgumentoInvalido);
  }
  try {
    diario_(linhas);
  } catch (...) {
    throw FalhaDeGravacao(codigo::kFalhaGravacao);
  }
}

void DispositivoVirtual::AnotaMarcacao(const MarcacaoVirtual& m) {
  if (!diario_ || reaplicando_) return;
  Anota({{"t", "m"},
         {"c", m.cartao},
         {"o", m.modo},
         {"e", m.estado},
         {"n", m.nsr},
         {"p", m.pis},
         {"s", m.momento.Segundos()},
         {"x", m.dataImpossivel}});
}

void DispositivoVirtual::AnotaUsuario(const UsuarioVirtual& u) {
  if (!diario_ || reaplicando_) return;
  Anota({{"t", "u"},
         {"id", u.id},
         {"n", u.nome},
         {"s", u.senha},
         {"p", u.privilegio},
         {"h", u.habilitado},
         {"c", u.cartao},
         {"pis", u.pis},
         {"cpf", u.cpf}});
}

namespace {

// Typed field reads that refuse rather than convert: a record is applied only when every
// field it needs holds.
struct CampoInvalido {
  std::string motivo;
};

const nlohmann::json& Campo(const nlohmann::json& j, const char* nome) {
  auto it = j.find(nome);
  if (it == j.end()) throw CampoInvalido{std::string("falta o campo \"") + nome + "\""};
  return *it;
}

int64_t Inteiro(const nlohmann::json& j, const char* nome, int64_t minimo, int64_t maximo) {
  const auto& v = Campo(j, nome);
  if (!v.is_number_integer())
    throw CampoInvalido{std::string("o campo \"") + nome + "\" não é um inteiro"};
  if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX))
    throw CampoInvalido{std::string("o campo \"") + nome + "\" está fora do intervalo"};
  const int64_t x = v.get<int64_t>();
  if (x < minimo || x > maximo)
    throw CampoInvalido{std::string("o campo \"") + nome + "\" está fora do intervalo"};
  return x;
}

int32_t Inteiro32(const nlohmann::json& j, const char* nome) {
  return static_cast<int32_t>(Inteiro(j, nome, INT32_MIN, INT32_MAX));
}

std::string Texto(const nlohmann::json& j, const char* nome) {
  const auto& v = Campo(j, nome);
  if (!v.is_string()) throw CampoInvalido{std::string("o campo \"") + nome + "\" não é texto"};
  return v.get<std::string>();
}

bool Logico(const nlohmann::json& j, const char* nome) {
  const auto& v = Campo(j, nome);
  if (!v.is_boolean())
    throw CampoInvalido{std::string("o campo \"") + nome + "\" não é verdadeiro/falso"};
  return v.get<bool>();
}

bool NsrValido(const std::string& nsr) {
  if (nsr.size() > 18) return false;
  for (char c : nsr)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

bool DispositivoVirtual::Reaplica(const std::string& linha, std::string* erro) {
  const auto falha = [&](std::string motivo) {
    if (erro) *erro = std::move(motivo);
    return false;
  };
  const nlohmann::json j = nlohmann::json::parse(linha, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return falha("registro que não é JSON");
  // Dates a clock can show: years 100 to 9999.
  static const int64_t kMenorSegundo = DataHora::DePartes(100, 1, 1).Segundos();
  static const int64_t kMaiorSegundo = DataHora::DePartes(9999, 12, 31, 23, 59, 59).Segundos();
  constexpr int64_t kSeculo = 3'155'760'000;
  std::lock_guard l(mutex_);
  try {
    const std::string t = Texto(j, "t");
    if (t == "m") {
      MarcacaoVirtual m;
      m.cartao = Inteiro32(j, "c");
      m.modo = Inteiro32(j, "o");
      m.estado = Inteiro32(j, "e");
      m.nsr = Texto(j, "n");
      m.pis = Texto(j, "p");
      m.momento = DataHora::DeSegundos(Inteiro(j, "s", kMenorSegundo, kMaiorSegundo));
      m.dataImpossivel = Logico(j, "x");
      if (!NsrValido(m.nsr)) throw CampoInvalido{"NSR inválido"};
      if (!m.nsr.empty()) ultimoNsr_ = std::max<int64_t>(ultimoNsr_, std::stoll(m.nsr));
      log_.push_back(std::move(m));
    } else if (t == "u") {
      UsuarioVirtual u{Texto(j, "id"), Texto(j, "n"), Texto(j, "s"),   Inteiro32(j, "p"),
                       Logico(j, "h"), Texto(j, "c"), Texto(j, "pis"), Texto(j, "cpf")};
      usuarios_[u.id] = std::move(u);
    } else if (t == "ud") {
      usuarios_.erase(Texto(j, "id"));
    } else if (t == "tp") {
      const int32_t dedo = static_cast<int32_t>(Inteiro(j, "d", 0, 9));
      std::string id = Texto(j, "id"), v = Texto(j, "v");
      templates_[{std::move(id), dedo}] = std::move(v);
    } else if (t == "td") {
      const int32_t dedo = static_cast<int32_t>(Inteiro(j, "d", 0, 9));
      templates_.erase({Texto(j, "id"), dedo});
    } else if (t == "cl") {
      log_.clear();
      ++geracaoLog_;
    } else if (t == "ca") {
      usuarios_.clear();
      templates_.clear();
      log_.clear();
      ++geracaoLog_;
    } else if (t == "op") {
      std::string k = Texto(j, "k"), v = Texto(j, "v");
      opcoes_[std::move(k)] = std::move(v);
    } else if (t == "in") {
      const int32_t k = Inteiro32(j, "k"), v = Inteiro32(j, "v");
      informacoes_[k] = v;
    } else if (t == "tm") {
      deslocamentoSegundos_ = Inteiro(j, "v", -kSeculo * 100, kSeculo * 100);
    } else if (t == "en") {
      habilitado_ = Logico(j, "v");
    } else if (t == "em") {
      EmpregadorVirtual e{Texto(j, "n"), Texto(j, "d"), Texto(j, "c"), Texto(j, "e"),
                          Inteiro32(j, "k")};
      empregador_ = std::move(e);
    } else {
      return falha("tipo de registro desconhecido \"" + t + "\"");
    }
  } catch (const CampoInvalido& c) {
    return falha(c.motivo);
  }
  return true;
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

// ---- RedeVirtual --------------------------------------------------------------------------

RedeVirtual& RedeVirtual::Instancia() {
  static RedeVirtual rede;
  return rede;
}

void RedeVirtual::Publica(const std::string& ip, int32_t porta,
                          std::shared_ptr<DispositivoVirtual> d) {
  std::lock_guard l(mutex_);
  rede_[ChaveRede(ip, porta)] = std::move(d);
}

void RedeVirtual::PublicaSerial(int32_t porta, std::shared_ptr<DispositivoVirtual> d) {
  std::lock_guard l(mutex_);
  serial_[porta] = std::move(d);
}

void RedeVirtual::Retira(const std::string& ip, int32_t porta) {
  std::lock_guard l(mutex_);
  rede_.erase(ChaveRede(ip, porta));
}

void RedeVirtual::RetiraSerial(int32_t porta) {
  std::lock_guard l(mutex_);
  serial_.erase(porta);
}

void RedeVirtual::Limpa() {
  std::lock_guard l(mutex_);
  rede_.clear();
  serial_.clear();
}

std::shared_ptr<DispositivoVirtual> RedeVirtual::Procura(const std::string& ip,
                                                         int32_t porta) const {
  std::lock_guard l(mutex_);
  auto it = rede_.find(ChaveRede(ip, porta));
  return it == rede_.end() ? nullptr : it->second;
}

std::shared_ptr<DispositivoVirtual> RedeVirtual::ProcuraSerial(int32_t porta) const {
  std::lock_guard l(mutex_);
  auto it = serial_.find(porta);
  return it == serial_.end() ? nullptr : it->second;
}

// ---- SdkVirtual ---------------------------------------------------------------------------

class SdkVirtual final : public CZKEM {
 public:
  bool SdkConnectNetwork(const std::string& ip, int32_t porta) override {
    return Conecta(RedeVirtual::Instancia().Procura(ip, porta));
  }
  bool SdkConnectSerial(int32_t porta, int32_t, int32_t baud) override {
    if (baud != 115200) {
      ultimoErro_ = codigo::kArgumentoInvalido;
      return false;
    }
    return Conecta(RedeVirtual::Instancia().ProcuraSerial(porta));
  }
  void SdkDisconnect() override { dispositivo_.reset(); }
  bool ConectaDireto(std::shared_ptr<DispositivoVirtual> d) { return Conecta(std::move(d)); }
  void SdkGetLastError(int32_t& c) override { c = ultimoErro_; }

  bool SdkEnableDevice(int32_t, bool habilita) override {
    return Com("SdkEnableDevice", [&](DispositivoVirtual& d) {
      d.Anota({{"t", "en"}, {"v", habilita}});
      d.habilitado_ = habilita;
      return true;
    });
  }
  bool SdkRefreshData(int32_t) override {
    return Com("SdkRefreshData", [](DispositivoVirtual&) { return true; });
  }
  bool SdkGetDeviceStatus(int32_t, int32_t codigo, int32_t& valor) override {
    return Com("SdkGetDeviceStatus", [&](DispositivoVirtual& d) {
      switch (codigo) {
        case 1:
          valor = static_cast<int32_t>(
              std::count_if(d.usuarios_.begin(), d.usuarios_.end(),
                            [](const auto& u) { return u.second.privilegio >= 2; }));
          return true;
        case 2:
          valor = static_cast<int32_t>(d.usuarios_.size());
          return true;
        case 3:
          valor = static_cast<int32_t>(d.templates_.size());
          return true;
        case 4:
          valor = static_cast<int32_t>(
              std::count_if(d.usuarios_.begin(), d.usuarios_.end(),
                            [](const auto& u) { return !u.second.senha.empty(); }));
          return true;
        case 5:
          valor = 0;
          return true;  // no administrator-managed counter is kept
        case 6:
          valor = static_cast<int32_t>(d.log_.size());
          return true;
        case 7:
          valor = d.capacidades_.templates;
          return true;
        case 8:
          valor = d.capacidades_.usuarios;
          return true;
        case 9:
          valor = d.capacidades_.registros;
          return true;
        default:
          return Falha(codigo::kArgumentoInvalido);
      }
    });
  }
  bool SdkSetDeviceInfo(int32_t, int32_t item, int32_t valor) override {
    return Com("SdkSetDeviceInfo", [&](DispositivoVirtual& d) {
      const int32_t novo = item == 1 ? d.informacoes_[1] + 1 : valor;  // item 1 counts applies
      d.Anota({{"t", "in"}, {"k", item}, {"v", novo}});
      d.informacoes_[item] = novo;
      return true;
    });
  }
  bool SdkGetDeviceTime(int32_t, int32_t& a, int32_t& me, int32_t& di, int32_t& h, int32_t& mi,
                        int32_t& s) override {
    return Com("SdkGetDeviceTime", [&](DispositivoVirtual& d) {
      const PartesDataHora p = d.AgoraSemTrava().Partes();
      a = p.ano, me = p.mes, di = p.dia, h = p.hora, mi = p.minuto, s = p.segundo;
      return true;
    });
  }
  bool SdkSetDeviceTime(int32_t, int32_t a, int32_t me, int32_t di, int32_t h, int32_t mi,
                        int32_t s) override {
    return Com("SdkSetDeviceTime", [&](DispositivoVirtual& d) {
      if (!DataHora::PartesValidas(a, me, di, h, mi, s)) return Falha(codigo::kArgumentoInvalido);
      const int64_t deslocamento =
          DataHora::DePartes(a, me, di, h, mi, s).Segundos() - d.fonteTempo_().Segundos();
      d.Anota({{"t", "tm"}, {"v", deslocamento}});
      d.deslocamentoSegundos_ = deslocamento;
      return true;
    });
  }
  bool SdkGetFirmwareVersion(int32_t, std::string& versao) override {
    return Com("SdkGetFirmwareVersion", [&](DispositivoVirtual& d) {
      versao = d.modelo_ == EModeloRelogio_Tarvenix ? "Ver " + d.firmware_ : d.firmware_;
      return true;
    });
  }
  bool SdkGetSysOption(int32_t, const std::string& nome, std::string& valor) override {
    return Com("SdkGetSysOption", [&](DispositivoVirtual& d) {
      auto it = d.opcoes_.find(nome);
      if (it == d.opcoes_.end()) return Falha(codigo::kNaoEncontrado);
      valor = it->second;
      return true;
    });
  }
  bool SdkSetSysOption(int32_t, const std::string& nome, const std::string& valor) override {
    return Com("SdkSetSysOption", [&](DispositivoVirtual& d) {
      if (nome.empty() || nome == "mrpversion") return Falha(codigo::kArgumentoInvalido);
      d.Anota({{"t", "op"}, {"k", nome}, {"v", valor}});
      d.opcoes_[nome] = valor;
      return true;
    });
  }
  bool SdkRefreshOptions(int32_t) override {
    return Com("SdkRefreshOptions", [](DispositivoVirtual&) { return true; });
  }
  bool SdkSetDaylight(int32_t, int32_t ligado, const std::string& inicio,
                      const std::string& fim) override {
    return Com("SdkSetDaylight", [&](DispositivoVirtual& d) {
      if ((ligado != 0 && ligado != 1) || !TextoPeriodoValido(inicio) || !TextoPeriodoValido(fim))
        return Falha(codigo::kArgumentoInvalido);
      const std::string periodo = std::to_string(ligado) + ":" + inicio + "-" + fim;
      d.Anota({{"t", "op"}, {"k", "~DaylightPeriod"}, {"v", periodo}});
      d.horarioVeraoInicio_ = inicio;
      d.horarioVeraoFim_ = fim;
      d.opcoes_["~DaylightPeriod"] = periodo;
      return true;
    });
  }
  bool SdkClearAllData(int32_t) override {
    return Com("SdkClearAllData", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      d.Anota({{"t", "ca"}});
      d.usuarios_.clear();
      d.templates_.clear();
      d.log_.clear();
      ++d.geracaoLog_;
      return true;
    });
  }
  bool SdkTestOperation(int32_t argumento) override {
    return Com("SdkTestOperation", [&](DispositivoVirtual&) {
      return argumento == 1 ? true : Falha(codigo::kArgumentoInvalido);
    });
  }
  bool SdkSetEmployer(int32_t, const std::string& nome, int32_t tipo, const std::string& documento,
                      const std::string& cei, const std::string& endereco) override {
    return Com("SdkSetEmployer", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (tipo != 0 && tipo != 1) return Falha(codigo::kArgumentoInvalido);
      d.Anota(
          {{"t", "em"}, {"n", nome}, {"d", documento}, {"c", cei}, {"e", endereco}, {"k", tipo}});
      d.empregador_ = {nome, documento, cei, endereco, tipo};
      return true;
    });
  }

  bool SdkReadAllLogs(int32_t) override {
    return Com("SdkReadAllLogs", [&](DispositivoVirtual& d) {
      // The fingerprint model hands out its whole log from the start; the register model
      // keeps walking from its read pointer.
      if (d.modelo_ == EModeloRelogio_Quorvel) lidas_ = d.log_, cursorLog_ = 0;
      return true;
    });
  }
  bool SdkGetNextLog(int32_t, int32_t& cartao, int32_t& valor, int32_t& modo,
                     std::string& texto) override {
    return Com("SdkGetNextLog", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      if (cursorLog_ >= lidas_.size()) return Falha(codigo::kNaoEncontrado);
      const MarcacaoVirtual& m = lidas_[cursorLog_++];
      cartao = m.cartao;
      valor = m.estado;
      modo = m.modo;
      texto = TextoMarcacao(m);
      return true;
    });
  }
  bool SdkGetNextNsrLog(int32_t, std::string& nsr, std::string& pis, int32_t& a, int32_t& me,
                        int32_t& di, int32_t& h, int32_t& mi, int32_t& s) override {
    return Com("SdkGetNextNsrLog", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (cursorNsr_ >= d.log_.size()) return Falha(codigo::kNaoEncontrado);
      const MarcacaoVirtual& m = d.log_[cursorNsr_++];
      nsr = m.nsr;
      pis = m.pis;
      const PartesDataHora p = m.momento.Partes();
      a = p.ano, me = m.dataImpossivel ? 13 : p.mes, di = p.dia, h = p.hora, mi = p.minuto,
      s = p.segundo;
      return true;
    });
  }
  bool SdkSetLogPointer(int32_t, int32_t ponteiro) override {
    return Com("SdkSetLogPointer", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (ponteiro < 0) return Falha(codigo::kArgumentoInvalido);
      // Both pointer forms name the last record already collected: reading resumes after it.
      // From firmware 2.1.12 on it is an NSR, before that a record count; NSRs start at 1 and
      // are never erased, so both land on the same record here.
      size_t i = 0;
      if (NormalizaVersao(d.firmware_).compare("2.1.12") >= 0) {
        while (i < d.log_.size() && std::stoll(d.log_[i].nsr) <= ponteiro) ++i;
      } else {
        i = std::min<size_t>(static_cast<size_t>(ponteiro), d.log_.size());
      }
      cursorNsr_ = i;
      return true;
    });
  }
  bool SdkClearLogs(int32_t) override {
    return Com("SdkClearLogs", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      d.Anota({{"t", "cl"}});
      d.log_.clear();
      ++d.geracaoLog_;
      return true;
    });
  }

  bool SdkReadAllUserIds(int32_t) override {
    return Com("SdkReadAllUserIds", [&](DispositivoVirtual& d) {
      usuariosLidos_.clear();
      for (const auto& [id, u] : d.usuarios_) usuariosLidos_.push_back(u);
      cursorUsuario_ = 0;
      return true;
    });
  }
  bool SdkSetUserInfo(int32_t, int32_t usuario, const std::string& nome, const std::string& senha,
                      int32_t privilegio, bool habilitado) override {
    return Com("SdkSetUserInfo", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      if (usuario <= 0) return Falha(codigo::kArgumentoInvalido);
      const std::string id = std::to_string(usuario);
      return Grava(d, id, [&](UsuarioVirtual& u) {
        u.nome = nome, u.senha = senha, u.privilegio = privilegio, u.habilitado = habilitado;
      });
    });
  }
  bool SdkGetNextUserInfo(int32_t, int32_t& usuario, std::string& nome, std::string& senha,
                          int32_t& privilegio, bool& habilitado) override {
    return Com("SdkGetNextUserInfo", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      if (cursorUsuario_ >= usuariosLidos_.size()) return Falha(codigo::kNaoEncontrado);
      const UsuarioVirtual& u = usuariosLidos_[cursorUsuario_++];
      usuario = std::stoi(u.id);
      nome = u.nome, senha = u.senha, privilegio = u.privilegio, habilitado = u.habilitado;
      return true;
    });
  }
  bool SdkSetUserInfoWithPis(int32_t, const std::string& usuario, const std::string& nome,
                             const std::string& senha, int32_t privilegio, bool habilitado,
                             const std::string& pis, const std::string& cpf) override {
    return Com("SdkSetUserInfoWithPis", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (usuario.empty() || !PisValido(pis)) return Falha(codigo::kArgumentoInvalido);
      const std::string cartao = std::exchange(cartaoPendente_, std::string());
      return Grava(d, usuario, [&](UsuarioVirtual& u) {
        u.nome = nome, u.senha = senha, u.privilegio = privilegio, u.habilitado = habilitado;
        u.pis = pis, u.cpf = cpf, u.cartao = cartao;
      });
    });
  }
  bool SdkGetNextUserInfoWithPis(int32_t, std::string& usuario, std::string& nome,
                                 std::string& senha, int32_t& privilegio, bool& habilitado,
                                 std::string& pis, std::string& cpf) override {
    return Com("SdkGetNextUserInfoWithPis", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (cursorUsuario_ >= usuariosLidos_.size()) return Falha(codigo::kNaoEncontrado);
      const UsuarioVirtual& u = usuariosLidos_[cursorUsuario_++];
      usuario = u.id, nome = u.nome, senha = u.senha, privilegio = u.privilegio;
      habilitado = u.habilitado, pis = u.pis, cpf = u.cpf;
      return true;
    });
  }
  bool SdkQueryUserInfo(int32_t, std::string& nome, std::string& senha, int32_t& privilegio,
                        bool& habilitado) override {
    return Com("SdkQueryUserInfo", [&](DispositivoVirtual& d) {
      for (const auto& [id, u] : d.usuarios_)
        if (u.nome == nome) {
          senha = u.senha, privilegio = u.privilegio, habilitado = u.habilitado;
          return true;
        }
      return Falha(codigo::kNaoEncontrado);
    });
  }
  bool SdkSetCardNumber(const std::string& cartao) override {
    return Com("SdkSetCardNumber", [&](DispositivoVirtual&) {
      cartaoPendente_ = cartao;
      return true;
    });
  }
  bool SdkDeleteEnrollData(int32_t, int32_t usuario, int32_t, int32_t dado) override {
    return Com("SdkDeleteEnrollData",
               [&](DispositivoVirtual& d) { return Apaga(d, std::to_string(usuario), dado); });
  }
  bool SdkDeleteEnrollDataByTextId(int32_t, const std::string& usuario, int32_t dado) override {
    return Com("SdkDeleteEnrollDataByTextId",
               [&](DispositivoVirtual& d) { return Apaga(d, usuario, dado); });
  }
  bool SdkGetUserTemplate(int32_t, int32_t usuario, int32_t dedo, std::string& texto,
                          int32_t& tamanho) override {
    return Com("SdkGetUserTemplate", [&](DispositivoVirtual& d) {
      return LeTemplate(d, std::to_string(usuario), dedo, texto, tamanho);
    });
  }
  bool SdkSetUserTemplate(int32_t, int32_t usuario, int32_t dedo,
                          const std::string& texto) override {
    return Com("SdkSetUserTemplate", [&](DispositivoVirtual& d) {
      // The fingerprint model stores only converted templates.
      if (texto.rfind("V10:", 0) != 0) return Falha(codigo::kArgumentoInvalido);
      return GravaTemplate(d, std::to_string(usuario), dedo, texto);
    });
  }
  bool SdkDeleteUserTemplate(int32_t, int32_t usuario, int32_t dedo) override {
    return Com("SdkDeleteUserTemplate", [&](DispositivoVirtual& d) {
      return ApagaTemplate(d, std::to_string(usuario), dedo);
      return true;
    });
  }
  bool SdkGetUserTemplateByTextId(int32_t, const std::string& usuario, int32_t dedo, int32_t& flag,
                                  std::string& texto, int32_t& tamanho) override {
    return Com("SdkGetUserTemplateByTextId", [&](DispositivoVirtual& d) {
      if (!LeTemplate(d, usuario, dedo, texto, tamanho)) return false;
      flag = 1;
      return true;
    });
  }
  bool SdkSetUserTemplateByTextId(int32_t, const std::string& usuario, int32_t dedo, int32_t,
                                  const std::string& texto) override {
    return Com("SdkSetUserTemplateByTextId", [&](DispositivoVirtual& d) {
      if (!ConverteTemplateVirtual(texto)) return Falha(codigo::kArgumentoInvalido);
      return GravaTemplate(d, usuario, dedo, texto);
    });
  }
  bool SdkDeleteUserTemplateByTextId(int32_t, const std::string& usuario, int32_t dedo) override {
    return Com("SdkDeleteUserTemplateByTextId", [&](DispositivoVirtual& d) {
      return ApagaTemplate(d, usuario, dedo);
      return true;
    });
  }
  bool SdkConvertTemplate(const std::string& entrada, std::string& saida,
                          int32_t& tamanho) override {
    // A computation of the SDK itself: no clock, no link needed.
    return ConverteTemplateSdk(entrada, saida, tamanho, ultimoErro_);
  }

 private:
  bool Conecta(std::shared_ptr<DispositivoVirtual> d) {
    dispositivo_.reset();
    if (!d) {
      ultimoErro_ = codigo::kLinkPerdido;
      return false;
    }
    {
      std::lock_guard l(d->mutex_);
      auto it = d->falhas_.find("SdkConnectNetwork");
      if (it != d->falhas_.end() && !it->second.lanca) {
        ultimoErro_ = it->second.codigo;
        if (it->second.vezes > 0 && --it->second.vezes == 0) d->falhas_.erase(it);
        return false;
      }
      geracao_ = d->geracaoLink_;
      ++d->conexoes_;
      // A new link reads register records from the end of the log: only new ones, unless
      // a pointer is set.
      cursorNsr_ = d->log_.size();
    }
    dispositivo_ = std::move(d);
    ultimoErro_ = codigo::kSucesso;
    return true;
  }

  bool Falha(int32_t c) {
    ultimoErro_ = c;
    return false;
  }

  template <class F>
  bool Com(const char* operacao, F&& corpo) {
    std::shared_ptr<DispositivoVirtual> d = dispositivo_;
    if (!d) return Falha(codigo::kLinkPerdido);
    int32_t espera = 0;
    std::function<void(int32_t)> funcaoEspera;
    {
      std::lock_guard l(d->mutex_);
      espera = d->lentidaoMs_;
      funcaoEspera = d->espera_;
    }
    if (espera > 0) {
      if (funcaoEspera)
        funcaoEspera(espera);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(espera));
    }
    std::lock_guard l(d->mutex_);
    const int32_t recusa = d->Admite(operacao, true, geracao_);
    if (recusa != codigo::kSucesso) return Falha(recusa);
    ultimoErro_ = codigo::kSucesso;
    try {
      return corpo(*d);
    } catch (const FalhaDeGravacao& f) {
      return Falha(f.codigo);  // journaled before applied: nothing changed
    }
  }

  template <class F>
  bool Grava(DispositivoVirtual& d, const std::string& id, F&& preenche) {
    auto it = d.usuarios_.find(id);
    UsuarioVirtual novo;
    if (it == d.usuarios_.end()) {
      if (static_cast<int64_t>(d.usuarios_.size()) >= d.capacidades_.usuarios)
        return Falha(codigo::kMemoriaCheia);
      novo.id = id;
    } else {
      novo = it->second;
    }
    preenche(novo);
    d.AnotaUsuario(novo);
    d.usuarios_[id] = std::move(novo);
    return true;
  }

  bool GravaTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo,
                     const std::string& texto) {
    if (dedo < 0 || dedo > 9) return Falha(codigo::kArgumentoInvalido);
    if (!d.usuarios_.count(id)) return Falha(codigo::kNaoEncontrado);
    auto chave = std::make_pair(id, dedo);
    if (!d.templates_.count(chave) &&
        static_cast<int64_t>(d.templates_.size()) >= d.capacidades_.templates)
      return Falha(codigo::kMemoriaCheia);
    d.Anota({{"t", "tp"}, {"id", id}, {"d", dedo}, {"v", texto}});
    d.templates_[chave] = texto;
    return true;
  }

  bool ApagaTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo) {
    if (!d.templates_.count({id, dedo})) return Falha(codigo::kNaoEncontrado);
    d.Anota({{"t", "td"}, {"id", id}, {"d", dedo}});
    d.templates_.erase({id, dedo});
    return true;
  }

  bool LeTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo, std::string& texto,
                  int32_t& tamanho) {
    auto it = d.templates_.find({id, dedo});
    if (it == d.templates_.end()) return Falha(codigo::kNaoEncontrado);
    texto = it->second;
    tamanho = static_cast<int32_t>(texto.size());
    return true;
  }

  // Data numbers: 0 and 12 the whole user with its templates, 1..9 one finger (finger 0 goes
  // with the whole user), 10 the password, 11 every fingerprint.
  bool Apaga(DispositivoVirtual& d, const std::string& id, int32_t dado) {
    auto it = d.usuarios_.find(id);
    if (it == d.usuarios_.end()) return Falha(codigo::kNaoEncontrado);
    // Every record of the change is journaled together before any of it is applied.
    std::vector<nlohmann::json> registros;
    std::vector<int32_t> dedos;
    auto dedosDe = [&](int32_t de, int32_t ate) {
      for (int32_t f = de; f <= ate; ++f)
        if (d.templates_.count({id, f})) {
          dedos.push_back(f);
          registros.push_back({{"t", "td"}, {"id", id}, {"d", f}});
        }
    };
    if (dado == 0 || dado == 12) {
      dedosDe(0, 9);
      registros.push_back({{"t", "ud"}, {"id", id}});
    } else if (dado >= 1 && dado <= 9) {
      dedosDe(dado, dado);
    } else if (dado == 10) {
      UsuarioVirtual semSenha = it->second;
      semSenha.senha.clear();
      d.AnotaUsuario(semSenha);
      it->second = std::move(semSenha);
      return true;
    } else if (dado == 11) {
      dedosDe(0, 9);
    } else {
      return Falha(codigo::kArgumentoInvalido);
    }
    d.AnotaVarios(registros);
    for (int32_t f : dedos) d.templates_.erase({id, f});
    if (dado == 0 || dado == 12) d.usuarios_.erase(it);
    return true;
  }

  std::shared_ptr<DispositivoVirtual> dispositivo_;
  uint64_t geracao_ = 0;
  int32_t ultimoErro_ = codigo::kSucesso;
  std::vector<MarcacaoVirtual> lidas_;
  size_t cursorLog_ = 0;
  size_t cursorNsr_ = 0;
  std::vector<UsuarioVirtual> usuariosLidos_;
  size_t cursorUsuario_ = 0;
  std::string cartaoPendente_;
};

std::shared_ptr<CZKEM> CriaSdkVirtual() { return std::make_shared<SdkVirtual>(); }

std::shared_ptr<CZKEM> CriaSdkVirtualConectado(std::shared_ptr<DispositivoVirtual> d) {
  auto s = std::make_shared<SdkVirtual>();
  s->ConectaDireto(std::move(d));
  return s;
}

FabricaCZKEM FabricaVirtual() {
  return [] { return CriaSdkVirtual(); };
}

std::unique_ptr<Timer> GeraMarcacoes(Host& host, std::shared_ptr<DispositivoVirtual> d,
                                     int32_t intervaloMs, uint32_t semente) {
  auto gerador = std::make_shared<std::mt19937>(semente);
  auto timer = host.CriaTimer([d, gerador] {
    const auto usuarios = d->Usuarios();
    if (usuarios.empty()) {
      d->AdicionaMarcacao(1, 2);
      return;
    }
    const auto& u = usuarios[(*gerador)() % usuarios.size()];
    if (d->Modelo() == EModeloRelogio_Tarvenix)
      d->AdicionaRegistro(u.pis);
    else
      d->AdicionaMarcacao(std::stoi(u.id), (*gerador)() % 2 == 0 ? 1 : 0);
  });
  timer->Intervalo(intervaloMs);
  timer->Habilitado(true);
  return timer;
}

void SemeiaExemplo(DispositivoVirtual& d) {
  struct Exemplo {
    const char* nome;
    const char* senha;
    int32_t privilegio;
    const char* pisBase;
    const char* cpf;
    int32_t dedos;
  };
  static constexpr Exemplo kExemplos[] = {
      {"Ana Souza", "1234", 2, "1203456789", "52998224725", 2},
      {"Bruno Lima", "", 0, "1309876543", "11144477735", 1},
      {"Carla Dias", "4321", 0, "1701928374", "39053344705", 0},
      {"Diego Alves", "", 0, "2045678123", "27100251881", 2},
      {"Elisa Rocha", "9876", 0, "1288776655", "61680284004", 1},
  };
  const bool tarvenix = d.Modelo() == EModeloRelogio_Tarvenix;
  int32_t codigo = 1;
  for (const Exemplo& e : kExemplos) {
    UsuarioVirtual u;
    u.id = std::to_string(codigo);
    u.nome = e.nome;
    u.senha = e.senha;
    u.privilegio = e.privilegio;
    if (tarvenix) {
      u.pis = ComDigitoPis(e.pisBase);
      u.cpf = e.cpf;
      u.cartao = std::to_string(1000 + codigo);
    }
    d.AdicionaUsuario(u);
    ++codigo;
  }
  int32_t c = 1;
  for (const Exemplo& e : kExemplos) {
    for (int32_t f = 0; f < e.dedos; ++f) {
      const std::string bruto =
          "QVZSLUV4ZW1wbG8t" + std::to_string(c) + "x" + std::to_string(f * 5 + 1);
      d.AdicionaTemplate(std::to_string(c), f * 5 + 1, tarvenix ? bruto : "V10:" + bruto);
    }
    ++c;
  }
  // Four punches a day for the last five days, up to now.
  const DataHora agora = d.Agora();
  const PartesDataHora hoje = agora.Partes();
  const int64_t inicioHoje = DataHora::DePartes(hoje.ano, hoje.mes, hoje.dia).Segundos();
  static constexpr int32_t kHorarios[4][2] = {{8, 0}, {12, 0}, {13, 0}, {17, 30}};
  const auto usuarios = d.Usuarios();
  for (int64_t dia = 4; dia >= 0; --dia) {
    for (const auto& h : kHorarios) {
      int32_t n = 0;
      for (const auto& u : usuarios) {
        const int64_t s = inicioHoje - dia * 86400 + h[0] * 3600 + (h[1] + n * 3) * 60 + 7 * n;
        ++n;
        const DataHora momento = DataHora::DeSegundos(s);
        if (momento > agora) continue;
        if (tarvenix)
          d.AdicionaRegistro(u.pis, momento);
        else
          d.AdicionaMarcacao(std::stoi(u.id), n % 3 == 0 ? 0 : 1, momento);
      }
    }
  }
}

}  // namespace quorvel::sdk
