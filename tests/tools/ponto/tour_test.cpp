// The README's tour of ponto, run as printed and in order on the embedded clocks: each command
// does what the line's comment says, and what one command did is there for the next.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "manual.h"
#include "support/processo.h"

namespace {

using quorvel::teste::EsperaAte;
using quorvel::teste::Processo;

struct Saida {
  int codigo;
  std::string saida, erros;
};

// The command lines of the tour block (the manual's examples too), without "ponto ".
std::vector<std::string> ComandosDoTour() {
  std::vector<std::string> r;
  for (const auto& c :
       ponto::ComandosDoTour(quorvel::teste::LeArquivo(std::string(QUORVEL_FONTE) + "/README.md")))
    r.push_back(c.substr(6));
  return r;
}

// Words as the shell splits them (double quotes only, which is all the tour uses).
std::vector<std::string> Palavras(const std::string& linha) {
  std::vector<std::string> r;
  std::string atual;
  bool aspas = false, tem = false;
  for (char c : linha) {
    if (c == '"') {
      aspas = !aspas;
      tem = true;
    } else if (c == ' ' && !aspas) {
      if (tem) r.push_back(atual);
      atual.clear();
      tem = false;
    } else {
      atual.push_back(c);
      tem = true;
    }
  }
  if (tem) r.push_back(atual);
  return r;
}

Saida Roda(const std::string& comando, int passo) {
  Processo p(
      PONTO_BINARIO, Palavras(comando),
      ::testing::TempDir() + "tour_" + std::to_string(::getpid()) + "_" + std::to_string(passo));
  const int codigo = p.Espera();
  return {codigo, p.Saida(), p.Erros()};
}

// The rows of a table ponto printed (heading and rule left out), each cut into its columns.
std::vector<std::vector<std::string>> Linhas(const std::string& tabela) {
  std::vector<std::vector<std::string>> r;
  std::istringstream in(tabela);
  std::string linha;
  bool depoisDaRegua = false;
  while (std::getline(in, linha)) {
    if (linha.rfind("---", 0) == 0) {
      depoisDaRegua = true;
      continue;
    }
    if (!depoisDaRegua || linha.empty()) continue;
    std::vector<std::string> colunas;
    std::istringstream palavras(std::regex_replace(linha, std::regex("  +"), "\t"));
    for (std::string c; std::getline(palavras, c, '\t');) colunas.push_back(c);
    if (colunas.size() > 1) r.push_back(colunas);  // not the summary under the table
  }
  return r;
}

// Employee codes per clock in "funcionarios listar".
std::map<std::string, std::set<std::string>> CodigosPorRelogio(const std::string& tabela) {
  std::map<std::string, std::set<std::string>> r;
  for (const auto& l : Linhas(tabela))
    if (l.size() >= 2) r[l[0]].insert(l[1]);
  return r;
}

long long Numero(const std::string& texto, const std::string& padrao) {
  std::smatch m;
  if (!std::regex_search(texto, m, std::regex(padrao))) return -1;
  return std::stoll(m[1]);
}

TEST(Tour, TheReadmesTourRunsAsPrintedAndEachCommandSeesWhatTheLastOneDid) {
  ASSERT_EQ(::chdir(QUORVEL_FONTE), 0);  // the tour names docs/exemplos/ from the source folder
  const std::vector<std::string> esperados = {
      "coletar",
      "coletar --relogio 2 --nsr 70",
      "coletar --formato csv",
      "monitorar",
      "status",
      "data-hora --definir \"06/12/2026 08:00:00\"",
      "data-hora",
      "funcionarios enviar docs/exemplos/funcionarios.csv",
      "funcionarios enviar docs/exemplos/funcionarios.json",
      "funcionarios listar",
      "funcionarios excluir --codigo 3",
      "funcionarios listar",
      "empregador --nome \"Acme Ltda\" --tipo cnpj --documento 11222333000181",
      "sirene --codigo 3 --hora 08:30",
      "horario-verao --inicio \"18/10/2026 00:00\" --fim \"21/02/2027 00:00\"",
      "verificacao 1para1",
      "apagar-marcacoes --relogio 1",
      "coletar --relogio 1",
      "desabilitar",
      "habilitar",
      "embutidos",
      "embutidos --recriar",
      "coletar --ajuda",
  };
  // The README and this test change together: a line added, removed or reworded there fails
  // here until its check is written.
  ASSERT_EQ(ComandosDoTour(), esperados);
  int passo = 0;
  // The tour's next command, as printed.
  const auto proximo = [&] {
    const int este = passo++;
    return Roda(esperados[este], este);
  };

  // Punches of both clocks.
  Saida coleta = proximo();
  ASSERT_EQ(coleta.codigo, 0) << coleta.erros;
  const long long noInicio = Numero(coleta.saida, R"((\d+) marcações de 2 relógios\.)");
  ASSERT_GT(noInicio, 0) << coleta.saida;

  // Register clock 2 after NSR 70 (the clock's read pointer): only clock 2, NSRs from 71 on,
  // consecutive.
  Saida desde70 = proximo();
  ASSERT_EQ(desde70.codigo, 0) << desde70.erros;
  long long nsr = 71;
  for (const auto& l : Linhas(desde70.saida)) {
    ASSERT_EQ(l.front(), "2");
    ASSERT_GE(l.size(), 4u);
    EXPECT_EQ(l[l.size() - 2], std::to_string(nsr++));
  }
  EXPECT_GT(nsr, 71);

  // CSV: the header of fields and one row per punch.
  Saida csv = proximo();
  ASSERT_EQ(csv.codigo, 0) << csv.erros;
  EXPECT_EQ(csv.saida.rfind("relogio;data_hora;cartao;digital;nsr;pis\n", 0), 0u);
  EXPECT_EQ(quorvel::teste::Ocorrencias(csv.saida, "\n"), static_cast<size_t>(noInicio) + 1);

  // monitorar until Ctrl-C, once each clock delivered a new punch.
  size_t novas = 0;
  {
    Processo m(PONTO_BINARIO, Palavras(esperados[passo]),
               ::testing::TempDir() + "tour_monitorar_" + std::to_string(::getpid()));
    ++passo;
    ASSERT_TRUE(EsperaAte([&] {
      const std::string s = m.Saida();
      return s.find("relógio 1 ") != std::string::npos && s.find("relógio 2 ") != std::string::npos;
    })) << m.Saida()
        << m.Erros();
    m.Sinaliza(SIGINT);
    EXPECT_EQ(m.Espera(), 0) << m.Erros();
    novas = quorvel::teste::Ocorrencias(m.Saida(), "  relógio ");
    EXPECT_EQ(Numero(m.Saida(), R"(Monitoração encerrada: (\d+) marcaç)"),
              static_cast<long long>(novas))
        << m.Saida();
  }

  // status: the clocks hold what they held plus exactly what monitorar showed arriving.
  Saida status = proximo();
  ASSERT_EQ(status.codigo, 0) << status.erros;
  long long total = 0;
  for (const auto& l : Linhas(status.saida)) total += std::stoll(l.at(6));
  EXPECT_EQ(total, noInicio + static_cast<long long>(novas)) << status.saida;

  // The time set is the time the clocks keep, and they run on from it.
  Saida definir = proximo();
  EXPECT_EQ(definir.codigo, 0) << definir.erros;
  Saida hora = proximo();
  ASSERT_EQ(hora.codigo, 0) << hora.erros;
  const auto horas = Linhas(hora.saida);
  ASSERT_EQ(horas.size(), 2u) << hora.saida;
  for (const auto& l : horas) EXPECT_EQ(l.at(1).rfind("06/12/2026 08:", 0), 0u) << hora.saida;

  // The sample file: one employee without password or finger is refused with the reason.
  Saida csvEnvio = proximo();
  EXPECT_EQ(csvEnvio.codigo, 3) << csvEnvio.erros;
  EXPECT_NE(csvEnvio.saida.find("sem senha nem digital"), std::string::npos) << csvEnvio.saida;
  EXPECT_NE(csvEnvio.erros.find("4 de 5 funcionários gravados, 1 não gravado"), std::string::npos)
      << csvEnvio.erros;
  Saida jsonEnvio = proximo();
  EXPECT_EQ(jsonEnvio.codigo, 0) << jsonEnvio.erros;

  // The sample employees and everyone sent (both files), on both clocks.
  Saida lista = proximo();
  ASSERT_EQ(lista.codigo, 0) << lista.erros;
  const std::set<std::string> todos = {"1", "2", "3", "4", "5", "10", "11", "12", "14", "20", "21"};
  auto codigos = CodigosPorRelogio(lista.saida);
  EXPECT_EQ(codigos["1"], todos) << lista.saida;
  EXPECT_EQ(codigos["2"], todos) << lista.saida;

  Saida excluir = proximo();
  EXPECT_EQ(excluir.codigo, 0) << excluir.erros;
  Saida depois = proximo();
  std::set<std::string> sem3 = todos;
  sem3.erase("3");
  codigos = CodigosPorRelogio(depois.saida);
  EXPECT_EQ(codigos["1"], sem3) << depois.saida;
  EXPECT_EQ(codigos["2"], sem3) << depois.saida;

  // Configuration: done where the model has it, said to be ignored where it has not.
  for (int i = 0; i < 4; ++i) {
    Saida r = Roda(esperados[passo], passo);
    EXPECT_EQ(r.codigo, 0) << esperados[passo] << ": " << r.erros;
    EXPECT_EQ(Linhas(r.saida).size(), 2u) << r.saida;
    ++passo;
  }

  // Asked at the terminal and confirmed: clock 1's punches are gone, clock 2's are not.
  std::vector<std::string> apagar = Palavras(esperados[passo]);
  ++passo;
  const auto [codigoApagar, tela] =
      quorvel::teste::NoTerminal(PONTO_BINARIO, apagar, "Confirma? [s/N]", "s");
  EXPECT_EQ(codigoApagar, 0) << tela;
  Saida vazio = proximo();
  EXPECT_EQ(vazio.codigo, 0) << vazio.erros;
  EXPECT_NE(vazio.saida.find("0 marcações de 1 relógio."), std::string::npos) << vazio.saida;

  for (int i = 0; i < 2; ++i) {
    Saida r = Roda(esperados[passo], passo);
    EXPECT_EQ(r.codigo, 0) << esperados[passo] << ": " << r.erros;
    ++passo;
  }

  // Where the state is, and what each clock holds now.
  Saida embutidos = proximo();
  ASSERT_EQ(embutidos.codigo, 0) << embutidos.erros;
  const std::string pasta = std::string(std::getenv("XDG_STATE_HOME")) + "/quorvel/";
  auto linhas = Linhas(embutidos.saida);
  ASSERT_EQ(linhas.size(), 2u) << embutidos.saida;
  EXPECT_EQ(linhas[0],
            (std::vector<std::string>{"1", "quorvel", "10", "0", pasta + "relogio-1.diario"}));
  EXPECT_EQ(linhas[1].at(2), "10");
  EXPECT_NE(linhas[1].at(3), "0");

  // Started over: the sample employees again, and the punches back on clock 1.
  Saida recriar = proximo();
  ASSERT_EQ(recriar.codigo, 0) << recriar.erros;
  linhas = Linhas(recriar.saida);
  ASSERT_EQ(linhas.size(), 2u) << recriar.saida;
  for (const auto& l : linhas) {
    EXPECT_EQ(l.at(2), "5") << recriar.saida;
    EXPECT_NE(l.at(3), "0") << recriar.saida;
  }

  Saida ajuda = proximo();
  EXPECT_EQ(ajuda.codigo, 0);
  EXPECT_EQ(ajuda.saida.rfind("Uso: ponto coletar", 0), 0u) << ajuda.saida;
  EXPECT_EQ(passo, static_cast<int>(esperados.size()));
}

}  // namespace

