#include "web/consultas.h"

#include <algorithm>

#include "banco.h"
#include "saida.h"

namespace ponto::web {

using quorvel::armazem::EstadoRelogio;
using quorvel::armazem::FiltroFuncionario;
using quorvel::armazem::MarcacaoArmazenada;

nlohmann::ordered_json Relogios(const std::vector<EstadoRelogio>& estados,
                                const std::vector<RelogioConhecido>& conhecidos) {
  // A clock of the service's list that no collector reported on yet is shown all the same.
  std::map<int16_t, EstadoRelogio> porCodigo;
  for (const auto& c : conhecidos) porCodigo[c.codigo].relogio = c.codigo;
  for (const auto& e : estados) porCodigo[e.relogio] = e;
  std::vector<EstadoRelogio> todos;
  for (auto& [codigo, e] : porCodigo) todos.push_back(e);
  const Tabela t = TabelaDeEstados(todos, Formato::Json);

  struct Linha {
    bool problema;
    int16_t codigo;
    nlohmann::ordered_json objeto;
  };
  std::vector<Linha> linhas;
  for (size_t i = 0; i < todos.size(); ++i) {
    const EstadoRelogio& e = todos[i];
    const auto base = ObjetoJson(t, i);
    nlohmann::ordered_json o = nlohmann::ordered_json::object();
    o["relogio"] = e.relogio;
    const auto c = std::find_if(conhecidos.begin(), conhecidos.end(),
                                [&](const RelogioConhecido& r) { return r.codigo == e.relogio; });
    o["modelo"] =
        c == conhecidos.end() ? nlohmann::ordered_json() : nlohmann::ordered_json(c->modelo);
    o["endereco"] =
        c == conhecidos.end() ? nlohmann::ordered_json() : nlohmann::ordered_json(c->endereco);
    for (const auto& [chave, valor] : base.items())
      if (chave != "relogio") o[chave] = valor;
    nlohmann::ordered_json problema;
    if (!e.ArrendamentoVivo())
      problema = "nenhum coletor ativo";
    else if (!e.conectado)
      problema = e.ultimoErro.empty() ? "desconectado" : "desconectado: " + e.ultimoErro;
    o["problema"] = problema;
    linhas.push_back({!problema.is_null(), e.relogio, std::move(o)});
  }
  std::stable_sort(linhas.begin(), linhas.end(), [](const Linha& a, const Linha& b) {
    return a.problema != b.problema ? a.problema : a.codigo < b.codigo;
  });
  nlohmann::ordered_json r = nlohmann::ordered_json::array();
  for (auto& l : linhas) r.push_back(std::move(l.objeto));
  return r;
}

nlohmann::ordered_json Marcacao(const MarcacaoArmazenada& m, const Funcionarios& funcionarios) {
  const Tabela t{kColunasMarcacao, kChavesMarcacao, {LinhaDeMarcacao(m, Formato::Json)}};
  nlohmann::ordered_json o = ObjetoJson(t, 0);
  const auto f = m.pis.empty() ? funcionarios.end() : funcionarios.find(m.pis);
  o["nome"] = f == funcionarios.end() || f->second.nome.empty()
                  ? nlohmann::ordered_json()
                  : nlohmann::ordered_json(f->second.nome);
  o["recebida_em"] = m.recebidaEm;
  return o;
}

namespace {

// Lower case without accents, for a name search: "JOÃO" finds "joao" and "João".
std::string Dobra(const std::string& texto) {
  static const std::pair<const char*, char> kAcentos[] = {
      {"á", 'a'}, {"à", 'a'}, {"â", 'a'}, {"ã", 'a'}, {"ä", 'a'}, {"é", 'e'}, {"ê", 'e'},
      {"è", 'e'}, {"í", 'i'}, {"ì", 'i'}, {"î", 'i'}, {"ó", 'o'}, {"ô", 'o'}, {"õ", 'o'},
      {"ò", 'o'}, {"ú", 'u'}, {"ù", 'u'}, {"ü", 'u'}, {"ç", 'c'}, {"ñ", 'n'}, {"Á", 'a'},
      {"À", 'a'}, {"Â", 'a'}, {"Ã", 'a'}, {"É", 'e'}, {"Ê", 'e'}, {"Í", 'i'}, {"Ó", 'o'},
      {"Ô", 'o'}, {"Õ", 'o'}, {"Ú", 'u'}, {"Ü", 'u'}, {"Ç", 'c'}, {"Ñ", 'n'}};
  std::string r;
  for (size_t i = 0; i < texto.size();) {
    bool trocou = false;
    for (const auto& [de, para] : kAcentos) {
      const size_t n = std::char_traits<char>::length(de);
      if (texto.compare(i, n, de) == 0) {
        r += para;
        i += n;
        trocou = true;
        break;
      }
    }
    if (trocou) continue;
    const char c = texto[i++];
    r += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return r;
}

std::string Digitos(const std::string& texto) {
  std::string d;
  for (char c : texto)
    if (c >= '0' && c <= '9') d += c;
  return d;
}

constexpr size_t kMaximoPis = 500;

}  // namespace

FiltroFuncionario FuncionarioDe(const std::string& termo, const Funcionarios& funcionarios) {
  std::string t = termo;
  while (!t.empty() && t.back() == ' ') t.pop_back();
  while (!t.empty() && t.front() == ' ') t.erase(t.begin());
  if (t.empty()) throw ErroDeUso("informe o funcionário: PIS, CPF, cartão ou parte do nome.");
  FiltroFuncionario f;
  std::set<std::string> pis;
  const bool soNumero = t.find_first_not_of("0123456789.-/ ") == std::string::npos;
  if (soNumero) {
    const std::string d = Digitos(t);
    if (d.size() == 11) pis.insert(d);  // a PIS, even one no employee record names yet
    for (const auto& [p, func] : funcionarios)
      if (p == d || Digitos(func.cpf) == d) pis.insert(p);
    // A card number (fingerprint clocks) fits the store's card column.
    if (!d.empty() && d.size() <= 10) {
      const long long n = std::stoll(d);
      if (n <= 2147483647) f.cartao = static_cast<int32_t>(n);
    }
  } else {
    const std::string procurado = Dobra(t);
    for (const auto& [p, func] : funcionarios)
      if (Dobra(func.nome).find(procurado) != std::string::npos) pis.insert(p);
  }
  for (const auto& p : pis) {
    if (f.pis.size() == kMaximoPis) break;
    f.pis.push_back(p);
  }
  return f;
}

Opcoes OpcoesDe(const std::multimap<std::string, std::string>& parametros,
                const std::set<std::string>& aceitos, const std::set<std::string>& marcadores) {
  Opcoes o;
  for (const auto& [nome, valor] : parametros) {
    std::string opcao = "--" + nome;
    std::replace(opcao.begin(), opcao.end(), '_', '-');
    if (marcadores.count(opcao)) {
      if (valor == "1" || valor == "sim")
        o.marcadores.insert(opcao);
      else if (valor != "0" && valor != "nao" && valor != "não")
        throw ErroDeUso("\"" + nome + "\" deve ser 1 ou 0.");
      continue;
    }
    if (!aceitos.count(opcao)) throw ErroDeUso("parâmetro desconhecido \"" + nome + "\".");
    if (o.valores.count(opcao)) throw ErroDeUso("parâmetro \"" + nome + "\" repetido.");
    o.valores[opcao] = valor;
  }
  return o;
}

std::vector<int16_t> ListaDeRelogios(const std::string& texto, const std::string& nome) {
  std::vector<int16_t> r;
  for (size_t i = 0; i <= texto.size();) {
    const size_t fim = std::min(texto.find(',', i), texto.size());
    const auto n = NumeroDe(texto.substr(i, fim - i));
    if (!n || *n < 1 || *n > 32767 || r.size() == 1000)
      throw ErroDeUso("\"" + nome +
                      "\" deve ser uma lista de códigos de relógio (1 a 32767) "
                      "separados por vírgula.");
    r.push_back(static_cast<int16_t>(*n));
    i = fim + 1;
  }
  return r;
}

}  // namespace ponto::web
