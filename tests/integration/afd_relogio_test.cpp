// ponto afd against relogio-virtual: the register clock's own fiscal file over the network, as a
// site fetches it for an inspector, checked line by line against what the clock recorded.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "afd/afd.h"
#include "support/coleta_processo.h"

namespace quorvel {
namespace {

using namespace teste;

std::vector<std::string> Linhas(std::string texto) {
  std::vector<std::string> linhas;
  for (size_t p; (p = texto.find("\r\n")) != std::string::npos; texto.erase(0, p + 2))
    linhas.push_back(texto.substr(0, p));
  EXPECT_TRUE(texto.empty()) << "texto depois da última linha";
  return linhas;
}

std::vector<std::string> Com(std::vector<std::string> relogio, std::vector<std::string> antes,
                             std::vector<std::string> depois = {}) {
  relogio.insert(relogio.begin(), antes.begin(), antes.end());
  relogio.insert(relogio.end(), depois.begin(), depois.end());
  return relogio;
}

TEST(AfdDoRelogio, TheClocksWholeFiscalRecordArrivesOverTheNetworkUnderItsOwnName) {
  Daemon d({"--relogio",
            "codigo=3,porta=0,modelo=tarvenix,exemplo,fabricacao=00004000010000123,"
            "modelo_rep=T1,fabricante=11.222.333/0001-81,responsavel=390.533.447-05",
            "--semear", "40000"},
           1);
  const auto relogio = Rede(d.Porta(0), "tarvenix", 3);
  ASSERT_EQ(Ponto(Com(relogio, {"empregador"},
                      {"--nome", "Padaria São João", "--tipo", "cnpj", "--documento",
                       "11222333000181", "--cei", "", "--endereco", "Rua A, 1"}),
                  "afd_empregador")
                .codigo,
            0);
  ASSERT_EQ(Ponto(Com(relogio, {"data-hora"}, {"--agora"}), "afd_hora").codigo, 0);
  // Collected into a store while the employee about to be removed is still on the clock.
  const std::string banco = NovoSqlite("afd_relogio");
  ASSERT_EQ(Ponto(Com(relogio, {"coletar"}, {"--banco", banco}), "afd_coleta").codigo, 0);
  ASSERT_EQ(
      Ponto(Com(relogio, {"funcionarios", "excluir"}, {"--codigo", "3"}), "afd_exclui").codigo, 0);
  const int64_t marcacoes = NoRelogio(relogio);

  // Into a folder: the name comes from the file's own header.
  const std::string pasta = Temporario("afd_pasta");
  std::filesystem::remove_all(pasta);
  std::filesystem::create_directories(pasta);
  const auto r = Ponto(Com(relogio, {"afd"}, {"--saida", pasta}), "afd");
  ASSERT_EQ(r.codigo, 0) << r.err;
  const std::string nome = pasta + "/AFD0000400001000012311222333000181REP_C.txt";
  ASSERT_TRUE(std::filesystem::exists(nome)) << r.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(pasta),
                          std::filesystem::directory_iterator()),
            1);  // nothing of the partial file left beside it
  const std::string texto = teste::LeArquivo(nome);
  const auto linhas = Linhas(texto);

  std::map<char, int64_t> tipos;
  static const std::map<char, size_t> kTamanho = {{'2', 331}, {'3', 50}, {'4', 73}, {'5', 118}};
  ASSERT_EQ(linhas.front().size(), 302u);
  for (size_t i = 1; i + 1 < linhas.size(); ++i) {
    const std::string& l = linhas[i];
    ASSERT_TRUE(kTamanho.count(l[9])) << l;
    ASSERT_EQ(l.size(), kTamanho.at(l[9])) << l;
    // Every NSR the clock issued, one after the other, whatever the record's type.
    ASSERT_EQ(std::stoll(l.substr(0, 9)), static_cast<long long>(i)) << l;
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", afd::Crc16Modbus(l.substr(0, l.size() - 4)));
    ASSERT_EQ(l.substr(l.size() - 4), crc) << l;
    ++tipos[l[9]];
  }
  EXPECT_EQ(tipos['3'], marcacoes);
  EXPECT_EQ(tipos['2'], 1);
  EXPECT_EQ(tipos['4'], 1);
  EXPECT_EQ(tipos['5'], 1);
  EXPECT_EQ(linhas.back(), "999999999000000001" +
                               std::string(9 - std::to_string(marcacoes).size(), '0') +
                               std::to_string(marcacoes) + "0000000010000000010000000000000000009");
  EXPECT_NE(r.err.find(std::to_string(marcacoes) + " marcações, 1 registros de empregador"),
            std::string::npos)
      << r.err;