namespace {

std::string PastaDoEstado() { return std::string(std::getenv("XDG_STATE_HOME")) + "/quorvel"; }

// The NSRs a CSV collection of clock 2 holds, in order.
std::vector<long long> NsrsDoCsv(const std::string& csv) {
  std::vector<long long> r;
  std::istringstream in(csv);
  std::string linha;
  std::getline(in, linha);
  while (std::getline(in, linha)) {
    std::vector<std::string> campos;
    std::istringstream c(linha);
    for (std::string campo; std::getline(c, campo, ';');) campos.push_back(campo);
    if (campos.size() >= 5 && campos[0] == "2") r.push_back(std::stoll(campos[4]));
  }
  return r;
}

// A second ponto waits while monitorar holds the embedded clocks, says so, and then sees every
// punch monitorar showed arriving: nothing lost, nothing twice.
TEST(Embutidos, ASecondPontoWaitsForTheFirstAndSeesWhatItLeft) {
  Processo monitor(PONTO_BINARIO, {"monitorar", "--gerar-a-cada", "100"},
                   ::testing::TempDir() + "embutidos_monitor_" + std::to_string(::getpid()));
  ASSERT_TRUE(EsperaAte([&] { return monitor.Saida().find("NSR 10") != std::string::npos; }))
      << monitor.Saida() << monitor.Erros();
  Processo coleta(PONTO_BINARIO, {"coletar", "--relogio", "2", "--formato", "csv"},
                  ::testing::TempDir() + "embutidos_coleta_" + std::to_string(::getpid()));
  ASSERT_TRUE(EsperaAte([&] {
    return coleta.Erros().find("Aguardando outro ponto") != std::string::npos;
  })) << coleta.Erros();
  EXPECT_EQ(coleta.Saida(), "");  // nothing read while the other holds the clocks
  monitor.Sinaliza(SIGINT);
  ASSERT_EQ(monitor.Espera(), 0) << monitor.Erros();
  ASSERT_EQ(coleta.Espera(), 0) << coleta.Erros();

  std::vector<long long> mostradas;
  std::istringstream linhas(monitor.Saida());
  for (std::string l; std::getline(linhas, l);)
    if (const auto p = l.find("NSR "); p != std::string::npos)
      mostradas.push_back(std::stoll(l.substr(p + 4)));
  ASSERT_FALSE(mostradas.empty());
  const std::vector<long long> coletadas = NsrsDoCsv(coleta.Saida());
  ASSERT_FALSE(coletadas.empty());
  for (size_t i = 0; i < coletadas.size(); ++i)
    ASSERT_EQ(coletadas[i], static_cast<long long>(i) + 1) << "NSRs 1.." << coletadas.size();
  // Every punch shown is on the clock, in the order shown; one made while Ctrl-C was stopping
  // the monitor was not shown but is on the clock all the same.
  EXPECT_NE(std::search(coletadas.begin(), coletadas.end(), mostradas.begin(), mostradas.end()),
            coletadas.end());
  EXPECT_GE(coletadas.back(), mostradas.back());
}

// A state file damaged in its middle stops every command with the way out named; a record cut
// by a crash at the end is dropped with a word; a folder that cannot be written leaves the
// clocks in memory with a warning.
TEST(Embutidos, DamagedTornAndUnwritableStateAreEachToldApart) {
  Saida primeira = Roda("status", 0);
  ASSERT_EQ(primeira.codigo, 0) << primeira.erros;
  const std::string diario = PastaDoEstado() + "/relogio-1.diario";
  std::string texto = quorvel::teste::LeArquivo(diario);
  ASSERT_GT(quorvel::teste::Ocorrencias(texto, "\n"), 3u);

  // Torn: half a record after the last whole one.
  std::ofstream(diario, std::ios::app) << "0badc0de 999999 {\"t\":\"m\",";
  Saida cortado = Roda("status --relogio 1 --formato json", 1);
  EXPECT_EQ(cortado.codigo, 0) << cortado.erros;
  EXPECT_NE(cortado.erros.find("registro incompleto"), std::string::npos) << cortado.erros;
  EXPECT_EQ(quorvel::teste::LeArquivo(diario), texto);

  // Damaged: one character changed inside the second record.
  const size_t segunda = texto.find('\n') + 20;
  texto[segunda] = texto[segunda] == 'x' ? 'y' : 'x';
  std::ofstream(diario, std::ios::trunc) << texto;
  Saida danificado = Roda("coletar", 2);
  EXPECT_EQ(danificado.codigo, 4);
  EXPECT_EQ(danificado.saida, "");
  EXPECT_NE(danificado.erros.find("relogio-1.diario, linha 2"), std::string::npos)
      << danificado.erros;
  EXPECT_NE(danificado.erros.find("ponto embutidos --recriar"), std::string::npos);
  Saida recriar = Roda("embutidos --recriar", 3);
  EXPECT_EQ(recriar.codigo, 0) << recriar.erros;
  EXPECT_EQ(Roda("coletar", 4).codigo, 0);

  // Unwritable: the state folder's place is a file.
  const std::string arquivo = ::testing::TempDir() + "nao-e-pasta_" + std::to_string(::getpid());
  std::ofstream(arquivo) << "x";
  ::setenv("XDG_STATE_HOME", arquivo.c_str(), 1);
  Saida semPasta = Roda("funcionarios listar --formato csv", 5);
  EXPECT_EQ(semPasta.codigo, 0) << semPasta.erros;
  EXPECT_NE(semPasta.erros.find("não foi possível guardar o estado dos relógios embutidos"),
            std::string::npos)
      << semPasta.erros;
  EXPECT_EQ(quorvel::teste::Ocorrencias(semPasta.saida, "\n"), 11u);  // header + 5 + 5
  std::remove(arquivo.c_str());
}

}  // namespace
