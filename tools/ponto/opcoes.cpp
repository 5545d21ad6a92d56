#include "opcoes.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "comandos.h"

namespace ponto {

namespace {

bool Toma(const std::vector<Opcao>& opcoes, const std::string& nome) {
  return std::any_of(opcoes.begin(), opcoes.end(), [&](const Opcao& o) { return o.nome == nome; });
}

bool OpcaoDeAlgumComando(const std::string& nome) {
  if (Toma(OpcoesComuns(), nome)) return true;
  for (const Comando& c : TabelaDeComandos())
    if (Toma(c.opcoes, nome)) return true;
  return nome == "--ajuda" || nome == "--help" || nome == "-h";
}

// The option a CLI11 message is about: its first "--name".
std::string OpcaoDaMensagem(const std::string& m) {
  const size_t p = m.find("--");
  if (p == std::string::npos) return "";
  const size_t fim = m.find_first_of(" :,'\"", p);
  return m.substr(p, fim == std::string::npos ? std::string::npos : fim - p);
}

// CLI11 speaks English; the person at the keyboard reads Portuguese. Its exception types say
// what went wrong; only the option's name is taken from its text.
[[noreturn]] void Traduz(const CLI::ParseError& e) {
  const std::string opcao = OpcaoDaMensagem(e.what());
  bool par = false;
  for (const Comando& c : TabelaDeComandos())
    for (const Opcao& o : c.opcoes) par = par || (o.nome == opcao && o.argumento == Argumento::Par);
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e))
    throw ErroDeUso("a opção " + opcao +
                    (par ? " precisa de dois valores." : " precisa de um valor."));
  if (dynamic_cast<const CLI::ExtrasError*>(&e) && !opcao.empty())
    throw ErroDeUso("a opção " + opcao + " não recebe valor.");
  throw ErroDeUso("linha de comando inválida (" + std::string(e.what()) +
                  "). Veja \"ponto --ajuda\".");
}

// What CLI11 would take quietly and mean something else by: a switch given a value
// ("--bom=3", which it reads as true or false) and an option whose value is missing, so that the
// next option becomes its value ("--ponteiro --nsr 3", which then calls the 3 unexpected).
void ConfereAntes(int argc, const char* const* argv) {
  const Comando* comando = nullptr;
  int i = 1;
  for (; i < argc && !comando; ++i)
    if (argv[i][0] != '-') comando = ComandoDe(argv[i]);
  if (!comando) return;
  const auto argumentoDe = [&](const std::string& nome) -> std::optional<Argumento> {
    for (const auto* lista : {&OpcoesComuns(), &comando->opcoes})
      for (const Opcao& o : *lista)
        if (o.nome == nome) return o.argumento;
    return std::nullopt;
  };
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) continue;
    const size_t igual = arg.find('=');
    const auto argumento = argumentoDe(arg.substr(0, igual));
    if (!argumento) continue;
    if (*argumento == Argumento::Marcador && igual != std::string::npos)
      throw ErroDeUso("a opção " + arg.substr(0, igual) + " não recebe valor.");
    if (*argumento == Argumento::Valor && igual == std::string::npos && i + 1 < argc) {
      const std::string seguinte = argv[i + 1];
      if (seguinte.rfind("--", 0) == 0 &&
          OpcaoDeAlgumComando(seguinte.substr(0, seguinte.find('='))))
        throw ErroDeUso("a opção " + arg + " precisa de um valor (veio " + seguinte + ").");
      ++i;  // its value, whatever it looks like
    }
  }
}

}  // namespace

std::optional<std::string> Parecido(const std::string& digitado,
                                    const std::vector<std::string>& conhecidos) {
  std::optional<std::string> melhor;
  size_t menor = std::numeric_limits<size_t>::max();
  for (const auto& c : conhecidos) {
    // Edit distance, one row at a time.
    std::vector<size_t> linha(c.size() + 1);
    for (size_t j = 0; j <= c.size(); ++j) linha[j] = j;
    for (size_t i = 1; i <= digitado.size(); ++i) {
      size_t diagonal = linha[0];
      linha[0] = i;
      for (size_t j = 1; j <= c.size(); ++j) {
        const size_t acima = linha[j];
        linha[j] = std::min(
            {linha[j] + 1, linha[j - 1] + 1, diagonal + (digitado[i - 1] == c[j - 1] ? 0 : 1)});
        diagonal = acima;
      }
    }
    const size_t d = linha[c.size()];
    if (d < menor && d <= 2 && d * 3 <= std::max(digitado.size(), c.size())) {
      menor = d;
      melhor = c;
    }
  }
  return melhor;
}

std::string QuisDizer(const std::string& digitado, const std::vector<std::string>& conhecidos) {
  const auto p = Parecido(digitado, conhecidos);
  return p ? " Você quis dizer " + *p + "?" : "";
}

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

