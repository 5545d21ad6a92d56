// What the virtual clock keeps of its people: employees, passwords, cards and templates, how
// each change is journaled (and, on a register clock, recorded as a fiscal record), and the
// counts its status reports.
#include "sdk/cadastro_virtual.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "sdk/virtual_interno.h"

namespace quorvel::sdk {

using namespace virtual_interno;

int32_t CadastroVirtual::Estado(const DispositivoVirtual& d, int32_t qual, int32_t& valor) {
  switch (qual) {
    case 1:
      valor = static_cast<int32_t>(
          std::count_if(d.usuarios_.begin(), d.usuarios_.end(),
                        [](const auto& u) { return u.second.privilegio >= 2; }));
      return codigo::kSucesso;
    case 2:
      valor = static_cast<int32_t>(d.usuarios_.size());
      return codigo::kSucesso;
    case 3:
      valor = static_cast<int32_t>(d.templates_.size());
      return codigo::kSucesso;
    case 4:
      valor = static_cast<int32_t>(
          std::count_if(d.usuarios_.begin(), d.usuarios_.end(),
                        [](const auto& u) { return !u.second.senha.empty(); }));
      return codigo::kSucesso;
    case 5:
      valor = 0;
      return codigo::kSucesso;  // no administrator-managed counter is kept
    case 6:
      valor = static_cast<int32_t>(d.log_.size());
      return codigo::kSucesso;
    case 7:
      valor = d.capacidades_.templates;
      return codigo::kSucesso;
    case 8:
      valor = d.capacidades_.usuarios;
      return codigo::kSucesso;
    case 9:
      valor = d.capacidades_.registros;
      return codigo::kSucesso;
    default:
      return codigo::kArgumentoInvalido;
  }
}

int32_t CadastroVirtual::Grava(DispositivoVirtual& d, const std::string& id,
                               const std::function<void(UsuarioVirtual&)>& preenche) {
  auto it = d.usuarios_.find(id);
  UsuarioVirtual novo;
  if (it == d.usuarios_.end()) {
    if (static_cast<int64_t>(d.usuarios_.size()) >= d.capacidades_.usuarios)
      return codigo::kMemoriaCheia;
    novo.id = id;
  } else {
    novo = it->second;
  }
  const bool existia = it != d.usuarios_.end();
  preenche(novo);
  if (d.modelo_ == EModeloRelogio_Tarvenix) {
    // An employee included or changed is a fiscal record of its own.
    d.RegistraFiscal(RegistroDeEmpregado(existia ? 'A' : 'I', novo),
                     [&] { return std::vector<nlohmann::json>{UsuarioJson(novo)}; });
  } else {
    d.AnotaUsuario(novo);
  }
  d.usuarios_[id] = std::move(novo);
  return codigo::kSucesso;
}

// A register clock's record of an employee included, changed or removed: by CPF, or by PIS
// for an employee without one.
RegistroFiscalVirtual CadastroVirtual::RegistroDeEmpregado(char operacao, const UsuarioVirtual& u) {
  RegistroFiscalVirtual f;
  f.tipo = 5;
  f.operacao = operacao;
  f.identificador = u.cpf.empty() ? u.pis : u.cpf;
  f.nome = u.nome;
  f.pis = u.pis;
  return f;
}

int32_t CadastroVirtual::GravaTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo,
                                       const std::string& texto) {
  if (dedo < 0 || dedo > 9) return codigo::kArgumentoInvalido;
  if (!d.usuarios_.count(id)) return codigo::kNaoEncontrado;
  auto chave = std::make_pair(id, dedo);
  if (!d.templates_.count(chave) &&
      static_cast<int64_t>(d.templates_.size()) >= d.capacidades_.templates)
    return codigo::kMemoriaCheia;
  d.Anota([&] { return nlohmann::json{{"t", "tp"}, {"id", id}, {"d", dedo}, {"v", texto}}; });
  d.templates_[chave] = texto;
  return codigo::kSucesso;
}

int32_t CadastroVirtual::ApagaTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo) {
  if (!d.templates_.count({id, dedo})) return codigo::kNaoEncontrado;
  d.Anota([&] { return nlohmann::json{{"t", "td"}, {"id", id}, {"d", dedo}}; });
  d.templates_.erase({id, dedo});
  return codigo::kSucesso;
}

int32_t CadastroVirtual::LeTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo,
                                    std::string& texto, int32_t& tamanho) {
  auto it = d.templates_.find({id, dedo});
  if (it == d.templates_.end()) return codigo::kNaoEncontrado;
  texto = it->second;
  tamanho = static_cast<int32_t>(texto.size());
  return codigo::kSucesso;
}

// Data numbers: 0 and 12 the whole user with its templates, 1..9 one finger (finger 0 goes
// with the whole user), 10 the password, 11 every fingerprint.
int32_t CadastroVirtual::Apaga(DispositivoVirtual& d, const std::string& id, int32_t dado) {
  auto it = d.usuarios_.find(id);
  if (it == d.usuarios_.end()) return codigo::kNaoEncontrado;
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
    return codigo::kSucesso;
  } else if (dado == 11) {
    dedosDe(0, 9);
  } else {
    return codigo::kArgumentoInvalido;
  }
  if ((dado == 0 || dado == 12) && d.modelo_ == EModeloRelogio_Tarvenix) {
    d.RegistraFiscal(RegistroDeEmpregado('E', it->second), [&] { return registros; });
  } else {
    d.AnotaVarios(registros);
  }
  for (int32_t f : dedos) d.templates_.erase({id, f});
  if (dado == 0 || dado == 12) d.usuarios_.erase(it);
  return codigo::kSucesso;
}

}  // namespace quorvel::sdk
