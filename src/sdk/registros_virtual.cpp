// How each change of the virtual clock becomes journal records, and how they are applied
// back on a restart.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>
#include <utility>

#include "quorvel/erro.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/virtual_interno.h"

namespace quorvel::sdk {

using namespace virtual_interno;

// ---- Journal -------------------------------------------------------------------------

void DispositivoVirtual::DefineDiario(std::function<void(const std::string&)> diario) {
  std::lock_guard l(mutex_);
  diario_ = std::move(diario);
}

void DispositivoVirtual::AnotaVarios(const std::vector<nlohmann::json>& registros) {
  if (!diario_ || registros.empty()) return;
  std::string linhas;
  try {
    for (const auto& r : registros) {
      if (!linhas.empty()) linhas.push_back('\n');
      linhas += r.dump();
    }
  } catch (const nlohmann::json::exception&) {
    // Text that is not UTF-8 could not be journaled, so it is not stored at all.
    throw FalhaDeGravacao{codigo::kArgumentoInvalido};
  }
  try {
    diario_(linhas);
  } catch (...) {
    throw FalhaDeGravacao{codigo::kFalhaGravacao};
  }
}

void DispositivoVirtual::AnotaMarcacao(const MarcacaoVirtual& m) {
  if (!diario_) return;
  Anota([&] {
    return nlohmann::json{{"t", "m"},
                          {"c", m.cartao},
                          {"o", m.modo},
                          {"e", m.estado},
                          {"n", m.nsr},
                          {"p", m.pis},
                          {"s", m.momento.Segundos()},
                          {"x", m.dataImpossivel}};
  });
}

void DispositivoVirtual::AnotaUsuario(const UsuarioVirtual& u) {
  if (!diario_) return;
  Anota([&] { return virtual_interno::UsuarioJson(u); });
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

namespace virtual_interno {

nlohmann::json UsuarioJson(const UsuarioVirtual& u) {
  return {{"t", "u"},          {"id", u.id},    {"n", u.nome},  {"s", u.senha}, {"p", u.privilegio},
          {"h", u.habilitado}, {"c", u.cartao}, {"pis", u.pis}, {"cpf", u.cpf}};
}

nlohmann::json RegistroFiscalJson(const RegistroFiscalVirtual& f) {
  nlohmann::json j = {{"t", "fi"}, {"n", f.nsr}, {"k", f.tipo}, {"s", f.momento.Segundos()}};
  if (f.tipo == 2)
    j["em"] = {f.empregador.nome, f.empregador.documento, f.empregador.cei, f.empregador.endereco,
               f.empregador.tipoDocumento};
  if (f.tipo == 4) {
    j["a"] = f.ajustado.Segundos();
    // Written by this program since the clock follows summer time; absent before (none then).
    if (f.mudancaDeVerao) j["dv"] = true;
    if (f.veraoDepois) j["hv"] = true;
  }
  if (f.tipo == 5) {
    j["o"] = std::string(1, f.operacao);
    j["id"] = f.identificador;
    j["nm"] = f.nome;
    if (!f.pis.empty()) j["pi"] = f.pis;
  }
  return j;
}

std::optional<RegistroFiscalVirtual> RegistroFiscalDeJson(const nlohmann::json& j,
                                                          std::string* erro) {
  static const int64_t kMenor = DataHora::DePartes(100, 1, 1).Segundos();
  static const int64_t kMaior = DataHora::DePartes(9999, 12, 31, 23, 59, 59).Segundos();
  try {
    RegistroFiscalVirtual f;
    f.nsr = Inteiro(j, "n", 1, 999'999'999);
    f.tipo = static_cast<int32_t>(Inteiro(j, "k", 2, 5));
    f.momento = DataHora::DeSegundos(Inteiro(j, "s", kMenor, kMaior));
    if (f.tipo == 2) {
      const auto& e = Campo(j, "em");
      if (!e.is_array() || e.size() != 5 || !e[0].is_string() || !e[1].is_string() ||
          !e[2].is_string() || !e[3].is_string() || !e[4].is_number_integer())
        throw CampoInvalido{"empregador inválido"};
      f.empregador = {e[0], e[1], e[2], e[3], e[4]};
    } else if (f.tipo == 4) {
      f.ajustado = DataHora::DeSegundos(Inteiro(j, "a", kMenor, kMaior));
      f.mudancaDeVerao = j.contains("dv") && Logico(j, "dv");
      f.veraoDepois = j.contains("hv") && Logico(j, "hv");
    } else if (f.tipo == 5) {
      const std::string o = Texto(j, "o");
      if (o != "I" && o != "A" && o != "E") throw CampoInvalido{"operação de funcionário inválida"};
      f.operacao = o[0];
      f.identificador = Texto(j, "id");
      f.nome = Texto(j, "nm");
      // Written by this program since it keeps the PIS beside the CPF; absent before.
      if (j.contains("pi")) f.pis = Texto(j, "pi");
    } else {
      throw CampoInvalido{"tipo de registro fiscal inválido"};
    }
    return f;
  } catch (const CampoInvalido& c) {
    if (erro) *erro = c.motivo;
    return std::nullopt;
  }
}

}  // namespace virtual_interno

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
    } else if (t == "fi") {
      std::string motivo;
      auto f = virtual_interno::RegistroFiscalDeJson(j, &motivo);
      if (!f) throw CampoInvalido{motivo};
      ultimoNsr_ = std::max(ultimoNsr_, f->nsr);
      GuardaFiscal(std::move(*f));
    } else if (t == "nr") {
      nsrReservado_ = std::max(nsrReservado_, Inteiro(j, "v", 0, 9'999'999'999));
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
      ReleVeraoSemTrava();
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

}  // namespace quorvel::sdk
