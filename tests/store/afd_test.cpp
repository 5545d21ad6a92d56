// The fiscal punch file, checked field by field and CRC by CRC against lines computed by hand.
#include "afd/afd.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quorvel::afd {
namespace {

TEST(Crc16, BothVariantsGiveTheirCatalogueCheckValues) {
  EXPECT_EQ(Crc16Kermit("123456789"), 0x2189);
  EXPECT_EQ(Crc16Modbus("123456789"), 0x4B37);
  EXPECT_EQ(Crc16Kermit(""), 0x0000);
  EXPECT_EQ(Crc16Modbus(""), 0xFFFF);
}

TEST(RegistroMarcacao, TheWorkedExampleInBothCrcVariants) {
  Punch p;
  p.nsr = 1;
  p.momento = DataHora::DeTexto("2024-05-06 08:00:37");  // seconds are written as 00
  p.cpf = "123.456.789-09";
  Opcoes o;
  o.fuso = Fuso::Fixo(-180);
  const std::string kermit = RegistroMarcacao(p, o);
  EXPECT_EQ(kermit,
            "0000000013"
            "2024-05-06T08:00:00-0300"
            "12345678909 "
            "D680");
  EXPECT_EQ(kermit.size(), 50u);
  o.crc = Crc::Modbus;
  EXPECT_EQ(RegistroMarcacao(p, o),
            "0000000013"
            "2024-05-06T08:00:00-0300"
            "12345678909 "
            "37EA");
  // Another offset and a nine-digit NSR.
  p.nsr = 123456789;
  o.fuso = Fuso::Fixo(-60 * 5);
  const std::string acre = RegistroMarcacao(p, o);
  EXPECT_EQ(acre.substr(0, 34),
            "1234567893"
            "2024-05-06T08:00:00-0500");
  EXPECT_EQ(acre.substr(46), [&] {
    char t[8];
    std::snprintf(t, sizeof t, "%04X", Crc16Modbus(acre.substr(0, 46)));
    return std::string(t);
  }());
}

TEST(RegistroCabecalho, EveryFieldAtItsPositionAndTheCrcOverTheRest) {
  Cabecalho c;
  c.empregadorDocumento = "12.345.678/0001-95";
  c.razaoSocial = "Padaria São João";  // Latin-1: one byte per character
  c.numeroFabricacao = "00004000010000123";
  c.fabricanteDocumento = "98765432000198";
  c.modelo = "R1";
  c.geradoEm = DataHora::DeTexto("2024-06-01 17:30:00");
  Opcoes o;
  const std::string h = RegistroCabecalho(c, DataHora::DeTexto("2024-05-06 08:00:00"),
                                          DataHora::DeTexto("2024-05-31 18:00:00"), o);
  ASSERT_EQ(h.size(), 302u);
  auto campo = [&](size_t de, size_t ate) { return h.substr(de - 1, ate - de + 1); };
  EXPECT_EQ(campo(1, 9), "000000000");
  EXPECT_EQ(campo(10, 10), "1");
  EXPECT_EQ(campo(11, 11), "1");
  EXPECT_EQ(campo(12, 25), "12345678000195");
  EXPECT_EQ(campo(26, 39), std::string(14, ' '));
  EXPECT_EQ(campo(40, 189), "Padaria S\xE3o Jo\xE3o" + std::string(134, ' '));
  EXPECT_EQ(campo(190, 206), "00004000010000123");
  EXPECT_EQ(campo(207, 216), "2024-05-06");
  EXPECT_EQ(campo(217, 226), "2024-05-31");
  EXPECT_EQ(campo(227, 250), "2024-06-01T17:30:00-0300");
  EXPECT_EQ(campo(251, 253), "003");
  EXPECT_EQ(campo(254, 254), "1");
  EXPECT_EQ(campo(255, 268), "98765432000198");
  EXPECT_EQ(campo(269, 298), "R1" + std::string(28, ' '));
  char crc[8];
  std::snprintf(crc, sizeof crc, "%04X", Crc16Kermit(h.substr(0, 298)));
  EXPECT_EQ(campo(299, 302), crc);

  // A name longer than its field is cut, never shifting the fields after it.
  c.razaoSocial = std::string(200, 'X');
  c.empregadorCpf = true;
  const std::string longo = RegistroCabecalho(c, c.geradoEm, c.geradoEm, o);
  EXPECT_EQ(longo.size(), 302u);
  EXPECT_EQ(longo.substr(10, 1), "2");
  EXPECT_EQ(longo.substr(189, 17), "00004000010000123");
}

TEST(Escreve, HeaderPunchesTrailerAndTheSignaturePlaceholderWithCrLf) {
  Cabecalho c;
  c.geradoEm = DataHora::DeTexto("2024-06-01 17:30:00");
  std::vector<Punch> punches(3);
  const char* momentos[] = {"2024-05-06 08:00:00", "2024-05-06 12:01:00", "2024-05-07 07:59:00"};
  for (int i = 0; i < 3; ++i) {
    punches[i].nsr = 40 + i;
    punches[i].momento = DataHora::DeTexto(momentos[i]);
    punches[i].cpf = "12345678909";
  }
  Opcoes o;
  o.assinatura = true;
  std::ostringstream s;
  Escreve(s, c, punches, o);
  std::vector<std::string> linhas;
  std::string t = s.str();
  for (size_t p; (p = t.find("\r\n")) != std::string::npos; t.erase(0, p + 2))
    linhas.push_back(t.substr(0, p));
  EXPECT_TRUE(t.empty()) << "a última linha também termina em CR LF";
  ASSERT_EQ(linhas.size(), 6u);
  EXPECT_EQ(linhas[0].substr(206, 20),
            "2024-05-06"
            "2024-05-07");
  EXPECT_EQ(linhas[1].substr(0, 10), "0000000403");
  EXPECT_EQ(linhas[3].substr(0, 10), "0000000423");
  EXPECT_EQ(linhas[4],
            "999999999"
            "000000000"
            "000000003"
            "000000000"
            "000000000"
            "000000000"
            "000000000"
            "9");
  EXPECT_EQ(linhas[5], "ASSINATURA_DIGITAL_EM_ARQUIVO_P7S" + std::string(67, ' '));
}

TEST(Leiaute1510, PisDayFirstDatesAndNoCrc) {
  Punch p;
  p.nsr = 1;
  p.momento = DataHora::DeTexto("2024-05-06 08:00:00");
  p.pis = "12345678909";
  Opcoes o;
  o.leiaute = Leiaute::P1510;
  EXPECT_EQ(RegistroMarcacao(p, o), "0000000013060520240800012345678909");
  Cabecalho c;
  c.empregadorDocumento = "12345678000195";
  c.geradoEm = DataHora::DeTexto("2024-06-01 17:30:00");
  const std::string h = RegistroCabecalho(c, p.momento, p.momento, o);
  ASSERT_EQ(h.size(), 232u);
  EXPECT_EQ(h.substr(204, 28),
            "06052024"
            "06052024"
            "01062024"
            "1730");
  EXPECT_EQ(RegistroTrailer({.marcacoes = 1}, o),
            "999999999"
            "000000000"
            "000000001"
            "000000000"
            "000000000"
            "9");
  // The older layout has no signature record: asked for one, the file still ends at the trailer.
  o.assinatura = true;
  std::ostringstream arquivo;
  Escreve(arquivo, c, {p}, o);
  const std::string t = arquivo.str();
  const std::string fim = RegistroTrailer({.marcacoes = 1}, o) + "\r\n";
  ASSERT_GT(t.size(), fim.size());
  EXPECT_EQ(t.substr(t.size() - fim.size()), fim);
  EXPECT_EQ(t.find("ASSINATURA"), std::string::npos);
}

// The records a register clock writes besides its punches, each field at its position.
TEST(RegistrosDoRelogio, EmployerClockSetAndEmployeeFieldsAtTheirPositions) {
  Opcoes o;
  o.crc = Crc::Modbus;
  const DataHora quando = DataHora::DeTexto("2024-05-06 08:00:00");
  const std::string e = RegistroEmpresa(
      7, quando, "390.533.447-05",
      {false, "11.222.333/0001-81", "", std::string(160, 'R'), "Rua São João, 1"}, o);
  ASSERT_EQ(e.size(), 331u);
  EXPECT_EQ(e.substr(0, 10), "0000000072");
  EXPECT_EQ(e.substr(10, 24), "2024-05-06T08:00:00-0300");
  EXPECT_EQ(e.substr(34, 14), "39053344705   ");  // 14 positions here, 11 in types 4 and 5
  EXPECT_EQ(e.substr(48, 15), "111222333000181");
  EXPECT_EQ(e.substr(63, 14), std::string(14, ' '));
  EXPECT_EQ(e.substr(77, 150), std::string(150, 'R'));  // cut, never shifting what follows
  EXPECT_EQ(e.substr(227, 15), "Rua S\xE3o Jo\xE3o, 1");
  char crc[8];
  std::snprintf(crc, sizeof crc, "%04X", Crc16Modbus(e.substr(0, 327)));
  EXPECT_EQ(e.substr(327), crc);

  const std::string a =
      RegistroAjuste(8, quando, DataHora::DeTexto("2024-05-06 09:15:00"), "39053344705", o);
  EXPECT_EQ(a.substr(0, 69),
            "0000000084"
            "2024-05-06T08:00:00-0300"
            "2024-05-06T09:15:00-0300"
            "39053344705");
  EXPECT_EQ(a.size(), 73u);

  const std::string f = RegistroEmpregado(9, quando, 'A', "529.982.247-25", "Ana Souza", "", o);
  ASSERT_EQ(f.size(), 118u);
  EXPECT_EQ(f.substr(9, 26), "52024-05-06T08:00:00-0300A");
  EXPECT_EQ(f.substr(35, 12), "52998224725 ");
  EXPECT_EQ(f.substr(47, 52), "Ana Souza" + std::string(43, ' '));
  EXPECT_EQ(f.substr(99, 15), std::string(15, ' '));  // other data and an unknown responsible

  Contagem n;
  n.empresa = 2;
  n.marcacoes = 30;
  n.ajustes = 1;
  n.empregados = 4;
  EXPECT_EQ(RegistroTrailer(n, o),
            "999999999000000002000000030000000001000000004" + std::string(18, '0') + "9");
  // A record carried from a clock's file into one with the other CRC.
  o.crc = Crc::Kermit;
  const std::string k = ComCrcRecalculado(a, o);
  EXPECT_EQ(k.substr(0, 69), a.substr(0, 69));
  std::snprintf(crc, sizeof crc, "%04X", Crc16Kermit(a.substr(0, 69)));
  EXPECT_EQ(k.substr(69), crc);
}

TEST(Fuso, ReadAndWrittenAsSignAndFourDigits) {
  EXPECT_EQ(FusoDe("-0300"), -180);
  EXPECT_EQ(FusoDe("+0530"), 330);
  EXPECT_FALSE(FusoDe("-03:00"));
  EXPECT_FALSE(FusoDe("-2500"));
  EXPECT_FALSE(FusoDe("0300"));
  EXPECT_EQ(TextoFuso(-180), "-0300");
  EXPECT_EQ(TextoFuso(0), "+0000");
  EXPECT_EQ(ParaLatin1("Jo\xC3\xA3o \xE2\x82\xAC"), "Jo\xE3o ?");
}

// Named zones give each date-time the offset in force at its own instant, from the system's
// zone database: Brazil's summer times of past years, the rule a zone file ends with for years
// it does not list (both hemispheres), and the wall times a change makes happen twice or never.
TEST(Fuso, ANamedZoneGivesEachInstantItsOwnOffset) {
  const auto local = [](const char* zona, const char* quando) {
    const auto f = Fuso::De(zona);
    EXPECT_TRUE(f) << zona;
    return f ? f->MinutosNoLocal(DataHora::DeTexto(quando)) : 0;
  };
  EXPECT_EQ(local("America/Sao_Paulo", "2024-06-01 12:00:00"), -180);
  EXPECT_EQ(local("America/Sao_Paulo", "2018-01-15 12:00:00"), -120);  // summer 2017/18
  EXPECT_EQ(local("America/Sao_Paulo", "2018-06-15 12:00:00"), -180);
  EXPECT_EQ(local("America/Sao_Paulo", "2040-01-15 12:00:00"), -180);  // none since 2019
  // Summer 2017/18 ended at midnight of 18 February: 23:30 of the 17th happened twice (the
  // first, summer one is taken); it began at midnight of 15 October: 00:30 never happened.
  EXPECT_EQ(local("America/Sao_Paulo", "2018-02-17 23:30:00"), -120);
  EXPECT_EQ(local("America/Sao_Paulo", "2018-02-18 00:30:00"), -180);
  EXPECT_EQ(local("America/Sao_Paulo", "2017-10-15 00:30:00"), -180);
  EXPECT_EQ(local("America/Sao_Paulo", "2017-10-15 01:30:00"), -120);
  EXPECT_EQ(local("America/Noronha", "2024-06-01 12:00:00"), -120);
  EXPECT_EQ(local("America/Rio_Branco", "2024-06-01 12:00:00"), -300);
  // Past the zone file's list, by its closing rule.
  EXPECT_EQ(local("America/New_York", "2090-07-01 12:00:00"), -240);
  EXPECT_EQ(local("America/New_York", "2090-01-01 12:00:00"), -300);
  EXPECT_EQ(local("America/New_York", "2090-03-12 01:59:00"), -300);  // second Sunday of March
  EXPECT_EQ(local("America/New_York", "2090-03-12 03:00:00"), -240);
  EXPECT_EQ(local("Australia/Sydney", "2090-01-01 12:00:00"), 660);
  EXPECT_EQ(local("Australia/Sydney", "2090-07-01 12:00:00"), 600);
  EXPECT_EQ(local("-0300", "2018-01-15 12:00:00"), -180);  // a fixed offset never changes
  // By instant: 2018-01-15 15:00 UTC, in the summer of 2017/18.
  const auto sp = Fuso::De("America/Sao_Paulo");
  ASSERT_TRUE(sp);
  EXPECT_EQ(sp->MinutosEmUtc(1516028400), -120);
  EXPECT_EQ(sp->Nome(), "America/Sao_Paulo");
  EXPECT_EQ(Fuso::De("+0530")->Nome(), "+0530");
}

// A name that is not a zone, one that reaches outside the database, and zone files that are
// damaged are refused with a reason; nothing is read outside the folder.
TEST(Fuso, NamesAndFilesThatAreNoZoneAreRefusedWithAReason) {
  for (const char* nome : {"Marte/Olimpia", "../../etc/passwd", "/etc/localtime", "America//X",
                           "America/./Sao_Paulo", "-03:00", "0300", "", "America/Sao Paulo"}) {
    std::string motivo;
    EXPECT_FALSE(Fuso::De(nome, &motivo)) << nome;
    EXPECT_FALSE(motivo.empty()) << nome;
  }
  const std::string pasta = ::testing::TempDir() + "fusos_" + std::to_string(::getpid());
  std::filesystem::create_directories(pasta + "/Falso");
  std::string verdadeiro;
  {
    std::ifstream in("/usr/share/zoneinfo/America/Sao_Paulo", std::ios::binary);
    verdadeiro.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(verdadeiro.size(), 200u);
  const std::pair<const char*, std::string> arquivos[] = {
      {"Texto", "isto não é um fuso\n"},
      {"Cortado", verdadeiro.substr(0, verdadeiro.size() / 2)},
      {"SoCabecalho", verdadeiro.substr(0, 44)},
      {"Vazio", ""},
  };
  for (const auto& [nome, conteudo] : arquivos) {
    std::ofstream(pasta + "/Falso/" + nome, std::ios::binary) << conteudo;
    std::string motivo;
    EXPECT_FALSE(Fuso::DaPasta(pasta, std::string("Falso/") + nome, &motivo)) << nome;
    EXPECT_FALSE(motivo.empty()) << nome;
  }
  std::ofstream(pasta + "/Falso/Bom", std::ios::binary) << verdadeiro;
  const auto bom = Fuso::DaPasta(pasta, "Falso/Bom");
  ASSERT_TRUE(bom);
  EXPECT_EQ(bom->MinutosNoLocal(DataHora::DeTexto("2018-01-15 12:00:00")), -120);
  std::filesystem::remove_all(pasta);
}

}  // namespace
}  // namespace quorvel::afd
