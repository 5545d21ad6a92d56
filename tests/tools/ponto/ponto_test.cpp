// ponto end to end: the built binary on its embedded virtual clocks, and its file readers.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "arquivos.h"
#include "opcoes.h"
#include "partilha.h"
#include "saida.h"
#include "store/armazem.h"
#include "support/daemon.h"
#include "support/processo.h"
#include "support/sqlite_recusa.h"

namespace {

struct Resultado {
  int codigo;
  std::string saida;  // stdout
  std::string erros;  // stderr
};

std::string Le(const std::string& caminho) {
  std::ifstream f(caminho);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

Resultado Roda(const std::string& argumentos, const std::string& prefixo = "") {
  const std::string base = ::testing::TempDir() + "ponto_" + std::to_string(::getpid());
  const std::string comando = prefixo + PONTO_BINARIO + std::string(" ") + argumentos + " >" +
                              base + ".out 2>" + base + ".err </dev/null";
  const int status = std::system(comando.c_str());
  Resultado r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Le(base + ".out"), Le(base + ".err")};
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return r;
}

std::string Arquivo(const std::string& nome, const std::string& conteudo) {
  const std::string caminho = ::testing::TempDir() + nome;
  std::ofstream(caminho) << conteudo;
  return caminho;
}

TEST(Ponto, CollectsFromTheEmbeddedClocksInEveryFormat) {
  Resultado csv = Roda("coletar --formato csv");
  ASSERT_EQ(csv.codigo, 0) << csv.erros;
  std::istringstream linhas(csv.saida);
  std::string linha;
  std::getline(linhas, linha);
  EXPECT_EQ(linha, "relogio;data_hora;cartao;digital;nsr;pis");
  int quorvel = 0, tarvenix = 0;
  while (std::getline(linhas, linha)) {
    EXPECT_EQ(std::count(linha.begin(), linha.end(), ';'), 5) << linha;
    (linha.rfind("1;", 0) == 0 ? quorvel : tarvenix)++;
  }
  EXPECT_GT(quorvel, 0);
  EXPECT_GT(tarvenix, 0);

  Resultado json = Roda("coletar --relogio 2 --formato json");
  ASSERT_EQ(json.codigo, 0) << json.erros;
  const auto doc = nlohmann::json::parse(json.saida);
  ASSERT_TRUE(doc.is_array());
  ASSERT_FALSE(doc.empty());
  // Numbers as numbers, absent values as null, codes with leading zeros as text.
  EXPECT_EQ(doc[0]["relogio"], 2);
  EXPECT_EQ(doc[0]["nsr"], "1");
  EXPECT_TRUE(doc[0]["cartao"].is_null());
  EXPECT_TRUE(doc[0]["digital"].is_null());
  EXPECT_EQ(doc[0]["pis"].get<std::string>().size(), 11u);

  Resultado tabela = Roda("coletar --relogio 2 --nsr 70");
  ASSERT_EQ(tabela.codigo, 0);
  EXPECT_NE(tabela.saida.find("Relógio  Data e hora"), std::string::npos);
  EXPECT_NE(tabela.saida.find(" 71 "), std::string::npos);
  EXPECT_EQ(tabela.saida.find(" 70 "), std::string::npos);
}

TEST(Opcoes, ANearMissIsNamedAndAFarOneIsNot) {
  const std::vector<std::string> nomes = {"coletar", "exportar", "status", "limpar"};
  EXPECT_EQ(ponto::Parecido("coletra", nomes), "coletar");
  EXPECT_EQ(ponto::Parecido("stats", nomes), "status");
  EXPECT_EQ(ponto::Parecido("limpra", nomes), "limpar");
  EXPECT_FALSE(ponto::Parecido("voar", nomes));
  EXPECT_FALSE(ponto::Parecido("xy", {"ab"}));  // two edits of two letters is anything
  EXPECT_EQ(ponto::QuisDizer("voar", nomes), "");
}

TEST(Ponto, ExplainsBadInputWithExitCode2) {
  struct Caso {
    std::string argumentos, mensagem;
  };
  for (const Caso& c : std::vector<Caso>{
           {"coletar --relogio 1 --ip 10.0.0.1 --modelo relogiox",
            "modelo de relógio desconhecido"},
           {"coletar --formato xml", "formato desconhecido"},
           {"coletar --relogio", "precisa de um valor"},
           // A missing value is not taken from the next option; a switch takes no value.
           {"coletar --ponteiro --nsr 3", "a opção --ponteiro precisa de um valor (veio --nsr)."},
           {"coletar --formato csv --bom=3", "a opção --bom não recebe valor."},
           {"coletar --formato=csv --bom=", "a opção --bom não recebe valor."},
           // A command that takes no words after its name says so, whichever it is.
           {"status extra", "argumento inesperado \"extra\" para status"},
           {"limpar agora", "argumento inesperado \"agora\" para limpar"},
           {"--relogio 1 status", "a opção --relogio vem depois do comando"},
           {"coletar --inexistente", "opção desconhecida"},
           {"voar", "comando desconhecido"},
           {"funcionarios enviar /nao/existe.csv", "não foi possível abrir"},
           {"sirene --codigo 51 --hora 08:00", "valor inválido para --codigo"},
           {"sirene --codigo 1 --hora 25:00", "horário inválido"},
           {"data-hora --definir 31/04/2026", "data e hora inválida"},
           {"status --hora 08:00", "a opção --hora não vale para o comando status"},
           {"coletar --apagar", "a opção --apagar não vale para o comando coletar"},
           {"verificacao 1para1 --nsr 5", "a opção --nsr não vale para o comando verificacao"},
           // A near miss is named.
           {"coltear", "comando desconhecido \"coltear\". Você quis dizer coletar?"},
           {"coletar --fromato csv", "opção desconhecida: --fromato. Você quis dizer --formato?"},
           {"exportar --banco x.db --saidaa y", "Você quis dizer --saida?"},
           // A malformed address is bad input, not an unreachable clock; a folder or a device
           // is named for what it is.
           {"coletar --relogio 1 --ip 300.1.1.1", "--ip: endereço inválido \"300.1.1.1\""},
           {"coletar --relogio 1 --ip 10.0.1:4371", "endereço inválido \"10.0.1\""},
           {"coletar --relogio 1 --ip [::1::2]:4371", "endereço inválido \"::1::2\""},
           {"funcionarios enviar /tmp", "\"/tmp\" é uma pasta"},
           {"funcionarios enviar /dev/null", "\"/dev/null\" não é um arquivo comum"},
           // A file without employees is a wrong file, not a send that went well.
           {"funcionarios enviar " + Arquivo("so-cabecalho.csv", "codigo;nome;pis\n"),
            "so-cabecalho.csv: nenhum funcionário no arquivo (só o cabeçalho). Nada foi enviado."},
           {"funcionarios enviar " + Arquivo("lista-vazia.json", "[]"),
            "nenhum funcionário no arquivo (a lista está vazia)"},
           // A summer time that ends before it starts.
           {"horario-verao --inicio 10/03/2027 --fim 01/02/2027",
            "--fim (01/02/2027) deve ser depois de --inicio (10/03/2027); nada foi gravado."},
       }) {
    Resultado r = Roda(c.argumentos);
    EXPECT_EQ(r.codigo, 2) << c.argumentos;
    EXPECT_NE(r.erros.find(c.mensagem), std::string::npos) << c.argumentos << ": " << r.erros;
  }
}

TEST(Ponto, AMalformedRowIsNamedAndNothingIsSent) {
  const std::string arquivo =
      Arquivo("malformado.csv", "codigo;nome;senha\n1;Ana;12\nxx;Bia;34\n3;Caio;56\n");
  Resultado r = Roda("funcionarios enviar " + arquivo);
  EXPECT_EQ(r.codigo, 2);
  EXPECT_NE(r.erros.find("linha 3: código inválido \"xx\""), std::string::npos) << r.erros;
  EXPECT_NE(r.erros.find("Nenhum funcionário foi enviado"), std::string::npos);
  EXPECT_EQ(r.saida, "");
}

TEST(Ponto, SendsEmployeesAndPrintsRefusals) {
  const std::string arquivo = Arquivo("func.csv",
                                      "codigo;nome;senha;supervisor;pis;digitais\n"
                                      "40;Ana;12;sim;12034567899;3:QUJDRA==\n"
                                      "41;Bia;;não;;\n"
                                      "42;Caio;;não;;8:*\n");
  Resultado r = Roda("funcionarios enviar " + arquivo + " --formato csv");
  EXPECT_EQ(r.codigo, 3) << r.erros;
  EXPECT_NE(r.saida.find("1;41;Bia;sem senha nem digital"), std::string::npos) << r.saida;
  // The clock's own reason, with its number.
  EXPECT_NE(r.saida.find("1;42;Caio;relógio recusou uma digital: valor que o relógio não aceita "
                         "(PIS, CPF, cartão ou template) (erro -5)"),
            std::string::npos)
      << r.saida;
  EXPECT_EQ(r.saida.find(";40;"), std::string::npos);
  // The summary tells the stored from the stored without a finger and the not stored.
  Resultado tabela = Roda("funcionarios enviar " + arquivo + " --relogio 1");
  EXPECT_NE(tabela.erros.find("Relógio 1: 1 de 3 funcionários gravados, 1 gravado sem alguma "
                              "digital, 1 não gravado."),
            std::string::npos)
      << tabela.erros;
  EXPECT_NE(tabela.erros.find("1 recusa do relógio: valor que o relógio não aceita"),
            std::string::npos)
      << tabela.erros;
}

// A clock whose memory is full says so in every refusal.
TEST(Ponto, ARefusalForAFullClockSaysSo) {
  quorvel::teste::Daemon d({"--relogio", "codigo=1,porta=0", "--recusar", "SdkSetUserInfo=-4"}, 1);
  const std::string arquivo = Arquivo("cheio.csv",
                                      "codigo;nome;senha\n"
                                      "1;Ana;1\n2;Bia;2\n3;Caio;3\n");
  Resultado r = Roda("funcionarios enviar " + arquivo + " --relogio 1 --ip 127.0.0.1:" +
                     std::to_string(d.Porta(0)) + " --formato csv");
  EXPECT_EQ(r.codigo, 3) << r.erros;
  EXPECT_NE(
      r.saida.find(";3;Caio;relógio recusou o funcionário: memória do relógio cheia (erro -4)"),
      std::string::npos)
      << r.saida << r.erros;
}

TEST(Ponto, StatusConfigurationAndConnectionFailures) {
  Resultado s = Roda("status --formato json");
  ASSERT_EQ(s.codigo, 0) << s.erros;
  const auto doc = nlohmann::json::parse(s.saida);
  ASSERT_EQ(doc.size(), 2u);
  EXPECT_EQ(doc[1]["modelo"], "tarvenix");
  EXPECT_EQ(doc[0]["usuarios"], 5);
  EXPECT_TRUE(doc[0]["ocupacao_percentual"].is_number());

  Resultado sirene = Roda("sirene --codigo 3 --hora 08:30");
  EXPECT_EQ(sirene.codigo, 0) << sirene.erros;
  EXPECT_NE(sirene.saida.find("não suportado pelo modelo tarvenix"), std::string::npos)
      << sirene.saida;
  EXPECT_EQ(Roda("verificacao 1para1").codigo, 0);
  EXPECT_EQ(Roda("horario-verao --inicio \"18/10/2026 00:00\" --fim \"21/02/2027 00:00\"").codigo,
            0);
  EXPECT_EQ(Roda("empregador --nome Acme --tipo cnpj --documento 11222333000181").codigo, 0);
  EXPECT_EQ(Roda("data-hora --agora").codigo, 0);
  EXPECT_EQ(Roda("funcionarios excluir --codigo 2").codigo, 0);
  Resultado excluir = Roda("funcionarios excluir --codigo 99");
  EXPECT_EQ(excluir.codigo, 3);
  EXPECT_NE(excluir.erros.find("não está gravado"), std::string::npos);

  // A loopback address nothing listens on: refused at once, and no traffic leaves the machine.
  Resultado semRelogio =
      Roda("coletar --relogio 7 --ip " + quorvel::teste::EnderecoLoopback(8) + ":4370");
  EXPECT_EQ(semRelogio.codigo, 4);
  EXPECT_NE(semRelogio.erros.find("não foi possível conectar ao relógio 7"), std::string::npos);
}

TEST(Ponto, MonitorsUntilCtrlC) {
  Resultado r = Roda("monitorar --gerar-a-cada 200", "timeout --preserve-status -s INT 2 ");
  EXPECT_EQ(r.codigo, 0) << r.erros;
  EXPECT_NE(r.saida.find("Monitorando 2 relógios"), std::string::npos);
  EXPECT_NE(r.saida.find("NSR "), std::string::npos) << r.saida;
  EXPECT_NE(r.saida.find("Monitoração encerrada"), std::string::npos);

  Resultado csv = Roda("monitorar --segundos 1 --gerar-a-cada 100 --relogio 1 --formato csv");
  EXPECT_EQ(csv.codigo, 0);
  EXPECT_EQ(csv.saida.rfind("relogio;data_hora;cartao;digital;nsr;pis\n", 0), 0u);
}

std::pair<int, std::string> NoTerminal(const std::vector<std::string>& argumentos,
                                       const std::string& pergunta, const std::string& resposta) {
  return quorvel::teste::NoTerminal(PONTO_BINARIO, argumentos, pergunta, resposta);
}

int64_t MarcacoesNoRelogio(const std::string& relogio) {
  Resultado r = Roda("status " + relogio + " --formato json");
  const auto j = nlohmann::json::parse(r.saida, nullptr, false);
  return j.is_array() && !j.empty() ? j[0].at("marcacoes").get<int64_t>() : -1;
}

// What cannot be undone is confirmed: at the terminal, or by --sim; a script without --sim
// changes nothing.
TEST(Ponto, DestructiveCommandsAskFirst) {
  quorvel::teste::Daemon d({"--relogio", "codigo=1,porta=0,exemplo"}, 1);
  const std::string relogio = "--relogio 1 --ip 127.0.0.1:" + std::to_string(d.Porta(0));
  const int64_t antes = MarcacoesNoRelogio(relogio);
  ASSERT_GT(antes, 0);

  Resultado semTerminal = Roda("apagar-marcacoes " + relogio);
  EXPECT_EQ(semTerminal.codigo, 2);
  EXPECT_NE(semTerminal.erros.find("use --sim"), std::string::npos) << semTerminal.erros;
  EXPECT_EQ(Roda("limpar " + relogio).codigo, 2);
  EXPECT_EQ(Roda("funcionarios excluir --todos " + relogio).codigo, 2);
  EXPECT_EQ(MarcacoesNoRelogio(relogio), antes);

  const std::vector<std::string> args = {"apagar-marcacoes", "--relogio", "1", "--ip",
                                         "127.0.0.1:" + std::to_string(d.Porta(0))};
  const auto [naoCodigo, naoTela] = NoTerminal(args, "Confirma? [s/N]", "n");
  EXPECT_EQ(naoCodigo, 1) << naoTela;
  EXPECT_NE(naoTela.find("Nada foi apagado"), std::string::npos) << naoTela;
  EXPECT_EQ(MarcacoesNoRelogio(relogio), antes);
  const auto [simCodigo, simTela] = NoTerminal(args, "Confirma? [s/N]", "s");
  EXPECT_EQ(simCodigo, 0) << simTela;
  EXPECT_EQ(MarcacoesNoRelogio(relogio), 0);

  EXPECT_EQ(Roda("funcionarios excluir --todos --sim " + relogio).codigo, 0);
  Resultado lista = Roda("funcionarios listar --formato json " + relogio);
  EXPECT_EQ(nlohmann::json::parse(lista.saida, nullptr, false), nlohmann::json::array())
      << lista.saida;
  EXPECT_EQ(Roda("limpar --sim " + relogio).codigo, 0);
}

// A serial clock named by its device, on the command line and in a clocks file.
TEST(Ponto, ASerialClockIsNamedByItsDevice) {
  quorvel::teste::Daemon d({"--relogio", "codigo=3,serial,exemplo"}, 1);
  const std::string dispositivo = d.Serial(0);
  Resultado r = Roda("status --relogio 3 --serial " + dispositivo + " --formato json");
  ASSERT_EQ(r.codigo, 0) << r.erros;
  const auto j = nlohmann::json::parse(r.saida, nullptr, false);
  ASSERT_TRUE(j.is_array() && j.size() == 1u) << r.saida;
  EXPECT_EQ(j[0].at("usuarios"), 5);
  const std::string arquivo =
      Arquivo("ponto_seriais.txt", "3;serial:" + dispositivo + ";quorvel\n");
  Resultado doArquivo = Roda("status --relogios " + arquivo + " --formato json");
  ASSERT_EQ(doArquivo.codigo, 0) << doArquivo.erros;
  EXPECT_EQ(nlohmann::json::parse(doArquivo.saida)[0].at("usuarios"), 5);
  // A device that is not there is named in the failure.
  Resultado ausente = Roda("status --relogio 4 --serial /dev/nao-existe-quorvel");
  EXPECT_EQ(ausente.codigo, 4) << ausente.erros;
  EXPECT_NE(ausente.erros.find("/dev/nao-existe-quorvel"), std::string::npos) << ausente.erros;
  EXPECT_EQ(Roda("status --relogio 4 --serial 0").codigo, 2);
  EXPECT_EQ(Roda("status --relogio 4 --serial ttyUSB0").codigo, 2);
}

// Ctrl-C during a long send stops between two employees: exit 130, and the summary counts
// exactly what the clock holds.
TEST(Ponto, CtrlCDuringASendStopsCleanlyAndSaysWhatWasWritten) {
  const std::string registro =
      ::testing::TempDir() + "ponto_envio_" + std::to_string(::getpid()) + ".log";
  std::remove(registro.c_str());
  quorvel::teste::Daemon d({"--relogio", "codigo=1,porta=0", "--atraso", "5", "--detalhar"}, 1,
                           registro);
  std::string csv = "codigo;nome;senha\n";
  for (int i = 1; i <= 400; ++i) csv += std::to_string(i) + ";F" + std::to_string(i) + ";1\n";
  const std::string arquivo = Arquivo("ponto_muitos.csv", csv);
  const std::string ip = "127.0.0.1:" + std::to_string(d.Porta(0));
  quorvel::teste::Processo ponto(
      PONTO_BINARIO, {"funcionarios", "enviar", arquivo, "--relogio", "1", "--ip", ip},
      ::testing::TempDir() + "ponto_envio_" + std::to_string(::getpid()));
  ASSERT_TRUE(quorvel::teste::EsperaAte([&] {
    return quorvel::teste::Ocorrencias(quorvel::teste::LeArquivo(registro),
                                       "pedido SdkSetUserInfo") >= 5;
  }));
  ponto.Sinaliza(SIGINT);
  EXPECT_EQ(ponto.Espera(), 130) << ponto.Erros();
  EXPECT_NE(ponto.Erros().find("Envio interrompido pelo usuário"), std::string::npos)
      << ponto.Erros();
  // "Relógio 1: N de 400 funcionários gravados, M não enviados." and the clock holds N.
  const std::string erros = ponto.Erros();
  const size_t p = erros.find("Relógio 1: ");
  ASSERT_NE(p, std::string::npos) << erros;
  const int gravados = std::stoi(erros.substr(p + 11));
  EXPECT_GT(gravados, 0);
  EXPECT_LT(gravados, 400);
  EXPECT_NE(erros.find(std::to_string(400 - gravados) + " não enviados"), std::string::npos)
      << erros;
  Resultado lista = Roda("funcionarios listar --formato json --relogio 1 --ip " + ip);
  EXPECT_EQ(static_cast<int>(nlohmann::json::parse(lista.saida).size()), gravados);
}

// Progress of long work on a terminal ("n de N", for the send and for listing a large clock),
// and none when the output goes to a program.
TEST(Ponto, LongWorkShowsProgressOnATerminalOnly) {
  quorvel::teste::Daemon d({"--relogio", "codigo=1,modelo=tarvenix,porta=0"}, 1);
  std::string csv = "codigo;nome;senha;cartao\n";
  for (int i = 1; i <= 250; ++i)
    csv += std::to_string(i) + ";F" + std::to_string(i) + ";1;" + std::to_string(9000 + i) + "\n";
  const std::string arquivo = Arquivo("ponto_progresso.csv", csv);
  const std::vector<std::string> relogio = {"--relogio", "1", "--ip",
                                            "127.0.0.1:" + std::to_string(d.Porta(0))};
  auto com = [&](std::vector<std::string> a) {
    a.insert(a.end(), relogio.begin(), relogio.end());
    return a;
  };
  const auto [codigoEnvio, telaEnvio] =
      NoTerminal(com({"funcionarios", "enviar", arquivo}), "\x01", "");
  EXPECT_EQ(codigoEnvio, 0) << telaEnvio;
  EXPECT_NE(telaEnvio.find("250 de 250"), std::string::npos) << telaEnvio;
  const auto [codigoLista, telaLista] = NoTerminal(com({"funcionarios", "listar"}), "\x01", "");
  EXPECT_EQ(codigoLista, 0);
  EXPECT_NE(telaLista.find("Relógio 1: 250 de 250 funcionários"), std::string::npos);
  EXPECT_NE(telaLista.find("F250"), std::string::npos);
  EXPECT_NE(telaLista.find("9250"), std::string::npos);  // the card, read back
  Resultado semTerminal =
      Roda("funcionarios listar --relogio 1 --ip 127.0.0.1:" + std::to_string(d.Porta(0)));
  EXPECT_EQ(semTerminal.erros, "");
  EXPECT_EQ(quorvel::teste::Ocorrencias(semTerminal.saida, "\n"), 252u);
}

TEST(Ponto, EveryCommandHasHelp) {
  for (const char* c :
       {"coletar", "monitorar", "status", "data-hora", "funcionarios", "empregador", "sirene",
        "horario-verao", "verificacao", "apagar-marcacoes", "limpar", "habilitar", "desabilitar"}) {
    Resultado r = Roda(std::string(c) + " --ajuda");
    EXPECT_EQ(r.codigo, 0) << c;
    EXPECT_EQ(r.saida.rfind("Uso: ponto ", 0), 0u) << c;
  }
  Resultado geral = Roda("--ajuda");
  EXPECT_EQ(geral.codigo, 0);
  // The documentation where it is installed, never a path of the source tree.
  EXPECT_NE(geral.saida.find("/share/doc/quorvel/formatos.md"), std::string::npos) << geral.saida;
  EXPECT_EQ(geral.saida.find(" docs/"), std::string::npos) << geral.saida;
  EXPECT_EQ(Roda("").codigo, 2);
  for (const char* versao : {"--version", "coletar --version"}) {
    Resultado r = Roda(versao);
    EXPECT_EQ(r.codigo, 0);
    EXPECT_EQ(r.saida, "ponto 11.1.0\n");
  }
}

TEST(Ponto, WorksAgainstTheDaemonAsAgainstTheEmbeddedClock) {
  const std::string ip = quorvel::teste::EnderecoLoopback(4);
  quorvel::teste::Daemon d({"--endereco", ip, "--relogio", "codigo=1,modelo=tarvenix,exemplo"}, 1);
  const std::string relogio = " --relogio 1 --ip " + ip + " --modelo tarvenix";
  Resultado r = Roda("coletar --nsr 70 --formato csv" + relogio);
  ASSERT_EQ(r.codigo, 0) << r.erros;
  EXPECT_NE(r.saida.find("1;"), std::string::npos);
  EXPECT_NE(r.saida.find(";;;71;"), std::string::npos) << r.saida;
  const std::string arquivo = Arquivo("rede.csv", "codigo;nome;senha;pis\n30;Rede;1;13098765436\n");
  EXPECT_EQ(Roda("funcionarios enviar " + arquivo + relogio).codigo, 0);
  Resultado lista = Roda("funcionarios listar --formato csv" + relogio);
  EXPECT_NE(lista.saida.find("1;30;Rede;"), std::string::npos) << lista.saida;
  EXPECT_EQ(
      Roda("empregador --nome Acme --tipo cnpj --documento 11.222.333/0001-81" + relogio).codigo,
      0);
  Resultado chave = Roda("status --relogio 1 --ip " + ip + " --chave errada");
  EXPECT_EQ(chave.codigo, 0);  // a clock without a key ignores one offered
}

// What was sent is what listar shows, field by field, the card included (kept as text with
// its zeros on the register clock; the fingerprint clock keeps none), over the network as on
// the embedded clocks.
TEST(Ponto, ListarShowsEveryFieldAClockKeepsTheCardIncluded) {
  const std::string ip = quorvel::teste::EnderecoLoopback(9);
  quorvel::teste::Daemon d({"--endereco", ip, "--relogio", "codigo=1,modelo=tarvenix", "--relogio",
                            "codigo=2,modelo=quorvel,porta=4371"},
                           2);
  const std::string arquivo =
      Arquivo("cartoes.csv",
              "codigo;nome;senha;supervisor;cartao;pis;cpf;digitais\n"
              "40;Rita Campos;12;sim;00420;13098765436;52998224725;2:UklUQS0y|7:UklUQS03\n"
              "41;Saulo Reis;;não;5010;12034567899;11144477735;0:U0FVTE8=\n");
  const std::string rede =
      " --relogios " +
      Arquivo("cartoes-relogios.txt", "1;" + ip + ";tarvenix\n2;" + ip + ":4371;quorvel\n");
  for (const std::string& onde : {rede, std::string()}) {
    SCOPED_TRACE(onde.empty() ? "embutidos" : "rede");
    ASSERT_EQ(Roda("funcionarios enviar " + arquivo + onde).codigo, 0);
    Resultado lista = Roda("funcionarios listar --formato json" + onde);
    ASSERT_EQ(lista.codigo, 0) << lista.erros;
    const auto j = nlohmann::ordered_json::parse(lista.saida);
    std::map<std::pair<int, int>, nlohmann::ordered_json> porChave;
    for (const auto& o : j) porChave[{o["relogio"].get<int>(), o["codigo"].get<int>()}] = o;
    const int registro = onde.empty() ? 2 : 1, digital = onde.empty() ? 1 : 2;
    const auto& rita = porChave[std::make_pair(registro, 40)];
    EXPECT_EQ(rita.dump(),
              R"({"relogio":)" + std::to_string(registro) +
                  R"(,"codigo":40,"nome":"Rita Campos","supervisor":true,"tem_senha":true,)"
                  R"("cartao":"00420","pis":"13098765436","cpf":"52998224725","dedos":[2,7]})");
    const auto& saulo = porChave[std::make_pair(registro, 41)];
    EXPECT_EQ(saulo["cartao"], "5010");
    EXPECT_EQ(saulo["dedos"].dump(), "[0]");
    const auto& ritaDigital = porChave[std::make_pair(digital, 40)];
    EXPECT_TRUE(ritaDigital["cartao"].is_null()) << ritaDigital.dump();
    EXPECT_EQ(ritaDigital["nome"], "Rita Campos");
  }
}

// The model of a clock on the network is the one it announces: left out, it is taken; given
// wrong, the connection is refused saying so, instead of collecting nothing.
TEST(Ponto, AClocksModelIsTheOneItAnnounces) {
  const std::string ip = quorvel::teste::EnderecoLoopback(5);
  quorvel::teste::Daemon d(
      {"--endereco", ip, "--relogio", "codigo=2,modelo=tarvenix,exemplo,chave=segredo"}, 1);
  const std::string relogio = " --relogio 2 --ip " + ip + " --chave segredo";
  Resultado r = Roda("coletar --formato csv" + relogio);
  ASSERT_EQ(r.codigo, 0) << r.erros;
  EXPECT_NE(r.saida.find(";;;80;"), std::string::npos) << r.saida;  // register records
  Resultado status = Roda("status --formato json" + relogio);
  ASSERT_EQ(status.codigo, 0) << status.erros;
  EXPECT_EQ(nlohmann::json::parse(status.saida)[0]["modelo"], "tarvenix");

  Resultado errado = Roda("coletar --modelo quorvel" + relogio);
  EXPECT_EQ(errado.codigo, 4);
  EXPECT_NE(errado.erros.find("o relógio 2 é do modelo tarvenix; foi registrado como quorvel"),
            std::string::npos)
      << errado.erros;
  EXPECT_NE(errado.saida.find("0 marcações de 0 relógios (1 não coletado)"), std::string::npos)
      << errado.saida;

  // A clocks file may leave the model to the clock too.
  const std::string arquivo = Arquivo("anunciado.txt", "2;" + ip + ";;segredo\n");
  Resultado doArquivo = Roda("coletar --formato csv --relogios " + arquivo);
  ASSERT_EQ(doArquivo.codigo, 0) << doArquivo.erros;
  EXPECT_NE(doArquivo.saida.find(";;;80;"), std::string::npos);
}

TEST(Ponto, OutputsForSpreadsheetsAndProgramsFollowTheirConventions) {
  const std::string ip = quorvel::teste::EnderecoLoopback(6);
  quorvel::teste::Daemon d({"--endereco", ip, "--relogio", "codigo=1,modelo=quorvel"}, 1);
  const std::string relogio = " --relogio 1 --ip " + ip;
  const std::string arquivo =
      Arquivo("ordem.csv", "codigo;nome;senha\n10;Dez;1\n2;Dois;1\n11;Onze;1\n1;Um;1\n");
  ASSERT_EQ(Roda("funcionarios enviar " + arquivo + relogio).codigo, 0);
  Resultado lista = Roda("funcionarios listar --formato json" + relogio);
  ASSERT_EQ(lista.codigo, 0) << lista.erros;
  const auto doc = nlohmann::json::parse(lista.saida);
  std::vector<int> codigos;
  for (const auto& f : doc) codigos.push_back(f["codigo"].get<int>());
  EXPECT_EQ(codigos, (std::vector<int>{1, 2, 10, 11}));  // as numbers, not as text
  EXPECT_EQ(doc[0]["tem_senha"], true);

  Resultado bom = Roda("funcionarios listar --formato csv --bom" + relogio);
  EXPECT_EQ(bom.saida.rfind("\xEF\xBB\xBF"
                            "relogio;codigo;",
                            0),
            0u);
  Resultado semBom = Roda("funcionarios listar --formato csv" + relogio);
  EXPECT_EQ(semBom.saida.rfind("relogio;codigo;", 0), 0u);

  // monitorar: one JSON object per line, typed like coletar's.
  Resultado m = Roda("monitorar --segundos 1 --gerar-a-cada 100 --relogio 1 --formato json");
  std::istringstream linhas(m.saida);
  int objetos = 0;
  for (std::string l; std::getline(linhas, l);) {
    const auto j = nlohmann::json::parse(l);
    EXPECT_EQ(j["relogio"], 1);
    EXPECT_TRUE(j["cartao"].is_number());
    EXPECT_TRUE(j["digital"].is_boolean());
    EXPECT_TRUE(j["nsr"].is_null());
    ++objetos;
  }
  EXPECT_GT(objetos, 0);
}

// Every problem a file has is found before anything reaches the clock, row and field named.
TEST(Ponto, AnEmployeeFileIsCheckedWholeBeforeAnythingIsSent) {
  const std::string ip = quorvel::teste::EnderecoLoopback(7);
  quorvel::teste::Daemon d({"--endereco", ip, "--relogio", "codigo=1,modelo=quorvel"}, 1);
  const std::string relogio = " --relogio 1 --ip " + ip;
  struct Caso {
    std::string nome, conteudo, mensagem;
  };
  const std::string enorme(5u << 20, 'x');
  for (const Caso& c : std::vector<Caso>{
           {"grande.json",
            "[{\"codigo\": 1, \"nome\": \"A\", \"senha\": \"1\"},\n {\"codigo\": 1e999}]",
            "grande.json, linha 2: número fora do intervalo (1e999)"},
           {"latin1.csv", "codigo;nome;senha\n1;Ana;1\n2;Jo\xe3o;2\n",
            "latin1.csv, linha 3: texto que não é UTF-8"},
           {"nome.csv", "codigo;nome;senha\n1;Ana;1\n2;Bia;2\n3;" + enorme + ";3\n",
            "nome.csv, linha 4: o campo \"nome\" tem 5242880 caracteres; o relógio aceita até 52"},
           {"senha.csv", "codigo;nome;senha\n1;Ana;123456789\n",
            "linha 2: o campo \"senha\" tem 9 caracteres; o relógio aceita até 8"},
       }) {
    Resultado r = Roda("funcionarios enviar " + Arquivo(c.nome, c.conteudo) + relogio);
    EXPECT_EQ(r.codigo, 2) << c.nome;
    EXPECT_NE(r.erros.find(c.mensagem), std::string::npos) << c.nome << ": " << r.erros;
    EXPECT_NE(r.erros.find("Nenhum funcionário foi enviado"), std::string::npos) << c.nome;
  }
  Resultado lista = Roda("funcionarios listar --formato json" + relogio);
  EXPECT_EQ(nlohmann::json::parse(lista.saida).size(), 0u);  // nothing reached the clock

  // A Latin-1 file is read as such when asked.
  const std::string latin1 = Arquivo("latin1b.csv", "codigo;nome;senha\n2;Jo\xe3o;2\n");
  EXPECT_EQ(Roda("funcionarios enviar --codificacao latin1 " + latin1 + relogio).codigo, 0);
  lista = Roda("funcionarios listar --formato json" + relogio);
  EXPECT_EQ(nlohmann::json::parse(lista.saida).at(0)["nome"], "João");
}

TEST(ArquivosDeFuncionarios, MoreEmployeesThanASendTakesAreRefusedUpFront) {
  std::string texto = "codigo;nome;senha\n";
  for (int i = 1; i <= 32768; ++i) texto += std::to_string(i) + ";F;1\n";
  try {
    ponto::LeFuncionarios(Arquivo("muitos.csv", texto));
    ADD_FAILURE();
  } catch (const ponto::ErroDeUso& e) {
    EXPECT_NE(std::string(e.what()).find("32768 funcionários; um envio leva no máximo 32767"),
              std::string::npos)
        << e.what();
  }
  texto.resize(texto.rfind("32768;"));
  EXPECT_EQ(ponto::LeFuncionarios(Arquivo("quase.csv", texto)).size(), 32767u);
}

TEST(Ponto, EveryClockHasItsOwnPortAndKey) {
  const std::string ip = quorvel::teste::EnderecoLoopback(5);
  quorvel::teste::Daemon d({"--endereco", ip, "--relogio", "codigo=1,modelo=quorvel,exemplo",
                            "--relogio", "codigo=2,modelo=tarvenix,porta=0,chave=segredo,exemplo"},
                           2);
  const std::string segundo = ip + ":" + std::to_string(d.Porta(1));
  const std::string arquivo = Arquivo("relogios.txt",
                                      "# código;endereço[:porta];modelo[;chave]\n"
                                      "1;" +
                                          ip +
                                          ";quorvel\n"
                                          "2;" +
                                          segundo + ";tarvenix;segredo\n");
  Resultado ambos = Roda("coletar --formato csv --relogios " + arquivo);
  ASSERT_EQ(ambos.codigo, 0) << ambos.erros;
  EXPECT_NE(ambos.saida.find("\n1;"), std::string::npos);
  EXPECT_NE(ambos.saida.find("\n2;"), std::string::npos);

  // A wrong key is said as such; the other clock is still collected and printed.
  const std::string errada = Arquivo("relogios_errada.txt", "1;" + ip +
                                                                ";quorvel\n"
                                                                "2;" +
                                                                segundo + ";tarvenix;outra\n");
  Resultado r = Roda("coletar --formato csv --relogios " + errada);
  EXPECT_EQ(r.codigo, 4);
  EXPECT_NE(r.erros.find("Relógio 2 não coletado"), std::string::npos) << r.erros;
  EXPECT_NE(r.erros.find("chave de comunicação recusada"), std::string::npos) << r.erros;
  EXPECT_NE(r.saida.find("\n1;"), std::string::npos);
  EXPECT_EQ(r.saida.find("\n2;"), std::string::npos);

  Resultado semChave = Roda("status --relogio 2 --modelo tarvenix --ip " + segundo);
  EXPECT_EQ(semChave.codigo, 4);
  EXPECT_NE(semChave.erros.find("exige uma chave"), std::string::npos) << semChave.erros;
}

TEST(ArquivosDeRelogios, PortsKeysAndBadLines) {
  const auto r = ponto::LeRelogios(Arquivo("r1.txt",
                                           "1;10.0.0.1;quorvel\n"
                                           "2;10.0.0.2:4371;tarvenix;k2\n"
                                           "3;[::1]:4372;quorvel;\n"
                                           "4;serial:3;quorvel\n"));
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[1].relogio->IP(), "10.0.0.2:4371");
  EXPECT_EQ(r[1].chave, "k2");
  EXPECT_FALSE(r[0].chave.has_value());
  EXPECT_EQ(r[2].chave, "");  // an empty key is a key: none
  EXPECT_EQ(r[3].relogio->TipoConexao(), quorvel::ConexaoSerial);
  // The fiscal export's header fields ride on the clock's line, after the key.
  const auto comCampos = ponto::LeRelogios(Arquivo(
      "r3.txt", "5;10.0.0.5;tarvenix;;fabricacao=00004000010000123; razao_social = Ana & Cia\n"));
  EXPECT_EQ(comCampos[0].chave, "");
  EXPECT_EQ(comCampos[0].campos.at("fabricacao"), "00004000010000123");
  EXPECT_EQ(comCampos[0].campos.at("razao_social"), "Ana & Cia");
  struct Caso {
    std::string texto, mensagem;
  };
  for (const Caso& c : std::vector<Caso>{
           {"1;10.0.0.1:0;quorvel\n", "linha 1: porta inválida \"0\""},
           {"1;10.0.0.1:70000;quorvel\n", "porta inválida \"70000\""},
           {"1;10.0.0.1:;quorvel\n", "porta vazia"},
           {"1;[::1:4370;quorvel\n", "falta \"]\""},
           {"1;a;quorvel\n1;b;quorvel\n", "linha 2: o relógio 1 aparece mais de uma vez"},
           {"1;a;quorvel;k;x\n", "campo \"x\" sem nome (use campo=valor)"},
           {"1;a;tarvenix;;serie=7\n", "campo desconhecido \"serie\" (conhecidos: empregador_tipo"},
       }) {
    try {
      ponto::LeRelogios(Arquivo("r2.txt", c.texto));
      ADD_FAILURE() << c.texto;
    } catch (const ponto::ErroDeUso& e) {
      EXPECT_NE(std::string(e.what()).find(c.mensagem), std::string::npos) << e.what();
    }
  }
  Resultado r2 = Roda("coletar --relogio 1 --ip 10.0.0.1:99999");
  EXPECT_EQ(r2.codigo, 2);
  EXPECT_NE(r2.erros.find("--ip: porta inválida"), std::string::npos) << r2.erros;
}

