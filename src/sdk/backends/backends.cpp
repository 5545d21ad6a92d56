#include "quorvel/sdk/backends.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "quorvel/sdk/relogio_virtual.h"
#include "quorvel/sdk/sdk_rede.h"

namespace quorvel::sdk {

namespace {

struct Registro {
  std::mutex mutex;
  std::map<std::string, CriadorDeFabrica> criadores;
  std::optional<std::string> chave;  // set by DefineChaveDaRede
};

Registro& Backends();

// The key a network clock made now gets: the one set last, else QUORVEL_CHAVE's.
std::string ChaveDaRede() {
  Registro& r = Backends();
  {
    std::lock_guard l(r.mutex);
    if (r.chave) return *r.chave;
  }
  const char* chave = std::getenv("QUORVEL_CHAVE");
  return chave ? chave : "";
}

Registro& Backends() {
  static Registro* registro = [] {
    auto* r = new Registro;  // never destroyed: a backend may be chosen during exit
    r->criadores["virtual"] = [] { return FabricaVirtual(); };
    r->criadores["rede"] = [] {
      return FabricaCZKEM([] {
        OpcoesRede opcoes;
        opcoes.chave = ChaveDaRede();
        return CriaSdkRede(std::move(opcoes));
      });
    };
    return r;
  }();
  return *registro;
}

}  // namespace

void RegistraBackend(const std::string& nome, CriadorDeFabrica criador) {
  Registro& r = Backends();
  std::lock_guard l(r.mutex);
  r.criadores[nome] = std::move(criador);
}

FabricaCZKEM FabricaDoBackend(const std::string& nome) {
  CriadorDeFabrica criador;
  {
    Registro& r = Backends();
    std::lock_guard l(r.mutex);
    auto it = r.criadores.find(nome);
    if (it == r.criadores.end()) return {};
    criador = it->second;
  }
  return criador ? criador() : FabricaCZKEM{};
}

void DefineChaveDaRede(std::optional<std::string> chave) {
  Registro& r = Backends();
  std::lock_guard l(r.mutex);
  r.chave = std::move(chave);
}

std::vector<std::string> NomesDosBackends() {
  Registro& r = Backends();
  std::lock_guard l(r.mutex);
  std::vector<std::string> nomes;
  for (const auto& [nome, criador] : r.criadores) nomes.push_back(nome);
  return nomes;
}

}  // namespace quorvel::sdk
