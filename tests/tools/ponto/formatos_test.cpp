// Every command's JSON against the example docs/formatos.md gives for it: the same fields in
// the same order, each of a type the example shows. The document is what programs are written
// against; an output that drifts from it fails here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "support/processo.h"

namespace {

using json = nlohmann::ordered_json;  // keeps the fields in the order printed
using quorvel::teste::EsperaAte;
using quorvel::teste::Processo;

struct Exemplo {
  std::string comando;  // after "ponto "
  json objetos;
};

std::vector<Exemplo> ExemplosDoDocumento() {
  const std::string doc =
      quorvel::teste::LeArquivo(std::string(QUORVEL_FONTE) + "/docs/formatos.md");
  std::vector<Exemplo> r;
  const std::regex bloco(
      R"(`ponto ([^`]+--formato json)`[^\n]*\n(?:[^\n]+\n)*?\n```json\n([\s\S]*?)\n```)");
  for (std::sregex_iterator i(doc.begin(), doc.end(), bloco), fim; i != fim; ++i)
    r.push_back({(*i)[1], json::parse((*i)[2].str(), nullptr, false)});
  return r;
}

std::string Tipo(const json& v) {
  if (v.is_null()) return "null";
  if (v.is_boolean()) return "booleano";
  if (v.is_number()) return "número";
  if (v.is_array()) return "lista";
  if (v.is_object()) return "objeto";
  return "texto";
}

// Each object printed against the example: fields in order, and every value of a type the
// example shows for that field.
void Confere(const std::string& comando, const json& exemplo, const json& saida) {
  ASSERT_TRUE(exemplo.is_array() && !exemplo.empty()) << comando << ": exemplo ilegível";
  ASSERT_TRUE(saida.is_array()) << comando << ": " << saida.dump();
  ASSERT_FALSE(saida.empty()) << comando << " não imprimiu nenhum objeto";
  std::vector<std::string> campos;
  std::map<std::string, std::set<std::string>> tipos;
  for (const auto& [campo, valor] : exemplo[0].items()) campos.push_back(campo);
  for (const auto& objeto : exemplo)
    for (const auto& [campo, valor] : objeto.items()) tipos[campo].insert(Tipo(valor));
  for (const auto& objeto : saida) {
    std::vector<std::string> impressos;
    for (const auto& [campo, valor] : objeto.items()) {
      impressos.push_back(campo);
      EXPECT_TRUE(tipos[campo].count(Tipo(valor)))
          << comando << ": \"" << campo << "\" é " << Tipo(valor) << " em " << objeto.dump();
    }
    EXPECT_EQ(impressos, campos) << comando;
  }
}

std::vector<std::string> Palavras(const std::string& linha) {
  std::vector<std::string> r;
  std::istringstream in(linha);
  for (std::string p; in >> p;) r.push_back(p);
  return r;
}

TEST(Formatos, EveryCommandsJsonHasTheFieldsAndTypesOfItsDocumentedExample) {
  ASSERT_EQ(::chdir(QUORVEL_FONTE), 0);  // the examples name docs/exemplos/ from there
  const std::string banco = ::testing::TempDir() + "formatos_" + std::to_string(::getpid()) + ".db";
  std::remove(banco.c_str());
  const auto exemplos = ExemplosDoDocumento();
  std::set<std::string> vistos;
  for (const auto& e : exemplos) vistos.insert(Palavras(e.comando).front());
  // Every command that prints JSON has its example.
  EXPECT_EQ(vistos,
            (std::set<std::string>{"coletar", "monitorar", "status", "data-hora", "funcionarios",
                                   "sirene", "embutidos", "exportar", "relatorio", "servico"}));
  // The store commands need a store and the register clock's employees in it.
  ASSERT_EQ(
      std::system(
          (std::string(PONTO_BINARIO) + " coletar --banco " + banco + " >/dev/null 2>&1").c_str()),
      0);

  int n = 0;
  for (const auto& e : exemplos) {
    SCOPED_TRACE(e.comando);
    std::string linha = std::regex_replace(e.comando, std::regex("ponto\\.db"), banco);
    const std::string base = ::testing::TempDir() + "formatos_" + std::to_string(++n);
    if (e.comando.rfind("monitorar", 0) == 0) {
      // A stream: one object per line, read until each clock sent one.
      Processo m(PONTO_BINARIO, Palavras(linha + " --gerar-a-cada 100"), base);
      ASSERT_TRUE(EsperaAte([&] {
        const std::string s = m.Saida();
        return s.find("\"relogio\":1") != std::string::npos &&
               s.find("\"relogio\":2") != std::string::npos;
      })) << m.Saida()
          << m.Erros();
      m.Sinaliza(SIGINT);
      EXPECT_EQ(m.Espera(), 0) << m.Erros();
      json objetos = json::array();
      std::istringstream linhas(m.Saida());
      for (std::string l; std::getline(linhas, l);) objetos.push_back(json::parse(l));
      Confere(e.comando, e.objetos, objetos);
      continue;
    }
    if (e.comando.rfind("servico --estado", 0) == 0) {
      // A service writes its state: started on the embedded clocks, asked while it holds both
      // (a stopped one's clocks have no collector, which --estado reports with exit 4).
      Processo servico(PONTO_BINARIO, {"servico", "--banco", banco}, base + "_servico");
      json estado;
      ASSERT_TRUE(EsperaAte([&] {
        Processo p(PONTO_BINARIO, Palavras(linha), base);
        if (p.Espera() != 0) return false;
        estado = json::parse(p.Saida(), nullptr, false);
        return estado.is_array() && estado.size() == 2;
      })) << servico.Erros();
      servico.Sinaliza(SIGTERM);
      EXPECT_EQ(servico.Espera(), 0) << servico.Erros();
      Confere(e.comando, e.objetos, estado);
      continue;
    }
    Processo p(PONTO_BINARIO, Palavras(linha), base);
    const int codigo = p.Espera();
    // enviar exits 3: the sample file has an employee a clock refuses, which is the point.
    EXPECT_EQ(codigo, e.comando.rfind("funcionarios enviar", 0) == 0 ? 3 : 0) << p.Erros();
    Confere(e.comando, e.objetos, json::parse(p.Saida(), nullptr, false));
  }
  std::remove(banco.c_str());
}

}  // namespace