TEST(Saida, RowsStreamedOneByOneComeOutAsTheWholeTableWould) {
  const ponto::Tabela t{{"Relógio", "Nome", "Digital"},
                        {"relogio", "nome", "digital"},
                        {{"1", "José; \"Zé\"", "sim"}, {"10", "", "não"}, {"2", "Ana", ""}}};
  for (auto f : {ponto::Formato::Tabela, ponto::Formato::Csv, ponto::Formato::Json}) {
    for (bool bom : {false, true}) {
      std::ostringstream inteira, fluxo;
      ponto::Imprime(inteira, t, f, bom);
      ponto::ImprimeFluxo(fluxo, t.colunas, t.chaves, f, bom, [&](const auto& visita) {
        for (const auto& l : t.linhas) visita(l);
      });
      EXPECT_EQ(fluxo.str(), inteira.str());
    }
    std::ostringstream vazia, vaziaFluxo;
    ponto::Imprime(vazia, ponto::Tabela{t.colunas, t.chaves, {}}, f);
    ponto::ImprimeFluxo(vaziaFluxo, t.colunas, t.chaves, f, false, [](const auto&) {});
    EXPECT_EQ(vaziaFluxo.str(), vazia.str());
  }
}

// The punch writer of coletar writes the bytes the general table writer writes for the same
// rows: both models, texts that need quoting or escaping, a buffer that fills many times, the
// byte-order mark, and no punch at all.
TEST(Saida, PunchesWrittenStraightComeOutAsTheTableWriterWritesThem) {
  struct Punch {
    int16_t relogio;
    const char* quando;
    bool registro;
    int32_t cartao;
    bool digital;
    std::string nsr, pis;
  };
  std::vector<Punch> punches = {
      {1, "2026-12-05 08:00:00", false, 1, true, "", ""},
      {1, "2026-12-05 08:00:07", false, 2147483647, false, "", ""},
      {2, "1899-12-30 00:00:01", true, 0, false, "77", "12034567899"},
      {32767, "2099-02-28 23:59:59", true, 0, false, "9999999999", "0123; \"x\"\n\\\t\x01"},
      // Each character that makes a CSV field quoted, alone in its field.
      {2, "2099-03-01 00:00:00", true, 0, false, "1;2", "3\n4"},
      {2, "2099-03-01 00:00:00", true, 0, false, "5\r6", "7\"8"},
      // Days before the calendar's zero, a year of three digits, a midnight crossed.
      {1, "1899-12-29 23:59:59", false, 3, false, "", ""},
      {1, "0100-01-01 00:00:00", false, 4, false, "", ""},
      {1, "2026-12-31 23:59:59", false, 5, false, "", ""},
      {1, "2027-01-01 00:00:00", false, 6, false, "", ""},
  };
  for (int i = 0; i < 40000; ++i)  // several buffers' worth
    punches.push_back({3, "2026-01-02 03:04:05", i % 2 == 0, i, i % 3 == 0,
                       i % 2 == 0 ? std::to_string(i + 1) : "", i % 2 == 0 ? "20456781239" : ""});
  for (auto f : {ponto::Formato::Csv, ponto::Formato::Json}) {
    for (bool bom : {false, true}) {
      for (size_t quantas : {size_t{0}, size_t{1}, punches.size()}) {
        std::ostringstream geral, direta;
        ponto::SaidaDeMarcacoes saida(direta, f, bom);
        ponto::ImprimeFluxo(
            geral, {"Relógio", "Data e hora", "Cartão", "Digital", "NSR", "PIS"},
            {"relogio", "data_hora", "cartao", "digital", "nsr", "pis"}, f, bom,
            [&](const auto& visita) {
              for (size_t i = 0; i < quantas; ++i) {
                const Punch& p = punches[i];
                visita(ponto::Linha{std::to_string(p.relogio), p.quando,
                                    p.registro ? "" : std::to_string(p.cartao),
                                    p.registro ? "" : (p.digital ? "sim" : "não"), p.nsr, p.pis});
              }
            });
        for (size_t i = 0; i < quantas; ++i) {
          const Punch& p = punches[i];
          saida.Adiciona(p.relogio, quorvel::DataHora::DeTexto(p.quando), p.registro, p.cartao,
                         p.digital, p.nsr, p.pis);
        }
        saida.Termina();
        EXPECT_EQ(direta.str(), geral.str()) << static_cast<int>(f) << " " << bom << " " << quantas;
      }
    }
  }
}

