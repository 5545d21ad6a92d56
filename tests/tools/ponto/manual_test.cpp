// The manual page and the help: every option a command takes is in its help text, and the page
// made from them has every command, option and the sections a manual needs, in roff that
// renders without a warning.
#include "manual.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "comandos.h"
#include "opcoes.h"
#include "support/processo.h"

namespace {

std::string RoffDe(const std::string& opcao) {
  std::string r;
  for (char c : opcao) r += c == '-' ? std::string("\\-") : std::string(1, c);
  return r;
}

TEST(Manual, EveryOptionOfEveryCommandIsInItsHelpAndOnThePage) {
  const std::string pagina = quorvel::teste::LeArquivo(PONTO_MANUAL);
  ASSERT_FALSE(pagina.empty());
  const std::string geral = ponto::AjudaGeral();
  for (const auto& c : ponto::TabelaDeComandos()) {
    SCOPED_TRACE(c.nome);
    EXPECT_NE(geral.find(" " + c.nome + " "), std::string::npos);
    EXPECT_NE(pagina.find(".SS " + RoffDe(c.nome) + "\n"), std::string::npos);
    for (const auto& o : c.opcoes) {
      EXPECT_NE(c.ajuda.find(o.nome), std::string::npos) << o.nome << " falta na ajuda";
      EXPECT_NE(pagina.find(RoffDe(o.nome)), std::string::npos) << o.nome << " falta no manual";
    }
  }
  for (const auto& o : ponto::OpcoesComuns())
    EXPECT_NE(geral.find(o.nome), std::string::npos) << o.nome;
  for (const char* secao : {".SH NOME", ".SH SINOPSE", ".SH COMANDOS", ".SH OPÇÕES COMUNS",
                            ".SH AMBIENTE", ".SH ARQUIVOS", ".SH CÓDIGOS DE SAÍDA", ".SH EXEMPLOS"})
    EXPECT_NE(pagina.find(secao), std::string::npos) << secao;
  // The examples are the README's tour, which another test runs as printed.
  const auto tour =
      ponto::ComandosDoTour(quorvel::teste::LeArquivo(std::string(QUORVEL_FONTE) + "/README.md"));
  ASSERT_FALSE(tour.empty());
  for (const auto& c : tour) EXPECT_NE(pagina.find(RoffDe(c)), std::string::npos) << c;
  EXPECT_EQ(pagina, ponto::ManualDoPonto(tour));  // the installed page is the program's own
}

// relogio-virtual's page is written by hand: every option and clock field its --ajuda names is
// on it.
TEST(Manual, TheClockDaemonsPageNamesEverythingItsHelpDoes) {
  FILE* p = ::popen((std::string(RELOGIO_VIRTUAL_BINARIO) + " --ajuda").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string ajuda;
  char b[512];
  for (size_t n; (n = std::fread(b, 1, sizeof b, p)) > 0;) ajuda.append(b, n);
  ASSERT_EQ(::pclose(p), 0);
  const std::string pagina =
      quorvel::teste::LeArquivo(std::string(QUORVEL_FONTE) + "/man/relogio-virtual.1");
  std::smatch m;
  size_t nomes = 0;
  for (auto it = ajuda.cbegin();
       std::regex_search(it, ajuda.cend(), m, std::regex(R"((--[a-z-]+)|\n  ([a-z]+)[= ])"));
       it = m.suffix().first) {
    const std::string nome = m[1].matched ? m[1].str() : m[2].str();
    EXPECT_NE(pagina.find(RoffDe(nome)), std::string::npos) << nome;
    ++nomes;
  }
  EXPECT_GT(nomes, 25u);
  for (const char* secao : {".SH ARQUIVOS", ".SH CÓDIGOS DE SAÍDA", ".SH EXEMPLOS"})
    EXPECT_NE(pagina.find(secao), std::string::npos) << secao;
}

TEST(Manual, ThePagesRenderWithoutAWarning) {
  const std::string comando = std::string("groff -k -man -Tutf8 -ww -z ") + PONTO_MANUAL + " " +
                              QUORVEL_FONTE + "/man/relogio-virtual.1 2>&1";
  FILE* p = ::popen(comando.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string avisos;
  char b[512];
  for (size_t n; (n = std::fread(b, 1, sizeof b, p)) > 0;) avisos.append(b, n);
  EXPECT_EQ(::pclose(p), 0);
  EXPECT_EQ(avisos, "");
}

}  // namespace
