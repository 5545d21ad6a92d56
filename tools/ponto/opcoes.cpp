#include "opcoes.h"

#include <charconv>

namespace ponto {

namespace {
const std::set<std::string> kComValor = {
    "--relogio", "--ip",           "--modelo",    "--serial",   "--relogios",
    "--formato", "--ponteiro",     "--nsr",       "--definir",  "--codigo",
    "--nome",    "--tipo",         "--documento", "--cei",      "--endereco",
    "--hora",    "--duracao",      "--dia",       "--horarios", "--inicio",
    "--fim",     "--gerar-a-cada", "--segundos",  "--chave",    "--codificacao"};
const std::set<std::string> kMarcadores = {"--agora", "--apagar", "--ajuda",
                                           "--help",  "-h",       "--bom"};
}  // namespace

std::optional<long long> NumeroDe(const std::string& texto) {
  long long v = 0;
  const char* fim = texto.data() + texto.size();
  auto [p, ec] = std::from_chars(texto.data(), fim, v);
  if (ec != std::errc() || p != fim || texto.empty()) return std::nullopt;
  return v;
}

std::optional<std::string> Opcoes::Valor(const std::string& nome) const {
  auto it = valores.find(nome);
  if (it == valores.end()) return std::nullopt;
  return it->second;
}

std::string Opcoes::Obrigatorio(const std::string& nome) const {
  auto v = Valor(nome);
  if (!v) throw ErroDeUso("falta a opção " + nome + ".");
  return *v;
}

long long Opcoes::Numero(const std::string& nome, long long minimo, long long maximo) const {
  const std::string texto = Obrigatorio(nome);
  auto v = NumeroDe(texto);
  if (!v || *v < minimo || *v > maximo)
    throw ErroDeUso("valor inválido para " + nome + ": \"" + texto + "\" (use um número de " +
                    std::to_string(minimo) + " a " + std::to_string(maximo) + ").");
  return *v;
}

Opcoes LeOpcoes(int argc, const char* const* argv) {
  Opcoes o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.size() > 1 && a[0] == '-' && !NumeroDe(a)) {
      std::string valor;
      bool temValor = false;
      if (auto igual = a.find('='); igual != std::string::npos) {
        valor = a.substr(igual + 1);
        a = a.substr(0, igual);
        temValor = true;
      }
      if (kMarcadores.count(a)) {
        if (temValor) throw ErroDeUso("a opção " + a + " não recebe valor.");
        o.marcadores.insert(a == "--help" || a == "-h" ? "--ajuda" : a);
      } else if (kComValor.count(a)) {
        if (!temValor) {
          if (i + 1 >= argc) throw ErroDeUso("a opção " + a + " precisa de um valor.");
          valor = argv[++i];
        }
        o.valores[a] = valor;
      } else {
        throw ErroDeUso("opção desconhecida: " + a + ". Veja \"ponto --ajuda\".");
      }
    } else {
      o.posicionais.push_back(a);
    }
  }
  return o;
}

}  // namespace ponto