// Readers take the store as it is: a mistyped path is an error, not an empty store created
// and "0 marcações"; a store a writer holds is still read; a file that is no store is named.
TEST(ComandosDoBanco, ReadersNeverCreateNorWriteTheStore) {
  const std::string base = ::testing::TempDir() + "ponto_leitor_" + std::to_string(::getpid());
  for (const char* s : {".db", ".db-wal", ".db-shm", "-nao-existe.db", ".txt"})
    std::remove((base + s).c_str());
  for (const std::string& comando : std::vector<std::string>{
           "exportar", "exportar afd --saida " + base + ".afd", "relatorio", "servico --estado"}) {
    Resultado r = Roda(comando + " --banco " + base + "-nao-existe.db");
    EXPECT_EQ(r.codigo, 1) << comando;
    EXPECT_NE(r.erros.find("não existe"), std::string::npos) << comando << ": " << r.erros;
    EXPECT_EQ(r.saida, "") << comando;
    EXPECT_FALSE(std::ifstream(base + "-nao-existe.db").good()) << comando;
  }
  ASSERT_EQ(Roda("coletar --banco " + base + ".db").codigo, 0);
  const size_t linhas = quorvel::teste::Ocorrencias(
      Roda("exportar --formato csv --banco " + base + ".db").saida, "\n");
  ASSERT_GT(linhas, 100u);
  // A writer holds the store's write lock for as long as the reader runs.
  sqlite3* escritor = nullptr;
  ASSERT_EQ(sqlite3_open((base + ".db").c_str(), &escritor), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(escritor, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  Resultado durante = Roda("exportar --formato csv --banco " + base + ".db");
  EXPECT_EQ(durante.codigo, 0) << durante.erros;
  EXPECT_EQ(quorvel::teste::Ocorrencias(durante.saida, "\n"), linhas);
  EXPECT_EQ(Roda("relatorio --banco " + base + ".db").codigo, 0);
  sqlite3_exec(escritor, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(escritor);
  std::ofstream(base + ".txt") << "não sou um banco\n";
  Resultado texto = Roda("exportar --banco " + base + ".txt");
  EXPECT_EQ(texto.codigo, 1);
  EXPECT_NE(texto.erros.find("não é um banco de marcações"), std::string::npos) << texto.erros;
  // What the database library says comes inside a Portuguese sentence naming the cause.
  struct Caso {
    std::string banco, mensagem;
  };
  for (const Caso& c : std::vector<Caso>{
           {base + "-pasta/nao/existe.db",
            "não foi possível abrir o banco \"" + base + "-pasta/nao/existe.db\": a pasta \"" +
                base + "-pasta/nao\" não existe (unable to open database file)"},
           {::testing::TempDir(), "é uma pasta, não um arquivo (unable to open database file)"},
           {base + ".txt",
            "o arquivo está danificado ou não é um banco SQLite (file is not a database)"},
           {"postgresql://ninguem@127.0.0.1:1/x",
            "não foi possível conectar ao PostgreSQL (connection to server at \"127.0.0.1\", port "
            "1 "
            "failed: Connection refused; Is the server running"},
       }) {
    Resultado r = Roda("coletar --relogio 1 --banco " + c.banco);
    EXPECT_EQ(r.codigo, 1) << c.banco;
    EXPECT_NE(r.erros.find(c.mensagem), std::string::npos) << c.banco << ": " << r.erros;
  }
}

// A header's document from a clocks file is held to the same rule as one given as an option,
// and a good one, formatted, reaches the file as digits.
TEST(ComandosDoBanco, DocumentsFromAClocksFileAreCheckedToo) {
  const std::string base = ::testing::TempDir() + "ponto_docs_" + std::to_string(::getpid());
  for (const char* s : {".db", ".db-wal", ".db-shm", ".afd"}) std::remove((base + s).c_str());
  ASSERT_EQ(Roda("coletar --banco " + base + ".db").codigo, 0);
  const std::string ruim =
      Arquivo("docs-ruim.txt", "2;127.0.0.1;tarvenix;;empregador_documento=123\n");
  Resultado r =
      Roda("exportar afd --banco " + base + ".db --saida " + base + ".afd --relogios " + ruim);
  EXPECT_EQ(r.codigo, 2);
  EXPECT_NE(r.erros.find("CNPJ \"123\" inválido"), std::string::npos) << r.erros;
  EXPECT_FALSE(std::ifstream(base + ".afd").good());
  const std::string bom =
      Arquivo("docs-bom.txt", "2;127.0.0.1;tarvenix;;empregador_documento=11.222.333/0001-81\n");
  Resultado b = Roda("exportar afd --banco " + base + ".db --saida " + base + ".afd --relogios " +
                     bom + " --omitir-sem-cpf --rascunho");
  EXPECT_EQ(b.codigo, 0) << b.erros;
  EXPECT_EQ(quorvel::teste::LeArquivo(base + ".afd").substr(10, 15), "111222333000181");

  // A clocks file's header field is held to the layout as an option is, named by its place.
  const std::string emoji =
      Arquivo("docs-emoji.txt", "2;127.0.0.1;tarvenix;;razao_social=Padaria 😀\n");
  r = Roda("exportar afd --banco " + base + ".db --saida " + base + ".afd2 --relogios " + emoji +
           " --omitir-sem-cpf");
  EXPECT_EQ(r.codigo, 2);
  EXPECT_NE(r.erros.find(emoji + ", relógio 2, campo razao_social: \"😀\" não existe no Latin-1"),
            std::string::npos)
      << r.erros;
  EXPECT_FALSE(std::ifstream(base + ".afd2").good());

  // A file that cannot be written is told, and nothing is left beside it.
  const std::string pasta = base + "-pasta";
  std::filesystem::create_directories(pasta);
  r = Roda("exportar afd --banco " + base + ".db --saida " + pasta +
           " --omitir-sem-cpf --rascunho");
  EXPECT_EQ(r.codigo, 2);
  EXPECT_NE(r.erros.find("não foi possível gravar \"" + pasta + "\" (é uma pasta)"),
            std::string::npos)
      << r.erros;
  for (const auto& e : std::filesystem::directory_iterator(::testing::TempDir()))
    EXPECT_EQ(e.path().string().find(pasta + ".tmp"), std::string::npos) << e.path();
}

// Every date-time of the fiscal file carries the offset in force at its own instant: a punch
// of Brazil's 2017/18 summer -0200, one of 2024 -0300, on a computer kept in UTC whether the
// zone is asked for or left to the default; a fixed offset and a clock's own zone as asked.
TEST(ComandosDoBanco, AfdDateTimesCarryTheOffsetOfTheirOwnInstant) {
  const std::string base = ::testing::TempDir() + "ponto_fuso_" + std::to_string(::getpid());
  for (const char* s : {".db", ".db-wal", ".db-shm", ".afd"}) std::remove((base + s).c_str());
  {
    auto a = quorvel::armazem::Armazem::Abre(base + ".db", "teste");
    std::vector<quorvel::armazem::MarcacaoArmazenada> m(2);
    for (size_t i = 0; i < m.size(); ++i) {
      m[i].relogio = 7;
      m[i].modelo = quorvel::EModeloRelogio_Tarvenix;
      m[i].nsr = static_cast<int64_t>(i) + 1;
      m[i].pis = "12034567899";
    }
    m[0].momento = quorvel::DataHora::DeTexto("2018-01-15 08:00:00");
    m[1].momento = quorvel::DataHora::DeTexto("2024-06-03 08:00:00");
    a->Grava(7, m, {2, 2, ""});
    a->GravaFuncionarios({{"12034567899", "52998224725", "Ana"}});
  }
  const auto offsets = [&](const std::string& opcoes) {
    std::remove((base + ".afd").c_str());
    const Resultado r =
        Roda("exportar afd --rascunho --banco " + base + ".db --saida " + base + ".afd " + opcoes,
             "TZ=UTC ");
    EXPECT_EQ(r.codigo, 0) << opcoes << ": " << r.erros;
    std::istringstream linhas(quorvel::teste::LeArquivo(base + ".afd"));
    std::string linha, cabecalho, resultado;
    std::getline(linhas, cabecalho);
    while (std::getline(linhas, linha))
      if (linha.size() > 34 && linha[9] == '3') resultado += linha.substr(29, 5) + " ";
    // The generation time: now, under the offset in force now (no summer time since 2019).
    if (cabecalho.size() > 250) resultado += "gerado " + cabecalho.substr(245, 5);
    return resultado;
  };
  EXPECT_EQ(offsets("--fuso America/Sao_Paulo"), "-0200 -0300 gerado -0300");
  EXPECT_EQ(offsets(""), "-0200 -0300 gerado -0300");  // UTC computer: the country's time
  EXPECT_EQ(offsets("--fuso -0300"), "-0300 -0300 gerado -0300");
  const std::string acre =
      Arquivo("fuso-acre.txt", "7;127.0.0.1;tarvenix;;fuso=America/Rio_Branco\n");
  EXPECT_EQ(offsets("--relogios " + acre), "-0500 -0500 gerado -0500");
  EXPECT_EQ(offsets("--relogios " + acre + " --fuso America/Noronha"), "-0200 -0200 gerado -0200");

  const std::string marte = Arquivo("fuso-marte.txt", "7;127.0.0.1;tarvenix;;fuso=Marte/Olimpia\n");
  for (const auto& [opcoes, mensagem] : std::vector<std::pair<std::string, std::string>>{
           {"--fuso Marte/Olimpia", "--fuso: fuso inválido \"Marte/Olimpia\" (fuso desconhecido"},
           {"--fuso ../../etc/passwd", "--fuso: fuso inválido \"../../etc/passwd\""},
           {"--relogios " + marte, marte + ", relógio 7, campo fuso: fuso inválido"}}) {
    std::remove((base + ".afd").c_str());
    const Resultado r =
        Roda("exportar afd --banco " + base + ".db --saida " + base + ".afd " + opcoes, "TZ=UTC ");
    EXPECT_EQ(r.codigo, 2) << opcoes;
    EXPECT_NE(r.erros.find(mensagem), std::string::npos) << opcoes << ": " << r.erros;
    EXPECT_FALSE(std::ifstream(base + ".afd").good()) << opcoes;
  }
}

// A punch's identifier is the employee's PIS or, on clocks under the newer rules, the CPF:
// both lead to the employee. A punch with no identifier is never written with a blank
// document, in either layout: it is named, with a hint that collecting again will not help.
TEST(ComandosDoBanco, AfdPunchesAreFoundByPisOrCpfAndNeverWrittenBlank) {
  const std::string base = ::testing::TempDir() + "ponto_ident_" + std::to_string(::getpid());
  for (const char* s : {".db", ".db-wal", ".db-shm", ".afd"}) std::remove((base + s).c_str());
  {
    auto a = quorvel::armazem::Armazem::Abre(base + ".db", "teste");
    std::vector<quorvel::armazem::MarcacaoArmazenada> m(3);
    const char* ids[] = {"12034567899", "52998224725", ""};
    for (size_t i = 0; i < m.size(); ++i) {
      m[i].relogio = 7;
      m[i].modelo = quorvel::EModeloRelogio_Tarvenix;
      m[i].nsr = static_cast<int64_t>(i) + 1;
      m[i].momento = quorvel::DataHora::DeTexto("2024-06-03 08:00:00");
      m[i].pis = ids[i];
    }
    a->Grava(7, m, {3, 3, ""});
    a->GravaFuncionarios({{"12034567899", "529.982.247-25", "Ana"}});
  }
  const auto registros = [&](const std::string& leiaute, bool omitir, Resultado& r) {
    std::remove((base + ".afd").c_str());
    r = Roda("exportar afd --rascunho --banco " + base + ".db --saida " + base +
             ".afd --fuso -0300 " + "--leiaute " + leiaute + (omitir ? " --omitir-sem-cpf" : ""));
    std::istringstream linhas(quorvel::teste::LeArquivo(base + ".afd"));
    std::string linha, documentos;
    while (std::getline(linhas, linha))
      if (linha.size() > 30 && linha[9] == '3')
        documentos += linha.substr(0, 9) + ":" +
                      (leiaute == "671" ? linha.substr(34, 11) : linha.substr(23, 11)) + " ";
    return documentos;
  };
  for (const std::string leiaute : {"671", "1510"}) {
    Resultado r;
    EXPECT_EQ(registros(leiaute, false, r), "") << leiaute;
    EXPECT_EQ(r.codigo, 1) << leiaute;
    EXPECT_NE(r.erros.find("1 marcação sem identificação do funcionário"), std::string::npos)
        << r.erros;
    EXPECT_NE(r.erros.find("NSR 000000003, identificação (vazia)"), std::string::npos) << r.erros;
    EXPECT_NE(r.erros.find("coletar de novo não muda isso"), std::string::npos) << r.erros;
    EXPECT_FALSE(std::ifstream(base + ".afd").good()) << leiaute;
  }
  Resultado r;
  EXPECT_EQ(registros("671", true, r), "000000001:52998224725 000000002:52998224725 ") << r.erros;
  EXPECT_EQ(registros("1510", true, r), "000000001:12034567899 000000002:12034567899 ") << r.erros;
}

// The fiscal header comes from the store: the employer "ponto empregador --banco" wrote to the
// clock fills its fields, and a header missing a mandatory field is refused unless it is a
// draft, marked as one. Each collection re-reads the clock's employees, and each punch carries
// the CPF of its own time: a CPF corrected on the clock applies to the punches after the
// collection that found it, never to those before.
TEST(ComandosDoBanco, TheFiscalHeaderComesFromTheStoreAndEachPunchTakesTheCpfOfItsTime) {
  const std::string base = ::testing::TempDir() + "ponto_cabecalho_" + std::to_string(::getpid());
  for (const char* s : {".db", ".db-wal", ".db-shm", ".afd"}) std::remove((base + s).c_str());
  std::filesystem::remove_all(base + "-estado");
  // Clocks of this test's own: the employee changed below must not reach other tests.
  const std::string estado = "XDG_STATE_HOME=" + base + "-estado ";
  const std::string banco = " --banco " + base + ".db";
  ASSERT_EQ(Roda("coletar --relogio 2" + banco, estado).codigo, 0);
  const std::string exporta =
      "exportar afd --relogio 2 --fuso -0300 --saida " + base + ".afd" + banco;

  Resultado r = Roda(exporta, estado);
  EXPECT_EQ(r.codigo, 2);
  for (const char* campo : {"CNPJ/CPF do empregador (--empregador-documento)",
                            "razão social (--razao-social)", "número de fabricação do relógio",
                            "CNPJ/CPF do fabricante", "modelo do relógio", "--rascunho"})
    EXPECT_NE(r.erros.find(campo), std::string::npos) << campo << ": " << r.erros;
  EXPECT_FALSE(std::ifstream(base + ".afd").good());

  // A draft: written, and marked where a reader sees it.
  r = Roda(exporta + " --rascunho", estado);
  ASSERT_EQ(r.codigo, 0) << r.erros;
  EXPECT_EQ(quorvel::teste::LeArquivo(base + ".afd").substr(39, 9), "RASCUNHO ");

  r = Roda(
      "empregador --relogio 2 --nome 'Padaria Pão Quente' --tipo cnpj --documento "
      "11.222.333/0001-81 --cei 31.415.92653/59 --endereco 'Rua A, 1'" +
          banco,
      estado);
  ASSERT_EQ(r.codigo, 0) << r.erros;
  const std::string fabricante =
      " --fabricacao 00004000010000123 --fabricante-documento 11444777000161 --modelo-rep T1";
  r = Roda(exporta + fabricante, estado);
  ASSERT_EQ(r.codigo, 0) << r.erros;
  std::string cabecalho = quorvel::teste::LeArquivo(base + ".afd").substr(0, 302);
  EXPECT_EQ(cabecalho.substr(10, 15), "111222333000181");
  EXPECT_EQ(cabecalho.substr(25, 14), "314159265359  ");
  EXPECT_EQ(cabecalho.substr(39, 19), "Padaria P\xE3o Quente ");
  // An option still comes before the store.
  r = Roda(exporta + fabricante + " --razao-social Outra", estado);
  ASSERT_EQ(r.codigo, 0) << r.erros;
  EXPECT_EQ(quorvel::teste::LeArquivo(base + ".afd").substr(39, 6), "Outra ");

  // Ana's CPF corrected on the clock, found by the next collection; then a punch after it.
  const std::string ana = Arquivo("cpf-corrigido.csv",
                                  "codigo;nome;senha;supervisor;cartao;pis;cpf;digitais\n"
                                  "1;Ana Souza;1234;sim;1001;12034567899;12345678909;\n");
  ASSERT_EQ(Roda("funcionarios enviar " + ana + " --relogio 2", estado).codigo, 0);
  ASSERT_EQ(Roda("coletar --relogio 2" + banco, estado).codigo, 0);
  std::string correcao;  // when the collection found it, UTC
  {
    auto a = quorvel::armazem::Armazem::Abre(base + ".db", "teste");
    const auto versoes = a->HistoricoFuncionarios().at("12034567899");
    if (versoes.size() > 1) correcao = versoes[1].first;
    ASSERT_EQ(versoes.size(), 2u);
    EXPECT_EQ(versoes[0].second.cpf, "52998224725");
    EXPECT_EQ(versoes[1].second.cpf, "12345678909");
    quorvel::armazem::MarcacaoArmazenada depois;
    depois.relogio = 2;
    depois.modelo = quorvel::EModeloRelogio_Tarvenix;
    depois.nsr = 999999;
    depois.pis = "12034567899";
    depois.momento =
        quorvel::DataHora::DeSegundos(quorvel::DataHora::DeTexto("2099-01-01").Segundos());
    a->Grava(2, {depois}, *a->CursorDe(2));
  }
  r = Roda(exporta + fabricante, estado);
  ASSERT_EQ(r.codigo, 0) << r.erros;
  std::istringstream linhas(quorvel::teste::LeArquivo(base + ".afd"));
  std::string linha;
  size_t antes = 0, depois = 0;
  while (std::getline(linhas, linha)) {
    if (linha.size() != 51 || linha[9] != '3') continue;
    const std::string cpf = linha.substr(34, 11);
    if (cpf != "52998224725" && cpf != "12345678909") continue;  // another employee
    // The punch's instant in UTC ("-0300"), beside the collection that found the new CPF.
    std::string quando = linha.substr(10, 19);
    quando[10] = ' ';
    const std::string utc =
        quorvel::DataHora::DeSegundos(quorvel::DataHora::DeTexto(quando).Segundos() + 3 * 3600)
            .FormataIso()
            .replace(10, 1, "T") +
        "Z";
    const bool aposACorrecao = utc >= correcao;
    EXPECT_EQ(cpf, aposACorrecao ? "12345678909" : "52998224725") << linha << " " << correcao;
    ++(aposACorrecao ? depois : antes);
  }
  EXPECT_GT(antes, 0u);
  EXPECT_GT(depois, 0u);  // NSR 999999 at least
  std::filesystem::remove_all(base + "-estado");
}

// --assinar writes the file's detached CMS signature beside it, which OpenSSL verifies against
// the certificate and refuses once a byte of the file changes; a key that is not the
// certificate's, a file that is no certificate, and one value alone are refused before any file
// is written.
TEST(ComandosDoBanco, ASignedAfdIsVerifiedByOpenSsl) {
  const std::string base = ::testing::TempDir() + "ponto_assina_" + std::to_string(::getpid());
  for (const char* s : {".db", ".db-wal", ".db-shm", ".afd", ".afd.p7s"})
    std::remove((base + s).c_str());
  ASSERT_EQ(Roda("coletar --banco " + base + ".db").codigo, 0);
  const auto certificado = [&](const std::string& nome) {
    const std::string c = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Empresa" +
                          nome + " -keyout " + base + nome + ".key -out " + base + nome +
                          ".crt >/dev/null 2>&1";
    return std::system(c.c_str()) == 0;
  };
  ASSERT_TRUE(certificado("A"));
  ASSERT_TRUE(certificado("B"));
  const std::string afd = "exportar afd --banco " + base + ".db --saida " + base +
                          ".afd --relogio 2 --omitir-sem-cpf --rascunho --assinar ";
  Resultado r = Roda(afd + base + "A.crt " + base + "A.key");
  ASSERT_EQ(r.codigo, 0) << r.erros;
  const std::string texto = quorvel::teste::LeArquivo(base + ".afd");
  EXPECT_NE(texto.find("ASSINATURA_DIGITAL_EM_ARQUIVO_P7S"), std::string::npos);
  const auto confere = [&](const std::string& ca) {
    const std::string c = "openssl cms -verify -binary -inform DER -in " + base +
                          ".afd.p7s -content " + base + ".afd -CAfile " + ca +
                          " -purpose any -out /dev/null >/dev/null 2>&1";
    return std::system(c.c_str()) == 0;
  };
  EXPECT_TRUE(confere(base + "A.crt"));
  EXPECT_FALSE(confere(base + "B.crt"));  // another signer
  std::string alterado = texto;
  alterado[20] = alterado[20] == '1' ? '2' : '1';
  std::ofstream(base + ".afd", std::ios::binary) << alterado;
  EXPECT_FALSE(confere(base + "A.crt"));

  for (const auto& [valores, mensagem] : std::vector<std::pair<std::string, std::string>>{
           {base + "A.crt " + base + "B.key", "não é a do certificado"},
           {base + "A.key " + base + "A.key", "não é um certificado em PEM"},
           {base + "A.crt " + base + "-nao-existe.key", "não foi possível ler a chave"},
           {base + "A.crt", "--assinar precisa de dois valores"}}) {
    for (const char* s : {".afd", ".afd.p7s"}) std::remove((base + s).c_str());
    r = Roda(afd + valores);
    EXPECT_EQ(r.codigo, 2) << valores;
    EXPECT_NE(r.erros.find(mensagem), std::string::npos) << valores << ": " << r.erros;
    EXPECT_FALSE(std::ifstream(base + ".afd").good()) << valores;
    EXPECT_FALSE(std::ifstream(base + ".afd.p7s").good()) << valores;
  }
}

TEST(ComandosDoBanco, BadInputIsExplainedBeforeAnythingIsWritten) {
  const std::string banco =
      ::testing::TempDir() + "ponto_uso_" + std::to_string(::getpid()) + ".db";
  struct Caso {
    std::string linha, mensagem;
  };
  for (const Caso& c : std::vector<Caso>{
           {"exportar afd --banco " + banco, "falta a opção --saida"},
           {"exportar afd --banco " + banco + " --saida x --leiaute 2000", "leiaute desconhecido"},
           {"exportar afd --banco " + banco + " --saida x --crc ccitt", "CRC desconhecido"},
           {"exportar afd --banco " + banco + " --saida x --fuso -03:00", "fuso inválido"},
           {"exportar --banco " + banco + " --de 10/05/2024 --ate 01/05/2024", "--de é posterior"},
           {"exportar --banco " + banco + " --de 31/02/2024", "data e hora inválida em --de"},
           {"exportar csv --banco " + banco, "use \"ponto exportar\""},
           {"coletar --banco " + banco + " --nsr 5", "--ponteiro e --nsr não se aplicam"},
           {"relatorio --saida x", "não vale para o comando relatorio"},
           // Documents with their check digits, where they enter.
           {"exportar afd --banco " + banco + " --saida x --empregador-documento 123",
            "--empregador-documento: CNPJ \"123\" inválido: 14 dígitos"},
           {"exportar afd --banco " + banco +
                " --saida x --empregador-tipo cpf --empregador-documento 12345678900",
            "--empregador-documento: CPF \"12345678900\" inválido"},
           {"exportar afd --banco " + banco + " --saida x --fabricante-documento 11222333000180",
            "--fabricante-documento: CNPJ \"11222333000180\" inválido"},
           {"empregador --nome A --tipo cnpj --documento 123",
            "--documento: CNPJ \"123\" inválido"},
           {"empregador --nome A --tipo cnpj --documento 52998224725", "CNPJ \"52998224725\""},
           {"empregador --nome A --tipo cpf --documento 11222333000181", "CPF \"11222333000181\""},
           {"empregador --nome A --tipo cpf --documento 111.111.111-11", "inválido"},
           // The second register: a CNO/CEI with its check digit, or a CPF employer's CAEPF.
           {"empregador --nome A --tipo cnpj --documento 11222333000181 --cei 314159265358",
            "--cei: \"314159265358\" não é um CNO/CEI válido: 12 dígitos com o dígito"},
           {"empregador --nome A --tipo cnpj --documento 11222333000181 --cei 11222333000181",
            "só existe para empregador pessoa física"},
           {"empregador --nome A --tipo cpf --documento 52998224725 --cei 11144477700012",
            "o CAEPF começa pelos nove primeiros dígitos do CPF do empregador (529982247)"},
           {"empregador --nome A --tipo cpf --documento 52998224725 --cei 123",
            "não é um CNO/CEI (12 dígitos) nem um CAEPF (14 dígitos)"},
           // Header fields as the layout takes them: a line break would split the header, a
           // character outside Latin-1 would become another, a longer field would be cut.
           {"exportar afd --banco " + banco +
                " --saida x --razao-social \"$(printf 'Padaria\\r\\n999999999')\"",
            "--razao-social: caractere de controle na posição 8"},
           {"exportar afd --banco " + banco + " --saida x --razao-social 'Padaria 😀'",
            "--razao-social: \"😀\" não existe no Latin-1"},
           {"exportar afd --banco " + banco + " --saida x --razao-social " + std::string(151, 'A'),
            "--razao-social (razão social) tem 151 caracteres; o leiaute aceita até 150."},
           {"exportar afd --banco " + banco + " --saida x --fabricacao " + std::string(30, '1'),
            "--fabricacao (número de fabricação do relógio) tem 30 dígitos; o leiaute aceita até "
            "17."},
           {"exportar afd --banco " + banco + " --saida x --fabricacao ABC123",
            "--fabricacao (número de fabricação do relógio) é numérico"},
           {"exportar afd --banco " + banco + " --saida x --cno-caepf 1234567890123 --leiaute 1510",
            "--cno-caepf (CNO ou CAEPF) tem 13 dígitos; o leiaute aceita até 12."},
           {"exportar afd --banco " + banco + " --saida x --modelo-rep " + std::string(31, 'M'),
            "--modelo-rep (modelo do relógio) tem 31 caracteres; o leiaute aceita até 30."},
       }) {
    Resultado r = Roda(c.linha);
    EXPECT_EQ(r.codigo, 2) << c.linha;
    EXPECT_NE(r.erros.find(c.mensagem), std::string::npos) << c.linha << "\n" << r.erros;
  }
  // A store the program cannot open is a numbered error naming it.
  Resultado r = Roda("exportar --banco /nao/existe/x.db");
  EXPECT_EQ(r.codigo, 1);
  EXPECT_NE(r.erros.find("erro -80"), std::string::npos) << r.erros;
  EXPECT_NE(r.erros.find("/nao/existe/x.db"), std::string::npos) << r.erros;
}

TEST(ComandosDoBanco, ReportTableAndSvgFromWhatWasCollected) {
  const std::string base = ::testing::TempDir() + "ponto_rel_" + std::to_string(::getpid());
  std::remove((base + ".db").c_str());
  ASSERT_EQ(Roda("coletar --banco " + base + ".db").codigo, 0);
  Resultado r =
      Roda("relatorio --banco " + base + ".db --relogio 2 --formato csv --svg " + base + ".svg");
  ASSERT_EQ(r.codigo, 0) << r.erros;
  // The embedded register clock: five employees, four punches each on the first day.
  EXPECT_NE(r.saida.find("dia;pis;cartao;nome;marcacoes;horarios"), std::string::npos);
  EXPECT_NE(r.saida.find(";12034567899;;Ana Souza;4;08:00 12:00 13:00 17:30"), std::string::npos)
      << r.saida;
  std::ifstream svg(base + ".svg");
  std::stringstream conteudo;
  conteudo << svg.rdbuf();
  EXPECT_EQ(conteudo.str().rfind("<svg", 0), 0u);
  EXPECT_NE(conteudo.str().find("<title>8h: "), std::string::npos);
  // Exported in the fields and types of coletar.
  Resultado j = Roda("exportar --banco " + base + ".db --relogio 1 --formato json --de 01/01/2000");
  ASSERT_EQ(j.codigo, 0) << j.erros;
  const auto a = nlohmann::json::parse(j.saida);
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a[0].at("cartao").is_number());
  EXPECT_TRUE(a[0].at("digital").is_boolean());
}

// A store written directly: punches on both sides of midnight, on a day above 12.
std::string BancoDaMeiaNoite(const std::string& nome) {
  const std::string caminho =
      ::testing::TempDir() + "ponto_" + nome + "_" + std::to_string(::getpid()) + ".db";
  for (const char* s : {"", "-wal", "-shm"}) std::remove((caminho + s).c_str());
  auto banco = quorvel::armazem::Armazem::Abre(caminho, "teste");
  std::vector<quorvel::armazem::MarcacaoArmazenada> v;
  int64_t nsr = 0;
  for (const char* quando : {"2024-05-13 08:00:00", "2024-05-13 23:59:59", "2024-05-14 00:00:00"}) {
    quorvel::armazem::MarcacaoArmazenada m;
    m.relogio = 2;
    m.modelo = quorvel::EModeloRelogio_Tarvenix;
    m.nsr = ++nsr;
    m.pis = "12034567899";
    m.momento = quorvel::DataHora::DeTexto(quando);
    v.push_back(m);
  }
  banco->Grava(2, v, quorvel::armazem::Cursor{nsr, nsr, ""});
  return caminho;
}

TEST(ComandosDoBanco, ADayAloneEndsAtItsLastSecondAndTablesWriteTheDayFirst) {
  const std::string banco = BancoDaMeiaNoite("meia_noite");
  Resultado ate = Roda("exportar --banco " + banco + " --ate 13/05/2024 --formato csv");
  ASSERT_EQ(ate.codigo, 0) << ate.erros;
  EXPECT_NE(ate.saida.find("2024-05-13 23:59:59"), std::string::npos) << ate.saida;
  EXPECT_EQ(ate.saida.find("2024-05-14"), std::string::npos) << ate.saida;
  Resultado de = Roda("exportar --banco " + banco + " --de 14/05/2024 --formato csv");
  ASSERT_EQ(de.codigo, 0) << de.erros;
  EXPECT_NE(de.saida.find("2024-05-14 00:00:00"), std::string::npos) << de.saida;
  EXPECT_EQ(de.saida.find("2024-05-13"), std::string::npos) << de.saida;
  Resultado tabela = Roda("relatorio --banco " + banco);
  ASSERT_EQ(tabela.codigo, 0) << tabela.erros;
  EXPECT_NE(tabela.saida.find("13/05/2024"), std::string::npos) << tabela.saida;
  EXPECT_NE(tabela.saida.find("14/05/2024"), std::string::npos) << tabela.saida;
  Resultado csv = Roda("relatorio --banco " + banco + " --formato csv");
  EXPECT_NE(csv.saida.find("2024-05-13;"), std::string::npos) << csv.saida;
}

// A store that refuses a write ends the collection with the store's error, not as a clock
// that could not be read.
TEST(ComandosDoBanco, AStoreThatRefusesWritesEndsTheCollectionWithItsError) {
  const std::string banco = BancoDaMeiaNoite("recusa");
  ASSERT_NO_FATAL_FAILURE(
      quorvel::teste::RecusaInsercoes(banco, "marcacoes", "gravação recusada pelo teste"));
  Resultado r = Roda("coletar --banco " + banco + " --relogio 1");
  EXPECT_EQ(r.codigo, 1) << r.erros;
  EXPECT_NE(r.erros.find("erro -80"), std::string::npos) << r.erros;
  EXPECT_EQ(r.erros.find("coleta incompleta"), std::string::npos) << r.erros;
}

// Every store operation a command relies on, failing: the command ends with the store's numbered
// error and exit 1, never a short result called whole, and leaves no file half written.
TEST(ComandosDoBanco, EveryCommandEndsWithTheStoresErrorWhenATableItReadsIsGone) {
  struct Caso {
    std::string tabela, comando;
  };
  const std::string afd = ::testing::TempDir() + "ponto_falha_" + std::to_string(::getpid());
  for (const Caso& c : std::vector<Caso>{
           {"marcacoes", "exportar --formato csv"},
           {"marcacoes", "exportar afd --saida " + afd + " --razao-social X"},
           {"marcacoes", "relatorio"},
           {"estados", "servico --estado"},
           {"cursores", "coletar --relogio 1"},
           {"funcionarios", "coletar --relogio 2"},
       }) {
    const std::string banco = BancoDaMeiaNoite("falha_" + c.tabela);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(banco.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, ("ALTER TABLE " + c.tabela + " RENAME TO sumida").c_str(), nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    std::remove(afd.c_str());
    Resultado r = Roda(c.comando + " --banco " + banco);
    EXPECT_EQ(r.codigo, 1) << c.comando << "\n" << r.erros;
    EXPECT_NE(r.erros.find("erro -80"), std::string::npos) << c.comando << "\n" << r.erros;
    EXPECT_FALSE(std::ifstream(afd).good()) << c.comando;
    EXPECT_FALSE(std::ifstream(afd + ".tmp").good()) << c.comando;
  }
}

TEST(ArquivosDeFuncionarios, CsvAndJsonAgree) {
  const auto csv = ponto::LeFuncionariosCsv(
      "codigo,nome,senha,supervisor,cartao,pis,cpf,digitais\n"
      "7,\"Souza, Ana\",1,sim,77,12034567899,52998224725,3:AAAA|8:BBBB\n",
      "a.csv");
  const auto json = ponto::LeFuncionariosJson(
      R"([{"codigo": 7, "nome": "Souza, Ana", "senha": "1", "supervisor": true, "cartao": "77",
           "pis": "12034567899", "cpf": "52998224725",
           "digitais": [{"dedo": 3, "template": "AAAA"}, {"dedo": 8, "template": "BBBB"}]}])",
      "a.json");
  ASSERT_EQ(csv.size(), 1u);
  ASSERT_EQ(json.size(), 1u);
  for (const auto* f : {csv[0].get(), json[0].get()}) {
    EXPECT_EQ(f->Codigo(), 7);
    EXPECT_EQ(f->Nome(), "Souza, Ana");
    EXPECT_TRUE(f->Supervisor());
    EXPECT_EQ(f->Cartao(), "77");
    ASSERT_EQ(f->Template()->Count(), 2);
    EXPECT_EQ(f->Template()->Item("8")->Texto(), "BBBB");
  }
}

