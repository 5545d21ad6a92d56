#include "typelib/registro.h"

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace quorvel::registro {

namespace {

nlohmann::json LeRegistro(const std::filesystem::path& caminho) {
  std::ifstream f(caminho);
  if (!f) return nlohmann::json::object();
  try {
    auto j = nlohmann::json::parse(f);
    return j.is_object() ? j : nlohmann::json::object();
  } catch (...) {
    return nlohmann::json::object();
  }
}

void GravaRegistro(const std::filesystem::path& caminho, const nlohmann::json& j) {
  if (caminho.has_parent_path()) std::filesystem::create_directories(caminho.parent_path());
  const auto temporario = caminho.string() + ".tmp";
  {
    std::ofstream f(temporario, std::ios::trunc);
    if (!f) throw std::runtime_error("não foi possível gravar " + temporario);
    f << j.dump(2) << '\n';
    if (!f) throw std::runtime_error("não foi possível gravar " + temporario);
  }
  std::filesystem::rename(temporario, caminho);  // the store is never seen half written
}

}  // namespace

std::filesystem::path Caminho() {
  if (const char* p = std::getenv("QUORVEL_REGISTRO"); p && *p) return p;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
    return std::filesystem::path(x) / "quorvel/registro.json";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".config/quorvel/registro.json";
}

void Registra(const Biblioteca& b, const std::string& arquivo) {
  const auto caminho = Caminho();
  nlohmann::json j = LeRegistro(caminho);
  const std::string libid = b.libid.Texto();
  j["bibliotecas"][libid] = {
      {"nome", b.nome},
      {"ajuda", b.textoAjuda},
      {"versao", std::to_string(b.versaoMaior) + "." + std::to_string(b.versaoMenor)},
      {"controles", b.contemControles},
      {"arquivo", arquivo}};
  for (const ClasseDespacho* c : b.classes) {
    j["classes"][c->clsid.Texto()] = {
        {"nome", c->nome},         {"progid", c->progid}, {"interface", c->iid.Texto()},
        {"controle", c->controle}, {"biblioteca", libid}, {"arquivo", arquivo}};
    j["progids"][c->progid] = c->clsid.Texto();
  }
  GravaRegistro(caminho, j);
}

void Remove(const Biblioteca& b) {
  const auto caminho = Caminho();
  if (!std::filesystem::exists(caminho)) return;
  nlohmann::json j = LeRegistro(caminho);
  if (j.contains("bibliotecas")) j["bibliotecas"].erase(b.libid.Texto());
  for (const ClasseDespacho* c : b.classes) {
    if (j.contains("classes")) j["classes"].erase(c->clsid.Texto());
    if (j.contains("progids")) j["progids"].erase(c->progid);
  }
  GravaRegistro(caminho, j);
}

}  // namespace quorvel::registro
