// The virtual clock's state as one binary image: what a journal compacts into, so a restart
// loads the clock's present state instead of replaying its history.
//
// Layout (little-endian): "QVINST01", u64 sequence, u32 length + JSON of everything but the
// punch log, u64 punch count, then per punch i32 card, i32 mode, i32 state, u8 flags
// (1 = impossible date), i64 seconds, u16 length + NSR, u16 length + PIS; last, the CRC-32C
// of every byte before it.
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/protocol/protocol.h"
#include "sdk/virtual_interno.h"

namespace quorvel::sdk {

namespace {

constexpr char kMagica[8] = {'Q', 'V', 'I', 'N', 'S', 'T', '0', '1'};

template <class T>
void Poe(std::string& s, T v) {
  char b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  s.append(b, sizeof(T));
}

void PoeTexto16(std::string& s, const std::string& t) {
  if (t.size() > 0xFFFF) throw std::runtime_error("texto longo demais para o instantâneo");
  Poe<uint16_t>(s, static_cast<uint16_t>(t.size()));
  s += t;
}

class Leitor {
 public:
  explicit Leitor(std::string_view d) : d_(d) {}
  template <class T>
  T Le() {
    Precisa(sizeof(T));
    T v;
    std::memcpy(&v, d_.data() + p_, sizeof(T));
    p_ += sizeof(T);
    return v;
  }
  std::string Texto(size_t n) {
    Precisa(n);
    std::string t(d_.substr(p_, n));
    p_ += n;
    return t;
  }
  size_t Posicao() const { return p_; }