  // To standard output: the same file (the generation time aside, a minute apart at most).
  const auto saida = Ponto(Com(relogio, {"afd"}, {"--saida", "-"}), "afd_saida");
  ASSERT_EQ(saida.codigo, 0) << saida.err;
  const auto outras = Linhas(saida.out);
  ASSERT_EQ(outras.size(), linhas.size());
  EXPECT_TRUE(std::equal(outras.begin() + 1, outras.end(), linhas.begin() + 1));

  // A site's clocks file: --relogio picks the one clock whose file is fetched.
  const std::string arquivo = Temporario("afd_relogios.txt");
  std::ofstream(arquivo) << "3;127.0.0.1:" << d.Porta(0) << ";tarvenix\n9;127.0.0.1:1;quorvel\n";
  const auto doArquivo =
      Ponto({"afd", "--relogios", arquivo, "--relogio", "3", "--saida", "-"}, "afd_arquivo");
  ASSERT_EQ(doArquivo.codigo, 0) << doArquivo.err;
  EXPECT_EQ(Linhas(doArquivo.out).size(), linhas.size());
  const auto fora =
      Ponto({"afd", "--relogios", arquivo, "--relogio", "4", "--saida", "-"}, "afd_fora");
  EXPECT_EQ(fora.codigo, 2);
  EXPECT_NE(fora.err.find("o relógio 4 não está em"), std::string::npos) << fora.err;

  // A period: the header's dates and the trailer's counts are the period's.
  const auto dia =
      Ponto(Com(relogio, {"afd"}, {"--saida", "-", "--de", "01/01/2000", "--ate", "01/01/2000"}),
            "afd_dia");
  ASSERT_EQ(dia.codigo, 0) << dia.err;
  const auto vazio = Linhas(dia.out);
  ASSERT_EQ(vazio.size(), 2u);
  EXPECT_EQ(vazio.back(), "999999999" + std::string(54, '0') + "9");

  // Kept in a store: the store's own export carries the clock's employer, clock-set and
  // employee records in their NSR places (with the export's CRC), and the header's employer is
  // the clock's. A second fetch keeps nothing twice.
  const auto guardado = Ponto(Com(relogio, {"afd"}, {"--saida", "-", "--banco", banco}), "afd_b");
  ASSERT_EQ(guardado.codigo, 0) << guardado.err;
  EXPECT_NE(guardado.err.find("3 registros novos"), std::string::npos) << guardado.err;
  const auto de_novo = Ponto(Com(relogio, {"afd"}, {"--saida", "-", "--banco", banco}), "afd_b2");
  EXPECT_NE(de_novo.err.find("0 registros novos"), std::string::npos) << de_novo.err;
  const std::string exportado = Temporario("afd_exportado.txt");
  // No header option: the employer and what the clock is come from the clock's own file.
  const auto e = Ponto({"exportar", "afd", "--banco", banco, "--saida", exportado}, "afd_exporta");
  ASSERT_EQ(e.codigo, 0) << e.err;
  EXPECT_NE(e.err.find("e 3 registros de empregador, hora e funcionários do relógio"),
            std::string::npos)
      << e.err;
  const auto doBanco = Linhas(teste::LeArquivo(exportado));
  ASSERT_EQ(doBanco.size(), linhas.size());
  EXPECT_EQ(doBanco.front().substr(10, 15), "111222333000181");
  EXPECT_EQ(doBanco.front().substr(39, 16), "Padaria S\xE3o Jo\xE3o");
  EXPECT_EQ(doBanco.front().substr(189, 17), "00004000010000123");
  EXPECT_EQ(doBanco.front().substr(253, 17), "111222333000181T1");
  for (size_t i = 1; i + 1 < doBanco.size(); ++i) {
    const std::string& l = doBanco[i];
    ASSERT_EQ(l.substr(0, 10), linhas[i].substr(0, 10)) << "a linha " << i << " mudou de lugar";
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", afd::Crc16Kermit(l.substr(0, l.size() - 4)));
    ASSERT_EQ(l.substr(l.size() - 4), crc) << l;
    if (l[9] != '3') {
      EXPECT_EQ(l.substr(0, l.size() - 4), linhas[i].substr(0, l.size() - 4));
    }
  }
  EXPECT_EQ(doBanco.back(), linhas.back());
}