TEST(ArquivosDeFuncionarios, ACsvWithTheByteOrderMarkOfSpreadsheetsIsRead) {
  const auto f = ponto::LeFuncionariosCsv(
      "\xEF\xBB\xBF"
      "codigo;nome\n7;Ana\n",
      "planilha.csv");
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0]->Codigo(), 7);
}

TEST(ArquivosDeFuncionarios, RejectsWithTheRowNamed) {
  struct Caso {
    std::string texto, mensagem;
  };
  for (const Caso& c : std::vector<Caso>{
           {"codigo;nome\n1;A\n1;B\n", "linha 3: o código 1 aparece mais de uma vez"},
           {"codigo;nome\n1;A;x\n", "linha 2: esperava 2 campos"},
           {"codigo;nome;digitais\n1;A;12:QQ\n", "linha 2: dedo 12 inválido"},
           {"codigo;nome;digitais\n1;A;10:QQ\n", "linha 2: dedo 10 inválido"},
           {"codigo;nome;digitais\n1;A;-1:QQ\n", "linha 2: dedo -1 inválido"},
           {"codigo;nome;digitais\n1;A;3:QQ|3:RR\n", "o dedo 3 aparece duas vezes"},
           {"codigo;nome;supervisor\n1;A;talvez\n", "supervisor deve ser sim ou não"},
           {"nome\nA\n", "não tem a coluna \"codigo\""},
           {"codigo;nome\n1;\"A\n", "aspas sem fechamento"},
           {"codigo;nome\n0;A\n", "código inválido"},
           // Check digits, formatted or not.
           {"codigo;nome;pis\n1;A;12034567890\n", "linha 2: PIS \"12034567890\" inválido"},
           {"codigo;nome;pis\n1;A;123\n", "PIS \"123\" inválido"},
           {"codigo;nome;pis\n1;A;00000000000\n", "PIS \"00000000000\" inválido"},
           {"codigo;nome;cpf\n1;A;529.982.247-24\n", "CPF \"529.982.247-24\" inválido"},
           {"codigo;nome;cpf\n1;A;11111111111\n", "CPF \"11111111111\" inválido"},
           {"codigo;nome\n99999999999;A\n", "código inválido"},
           {"", "vazio"},
           // Cards are digits within 32 bits; no control character in any text.
           {"codigo;nome;senha;cartao\n1;A;1;-5\n", "linha 2: cartão \"-5\" inválido"},
           {"codigo;nome;senha;cartao\n1;A;1;12a\n", "cartão \"12a\" inválido"},
           {"codigo;nome;senha;cartao\n1;A;1;4294967296\n", "cartão \"4294967296\" inválido"},
           {"codigo;nome;senha\n1;B\x01;1\n",
            "linha 2: o campo \"nome\" tem um caractere de controle"},
           {"codigo;nome;senha\n1;B;1\x7f\n", "o campo \"senha\" tem um caractere de controle"},
       }) {
    try {
      ponto::LeFuncionariosCsv(c.texto, "f.csv");
      ADD_FAILURE() << c.texto;
    } catch (const ponto::ErroDeUso& e) {
      EXPECT_NE(std::string(e.what()).find(c.mensagem), std::string::npos) << e.what();
    }
  }
  // A key twice in one employee (the second would win silently); the same key in two employees
  // is fine.
  try {
    ponto::LeFuncionariosJson(
        "[{\"codigo\": 1, \"nome\": \"A\", \"senha\": \"1\"},\n"
        " {\"codigo\": 2, \"nome\": \"B\",\n  \"nome\": \"C\"}]",
        "f.json");
    ADD_FAILURE() << "aceitou uma chave repetida";
  } catch (const ponto::ErroDeUso& e) {
    EXPECT_NE(
        std::string(e.what()).find("f.json: o campo \"nome\" aparece duas vezes no 2º funcionário"),
        std::string::npos)
        << e.what();
  }
  EXPECT_EQ(ponto::LeFuncionariosJson(
                "[{\"codigo\": 1, \"nome\": \"A\", \"senha\": \"1\", \"cartao\": \"0042\"},"
                " {\"codigo\": 2, \"nome\": \"B\", \"senha\": \"2\", \"cartao\": \"4294967295\"}]",
                "f.json")
                .size(),
            2u);
  // Overlong forms of ASCII characters are not UTF-8 (a way to smuggle a '/' or a quote past a
  // check); the line is named.
  for (const char* longo : {"\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF"}) {
    const std::string caminho =
        Arquivo("ponto_longo.csv", std::string("codigo;nome\n1;Ana\n2;B") + longo + "\n");
    try {
      ponto::LeFuncionarios(caminho, false);
      ADD_FAILURE() << "aceitou a forma longa";
    } catch (const ponto::ErroDeUso& e) {
      EXPECT_NE(std::string(e.what()).find("linha 3: texto que não é UTF-8"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(ponto::LeFuncionarios(Arquivo("ponto_curto.csv", "codigo;nome\n1;Jos\xC3\xA9\n"), false)
                .at(0)
                ->Nome(),
            "José");
  // Fingers 0 and 9 are the ends of the range, both taken.
  const auto dedos = ponto::LeFuncionariosCsv("codigo;nome;digitais\n1;A;0:QQ|9:RR\n", "f.csv");
  ASSERT_EQ(dedos.size(), 1u);
  ASSERT_EQ(dedos[0]->Template()->Count(), 2);
  EXPECT_EQ(dedos[0]->Template()->Item(1)->Dedo(), 0);
  EXPECT_EQ(dedos[0]->Template()->Item(2)->Dedo(), 9);
  for (const std::string& json :
       {std::string("{"), std::string("{}"), std::string(R"([{"codigo": "1"}])"),
        std::string(R"([{"codigo": 1, "nome": "A", "idade": 3}])")}) {
    EXPECT_THROW(ponto::LeFuncionariosJson(json, "f.json"), ponto::ErroDeUso) << json;
  }
}

}  // namespace

// ---- How services divide the clocks ------------------------------------------------------------

namespace partilha_teste {

using namespace ponto::partilha;

TEST(Partilha, TheShareIsTheClocksDividedEvenlyRoundedUp) {
  EXPECT_EQ(Cota(9, 3), 3u);
  EXPECT_EQ(Cota(9, 2), 5u);
  EXPECT_EQ(Cota(6, 4), 2u);
  EXPECT_EQ(Cota(1, 3), 1u);
  EXPECT_EQ(Cota(0, 3), 0u);
  EXPECT_EQ(Cota(5, 0), 5u);  // a service always counts itself
}

TEST(Partilha, ClocksPastTheShareGoOnlyWhereOthersHaveRoom) {
  // The first of three services holds all nine: six go, as far as the others have room.
  EXPECT_EQ(QuantosDeixar({9, 3, 9, 6}), 6u);
  EXPECT_EQ(QuantosDeixar({9, 3, 9, 2}), 2u);
  EXPECT_EQ(QuantosDeixar({9, 3, 9, 0}), 0u);  // nobody would take them: kept
  EXPECT_EQ(QuantosDeixar({9, 3, 3, 6}), 0u);  // at its share
  EXPECT_EQ(QuantosDeixar({9, 2, 5, 4}), 0u);  // five is the share of two
}

TEST(Partilha, AFreeClockIsTakenBelowTheShareOrWhenNobodyTookItForALeasePeriod) {
  const Visao abaixo{9, 3, 2, 0};
  const Visao naCota{9, 3, 3, 0};
  EXPECT_TRUE(Toma(abaixo, 0, 15));
  EXPECT_FALSE(Toma(naCota, 0, 15));
  EXPECT_FALSE(Toma(naCota, 14.9, 15));
  EXPECT_TRUE(Toma(naCota, 15, 15));  // no clock stays uncollected
}

}  // namespace partilha_teste