std::optional<std::pair<std::string, std::string>> Opcoes::Par(const std::string& nome) const {
  auto v = Valor(nome);
  if (!v) return std::nullopt;
  const size_t quebra = v->find('\n');
  if (quebra == std::string::npos) throw ErroDeUso("a opção " + nome + " precisa de dois valores.");
  return std::pair{v->substr(0, quebra), v->substr(quebra + 1)};
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
  // Parsed per command by CLI11: each command knows its options, and the values land in
  // Opcoes for the commands to read.
  Opcoes o;
  CLI::App app{"ponto"};
  app.set_help_flag();
  app.allow_extras();
  // One command per run: a word after it that names another command ("exportar afd") is an
  // argument of the first.
  app.require_subcommand(0, 1);
  bool ajudaGeral = false;
  app.add_flag("--ajuda,--help,-h", ajudaGeral);
  std::map<std::string, std::string> valores;
  std::map<std::string, bool> marcadores;
  std::map<std::string, std::vector<std::string>> posicionais;
  // Options of two values ("--assinar CERT CHAVE"), kept as the two joined by a line break.
  std::map<std::string, std::vector<std::string>> pares;
  std::vector<std::pair<std::string, CLI::App*>> subs;
  for (const Comando& comando : TabelaDeComandos()) {
    const std::string& nome = comando.nome;
    CLI::App* sub = app.add_subcommand(nome);
    sub->set_help_flag();
    sub->allow_extras();
    sub->add_flag("--ajuda,--help,-h", marcadores[nome + " --ajuda"]);
    for (const auto* lista : {&OpcoesComuns(), &comando.opcoes})
      for (const Opcao& opcao : *lista) {
        const std::string chave = nome + " " + opcao.nome;
        switch (opcao.argumento) {
          case Argumento::Valor:
            sub->add_option(opcao.nome, valores[chave])
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                ->allow_extra_args(false);
            break;
          case Argumento::Marcador:
            sub->add_flag(opcao.nome, marcadores[chave]);
            break;
          case Argumento::Par:
            sub->add_option(opcao.nome, pares[chave])->expected(2);
            break;
        }
      }
    if (comando.posicionais) sub->add_option("argumentos", posicionais[nome]);
    subs.emplace_back(nome, sub);
  }
  ConfereAntes(argc, argv);
  std::vector<std::string> argumentos;
  for (int i = argc - 1; i >= 1; --i)
    argumentos.emplace_back(argv[i]);  // CLI11 wants them reversed
  try {
    app.parse(argumentos);
  } catch (const CLI::ParseError& e) {
    Traduz(e);
  }
  if (ajudaGeral) o.marcadores.insert("--ajuda");
  for (const auto& [nome, sub] : subs) {
    if (!sub->parsed()) continue;
    o.posicionais.push_back(nome);
    for (const auto& p : posicionais[nome]) o.posicionais.push_back(p);
    for (const auto& [chave, valor] : valores)
      if (chave.rfind(nome + " ", 0) == 0 && sub->count(chave.substr(nome.size() + 1)))
        o.valores[chave.substr(nome.size() + 1)] = valor;
    for (const auto& [chave, dois] : pares)
      if (chave.rfind(nome + " ", 0) == 0 && dois.size() == 2)
        o.valores[chave.substr(nome.size() + 1)] = dois[0] + "\n" + dois[1];
    for (const auto& [chave, ligado] : marcadores)
      if (ligado && chave.rfind(nome + " ", 0) == 0)
        o.marcadores.insert(chave.substr(nome.size() + 1));
    for (const auto& extra : sub->remaining()) {
      if (extra.size() > 1 && extra[0] == '-' && !NumeroDe(extra)) {
        const std::string opcao = extra.substr(0, extra.find('='));
        if (OpcaoDeAlgumComando(opcao))
          throw ErroDeUso("a opção " + opcao + " não vale para o comando " + nome +
                          ". Veja \"ponto " + nome + " --ajuda\".");
        std::vector<std::string> doComando;
        for (const auto* lista : {&OpcoesComuns(), &ComandoDe(nome)->opcoes})
          for (const Opcao& o : *lista) doComando.push_back(o.nome);
        throw ErroDeUso("opção desconhecida: " + opcao + "." + QuisDizer(opcao, doComando) +
                        " Veja \"ponto " + nome + " --ajuda\".");
      }
      throw ErroDeUso("argumento inesperado \"" + extra + "\" para " + nome + ".");
    }
  }
  // Before any command: an unknown command, or an option nobody takes.
  for (const auto& extra : app.remaining()) {
    if (extra.size() > 1 && extra[0] == '-') {
      const std::string opcao = extra.substr(0, extra.find('='));
      if (OpcaoDeAlgumComando(opcao))
        throw ErroDeUso("a opção " + opcao + " vem depois do comando. Veja \"ponto --ajuda\".");
      throw ErroDeUso("opção desconhecida: " + opcao + ". Veja \"ponto --ajuda\".");
    }
    o.posicionais.insert(o.posicionais.begin(), extra);  // reported as an unknown command
    break;
  }
  return o;
}

}  // namespace ponto