// Summer time given to a register clock through ponto: the clock moves its time when the
// period starts, as its time shows, and its fiscal file records each move (type 4) with the
// offset on each side; what it records in summer says -0200.
TEST(AfdDoRelogio, SummerTimeIsRecordedInTheClocksFileWhenItStarts) {
  Daemon d({"--relogio", "codigo=4,porta=0,modelo=tarvenix,fabricacao=4,fuso=-0300"}, 1);
  const auto relogio = Rede(d.Porta(0), "tarvenix", 4);
  const auto roda = [&](std::vector<std::string> comando, std::vector<std::string> depois = {}) {
    const auto r = Ponto(Com(relogio, std::move(comando), std::move(depois)), "verao");
    EXPECT_EQ(r.codigo, 0) << r.err;
    return r.out;
  };
  // The clock set ten seconds before the period starts (whatever today's date), then given it.
  roda({"data-hora"}, {"--definir", "17/10/2026 23:59:50"});
  roda({"horario-verao"}, {"--inicio", "18/10/2026 00:00", "--fim", "21/02/2027 00:00"});
  // The clock's own time, read until it passes midnight: it then says one o'clock.
  std::string hora;
  for (int i = 0; i < 600; ++i) {
    const auto j = nlohmann::json::parse(roda({"data-hora"}, {"--formato", "json"}));
    hora = j.at(0).at("data_hora").get<std::string>();
    if (hora.substr(0, 10) == "2026-10-18") break;
  }
  ASSERT_EQ(hora.substr(0, 13), "2026-10-18 01") << hora;

  const auto linhas = Linhas(roda({"afd"}, {"--saida", "-"}));
  std::vector<std::string> ajustes;
  for (const auto& l : linhas)
    if (l.size() == 73 && l[9] == '4') ajustes.push_back(l.substr(10, 48));
  ASSERT_EQ(ajustes.size(), 2u) << (linhas.empty() ? "" : linhas.front());
  // The time set, then midnight.
  EXPECT_EQ(ajustes[0].substr(24), "2026-10-17T23:59:00-0300");
  EXPECT_EQ(ajustes[1], "2026-10-18T00:00:00-03002026-10-18T01:00:00-0200");
  // The header's generation time is the clock's, in summer.
  EXPECT_EQ(linhas.front().substr(245, 5), "-0200") << linhas.front();
}

TEST(AfdDoRelogio, ALinkLostMidReadAFingerprintClockAndBadDatesLeaveNoFile) {
  // The link falls after four frames: the hello, the subscription and two parts of the file.
  Daemon d({"--relogio", "codigo=1,porta=0,modelo=tarvenix", "--relogio",
            "codigo=2,porta=0,modelo=quorvel", "--semear", "60000", "--cair-apos", "4"},
           2);
  const std::string destino = Temporario("afd_caido.txt");
  std::filesystem::remove(destino);
  const auto caido =
      Ponto(Com(Rede(d.Porta(0), "tarvenix", 1), {"afd"}, {"--saida", destino}), "afd_caido");
  EXPECT_EQ(caido.codigo, 4) << caido.err;
  EXPECT_NE(caido.err.find("caiu durante a leitura do arquivo fiscal"), std::string::npos)
      << caido.err;
  EXPECT_FALSE(std::filesystem::exists(destino));
  for (const auto& e :
       std::filesystem::directory_iterator(std::filesystem::path(destino).parent_path()))
    EXPECT_EQ(e.path().string().find(destino + ".parcial"), std::string::npos) << e.path();

  const auto digital =
      Ponto(Com(Rede(d.Porta(1), "quorvel", 2), {"afd"}, {"--saida", destino}), "afd_digital");
  EXPECT_EQ(digital.codigo, 2);
  EXPECT_NE(digital.err.find("não tem arquivo fiscal"), std::string::npos) << digital.err;
  const auto datas = Ponto(Com(Rede(d.Porta(0), "tarvenix", 1), {"afd"},
                               {"--de", "02/03/2026", "--ate", "01/03/2026", "--saida", destino}),
                           "afd_datas");
  EXPECT_EQ(datas.codigo, 2);
  EXPECT_NE(datas.err.find("--de é posterior a --ate"), std::string::npos) << datas.err;
  EXPECT_FALSE(std::filesystem::exists(destino));
}

}  // namespace
}  // namespace quorvel