 private:
  void Precisa(size_t n) const {
    if (d_.size() - p_ < n) throw std::runtime_error("instantâneo truncado");
  }
  std::string_view d_;
  size_t p_ = 0;
};

}  // namespace

std::string DispositivoVirtual::Instantaneo(uint64_t sequencia) const {
  std::lock_guard l(mutex_);
  nlohmann::json estado;
  auto& usuarios = estado["u"] = nlohmann::json::array();
  for (const auto& [id, u] : usuarios_)
    usuarios.push_back({u.id, u.nome, u.senha, u.privilegio, u.habilitado, u.cartao, u.pis, u.cpf});
  auto& templates = estado["tp"] = nlohmann::json::array();
  for (const auto& [chave, texto] : templates_)
    templates.push_back({chave.first, chave.second, texto});
  estado["op"] = opcoes_;
  auto& informacoes = estado["in"] = nlohmann::json::array();
  for (const auto& [k, v] : informacoes_) informacoes.push_back({k, v});
  estado["tm"] = deslocamentoSegundos_;
  estado["en"] = habilitado_;
  estado["em"] = {empregador_.nome, empregador_.documento, empregador_.cei, empregador_.endereco,
                  empregador_.tipoDocumento};
  estado["nsr"] = ultimoNsr_;
  estado["nsr_reservado"] = nsrReservado_;
  if (!fiscais_.empty()) {
    auto& fiscais = estado["fi"] = nlohmann::json::array();
    for (const RegistroFiscalVirtual& f : fiscais_)
      fiscais.push_back(virtual_interno::RegistroFiscalJson(f));
  }
  estado["mo"] = static_cast<int>(modelo_);
  if (!identidade_.empty()) estado["id"] = identidade_;
  const std::string json = estado.dump();

  std::string s;
  s.reserve(64 + json.size() + log_.size() * 40);
  s.append(kMagica, sizeof kMagica);
  Poe<uint64_t>(s, sequencia);
  Poe<uint32_t>(s, static_cast<uint32_t>(json.size()));
  s += json;
  Poe<uint64_t>(s, log_.size());
  for (const MarcacaoVirtual& m : log_) {
    Poe<int32_t>(s, m.cartao);
    Poe<int32_t>(s, m.modo);
    Poe<int32_t>(s, m.estado);
    Poe<uint8_t>(s, m.dataImpossivel ? 1 : 0);
    Poe<int64_t>(s, m.momento.Segundos());
    PoeTexto16(s, m.nsr);
    PoeTexto16(s, m.pis);
  }
  Poe<uint32_t>(s, protocol::Crc32c(s.data(), s.size()));
  return s;
}

uint64_t DispositivoVirtual::CarregaInstantaneo(std::string_view imagem) {
  if (imagem.size() < sizeof kMagica + 4 || std::memcmp(imagem.data(), kMagica, sizeof kMagica))
    throw std::runtime_error("não é um instantâneo de relógio");
  uint32_t crc;
  std::memcpy(&crc, imagem.data() + imagem.size() - 4, 4);
  if (protocol::Crc32c(imagem.data(), imagem.size() - 4) != crc)
    throw std::runtime_error("instantâneo danificado (soma de verificação)");
  Leitor r(imagem.substr(0, imagem.size() - 4));
  r.Texto(sizeof kMagica);
  const uint64_t sequencia = r.Le<uint64_t>();
  const nlohmann::json estado = nlohmann::json::parse(r.Texto(r.Le<uint32_t>()), nullptr, false);
  if (estado.is_discarded() || !estado.is_object())
    throw std::runtime_error("instantâneo com estado ilegível");
  const uint64_t quantas = r.Le<uint64_t>();
  // Every record needs at least 25 bytes: a count that the image cannot hold is damage.
  if (quantas > (imagem.size() / 25)) throw std::runtime_error("instantâneo truncado");
  // A snapshot of another model (a register clock's beside a fingerprint clock) is another
  // clock's state: refused, not loaded into this one.
  if (estado.contains("mo") && estado["mo"] != static_cast<int>(modelo_))
    throw std::runtime_error("instantâneo de um relógio de outro modelo");
  std::string identidade;
  if (estado.contains("id")) {
    if (!estado["id"].is_string() || estado["id"].get<std::string>().size() > 64)
      throw std::runtime_error("instantâneo com identidade ilegível");
    identidade = estado["id"].get<std::string>();
  }
  // Its records are held to what the journal accepts: a checksum proves the bytes, not that
  // the values are ones a clock can have.
  static const int64_t kMenorSegundo = DataHora::DePartes(100, 1, 1).Segundos();
  static const int64_t kMaiorSegundo = DataHora::DePartes(9999, 12, 31, 23, 59, 59).Segundos();
  std::vector<MarcacaoVirtual> log;
  log.reserve(quantas);
  for (uint64_t i = 0; i < quantas; ++i) {
    MarcacaoVirtual m;
    m.cartao = r.Le<int32_t>();
    m.modo = r.Le<int32_t>();
    m.estado = r.Le<int32_t>();
    m.dataImpossivel = r.Le<uint8_t>() != 0;
    const int64_t segundos = r.Le<int64_t>();
    if (segundos < kMenorSegundo || segundos > kMaiorSegundo)
      throw std::runtime_error("instantâneo com a data da marcação " + std::to_string(i + 1) +
                               " fora do intervalo");
    m.momento = DataHora::DeSegundos(segundos);
    m.nsr = r.Texto(r.Le<uint16_t>());
    m.pis = r.Texto(r.Le<uint16_t>());
    if (m.nsr.size() > 18 || m.nsr.find_first_not_of("0123456789") != std::string::npos)
      throw std::runtime_error("instantâneo com o NSR da marcação " + std::to_string(i + 1) +
                               " inválido");
    log.push_back(std::move(m));
  }
  std::map<std::string, UsuarioVirtual> usuarios;
  std::map<std::pair<std::string, int32_t>, std::string> templates;
  std::unordered_map<std::string, std::string> opcoes;
  std::unordered_map<int32_t, int32_t> informacoes;
  EmpregadorVirtual empregador;
  std::vector<RegistroFiscalVirtual> fiscais;
  try {
    for (const auto& u : estado.at("u"))
      usuarios[u.at(0)] =
          UsuarioVirtual{u.at(0), u.at(1), u.at(2), u.at(3), u.at(4), u.at(5), u.at(6), u.at(7)};
    for (const auto& t : estado.at("tp")) templates[{t.at(0), t.at(1)}] = t.at(2);
    opcoes = estado.at("op").get<std::unordered_map<std::string, std::string>>();
    for (const auto& i : estado.at("in")) informacoes[i.at(0)] = i.at(1);
    const auto& e = estado.at("em");
    empregador = {e.at(0), e.at(1), e.at(2), e.at(3), e.at(4)};
    if (estado.contains("fi"))
      for (const auto& registro : estado.at("fi")) {
        std::string motivo;
        auto f = virtual_interno::RegistroFiscalDeJson(registro, &motivo);
        if (!f) throw std::runtime_error("instantâneo com registro fiscal inválido: " + motivo);
        fiscais.push_back(std::move(*f));
      }
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error(std::string("instantâneo com estado inválido: ") + e.what());
  }
  std::lock_guard l(mutex_);
  usuarios_ = std::move(usuarios);
  templates_ = std::move(templates);
  opcoes_ = std::move(opcoes);
  informacoes_ = std::move(informacoes);
  empregador_ = std::move(empregador);
  deslocamentoSegundos_ = estado.value("tm", int64_t{0});
  habilitado_ = estado.value("en", true);
  ultimoNsr_ = estado.value("nsr", int64_t{0});
  nsrReservado_ = estado.value("nsr_reservado", int64_t{0});
  identidade_ = std::move(identidade);
  log_ = std::move(log);
  fiscais_.clear();
  veraoRegistrado_ = false;
  for (RegistroFiscalVirtual& f : fiscais) GuardaFiscal(std::move(f));
  ReleVeraoSemTrava();
  ++geracaoLog_;
  return sequencia;
}

std::string DispositivoVirtual::Identidade() const {
  std::lock_guard l(mutex_);
  return identidade_;
}

void DispositivoVirtual::DefineIdentidade(std::string identidade) {
  std::lock_guard l(mutex_);
  identidade_ = std::move(identidade);
}

}  // namespace quorvel::sdk
