// The vocabulary every part shares: error messages and numbers, dates read and written, and the
// documents' check digits.
#include <gtest/gtest.h>

#include "quorvel/data_hora.h"
#include "quorvel/documentos.h"
#include "quorvel/erro.h"
#include "support/controle_fixture.h"

namespace quorvel {
namespace {

using namespace teste;

TEST(MontaMensagemErro, LayoutByteForByte) {
  EXPECT_EQ(MontaMensagemErro("X", "C", "M"), "X\r\nClasse: C\r\nMétodo: M");
  EXPECT_EQ(MontaMensagemErro("", "", ""), "\r\nClasse: \r\nMétodo: ");
}

TEST(EnvolveErro, EmbedsTheCaughtDescriptionWhole) {
  Erro e = Captura([] {
    EnvolveErro("Fora", "Externo", [] {
      EnvolveErro("Dentro", "Interno", [] { LancaErro(-41, "Falhou.", "Origem", "Metodo"); });
    });
  });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_EQ(e.Descricao(),
            "Ocorreu um erro desconhecido! - Ocorreu um erro desconhecido! - Falhou."
            "\r\nClasse: Origem\r\nMétodo: Metodo"
            "\r\nClasse: Dentro\r\nMétodo: Interno"
            "\r\nClasse: Fora\r\nMétodo: Externo");
}

TEST(EnvolveErro, WrapsForeignExceptionsToo) {
  Erro e = Captura([] { EnvolveErro("C", "M", [] { throw std::runtime_error("boom"); }); });
  EXPECT_EQ(e.Descricao(), "Ocorreu um erro desconhecido! - boom\r\nClasse: C\r\nMétodo: M");
  EXPECT_EQ(EnvolveErro("C", "M", [] { return 7; }), 7);
}

TEST(ErrosDaPlataforma, CarryTheCustomaryNumbers) {
  EXPECT_EQ(Captura([] { LancaEstouro(); }).Numero(), erro_plataforma::kEstouro);
  EXPECT_EQ(Captura([] { LancaTiposIncompativeis(); }).Numero(),
            erro_plataforma::kTiposIncompativeis);
  EXPECT_EQ(Captura([] { LancaArgumentoInvalido(); }).Numero(),
            erro_plataforma::kArgumentoInvalido);
  EXPECT_EQ(Captura([] { LancaIndiceForaDoIntervalo(); }).Numero(),
            erro_plataforma::kIndiceForaDoIntervalo);
  EXPECT_EQ(Captura([] { LancaObjetoNaoDefinido(); }).Numero(),
            erro_plataforma::kObjetoNaoDefinido);
  EXPECT_EQ(Para16Bits(-32768), -32768);
  EXPECT_EQ(Para16Bits(32767), 32767);
  EXPECT_EQ(Captura([] { Para16Bits(32768); }).Numero(), erro_plataforma::kEstouro);
  EXPECT_EQ(Captura([] { Para16Bits(-32769); }).Numero(), erro_plataforma::kEstouro);
}

TEST(DataHora, ReadsDayFirstUnderBrazilianSettings) {
  const DataHora d = DataHora::DeTexto("5/3/2024 7:4:9");
  EXPECT_EQ(d.Partes(), (PartesDataHora{2024, 3, 5, 7, 4, 9}));
  EXPECT_EQ(d.FormataIso(), "2024-03-05 07:04:09");
  EXPECT_EQ(DataHora::DeTexto("05/03/2024").Partes(), (PartesDataHora{2024, 3, 5, 0, 0, 0}));
  EXPECT_EQ(DataHora::DeTexto(" 31-12-1999 23:59 ").Partes(),
            (PartesDataHora{1999, 12, 31, 23, 59, 0}));
}

TEST(DataHora, ReadsYearFirstAndTimeOnly) {
  EXPECT_EQ(DataHora::DeTexto("2024-03-05 17:04:09").Partes(),
            (PartesDataHora{2024, 3, 5, 17, 4, 9}));
  EXPECT_EQ(DataHora::DeTexto("2024-03-05T17:04:09").Partes(),
            (PartesDataHora{2024, 3, 5, 17, 4, 9}));
  EXPECT_EQ(DataHora::DeTexto("00:00:00"), DataHora());
  EXPECT_EQ(DataHora::DeTexto("13:45").Segundos(), 13 * 3600 + 45 * 60);
  EXPECT_EQ(DataHora().Partes(), (PartesDataHora{1899, 12, 30, 0, 0, 0}));
}

TEST(DataHora, WindowsTwoDigitYears) {
  EXPECT_EQ(DataHora::DeTexto("1/2/29").Partes().ano, 2029);
  EXPECT_EQ(DataHora::DeTexto("1/2/30").Partes().ano, 1930);
  EXPECT_EQ(DataHora::DeTexto("1/2/0").Partes().ano, 2000);
  EXPECT_EQ(DataHora::DeTexto("1/2/99").Partes().ano, 1999);
}

TEST(DataHora, HonoursOtherRegionalOrders) {
  ConfiguracaoRegional eua{OrdemData::MesDiaAno};
  EXPECT_EQ(DataHora::DeTexto("3/5/2024", eua).Partes(), (PartesDataHora{2024, 3, 5, 0, 0, 0}));
  // Never swapped to make a text fit: month 13 is no month, whatever the order.
  EXPECT_EQ(Captura([&] { DataHora::DeTexto("13/5/2024", eua); }).Numero(),
            erro_plataforma::kTiposIncompativeis);
}

TEST(DataHora, RejectsAnythingThatIsNotARealDateAndTime) {
  for (const char* texto : {"5/13/2024",
                            "31/4/2024",
                            "29/2/2023",
                            "1/1/2024 24:00:00",
                            "1/1/2024 23:60",
                            "1/1/2024 23:59:60",
                            "0/0/0 0:0:0",
                            "",
                            "   ",
                            "abc",
                            "1/1",
                            "1/1/2024 7",
                            "1/1/2024x",
                            "1//2024",
                            "1/1/20245",
                            "02024-03-05",
                            "29/2/1900",  // a century year is not a leap year...
                            "29/2/2100",
                            "1/1/2024 07:04:09:01",
                            "1-1/2024",
                            "-1/1/2024",
                            "12:",
                            "99999999999999999999/1/1"}) {
    Erro e = Captura([&] { DataHora::DeTexto(texto); });
    EXPECT_EQ(e.Numero(), erro_plataforma::kTiposIncompativeis) << texto;
  }
  EXPECT_EQ(DataHora::DeTexto("29/2/2024").Partes().dia, 29);  // leap year
  EXPECT_EQ(DataHora::DeTexto("29/2/2000").Partes().dia, 29);  // ...unless it divides by 400
  EXPECT_FALSE(DataHora::PartesValidas(0, 0, 0, 0, 0, 0));
  EXPECT_EQ(Captura([] { DataHora::DePartes(2024, 2, 30); }).Numero(),
            erro_plataforma::kTiposIncompativeis);
}

TEST(DataHora, RoundTripsThroughDaysAndSeconds) {
  const DataHora d = DataHora::DePartes(2026, 12, 6, 18, 30, 15);
  EXPECT_EQ(DataHora::DeDias(d.ParaDias()), d);
  EXPECT_DOUBLE_EQ(DataHora::DePartes(1900, 1, 1).ParaDias(), 2.0);
  EXPECT_DOUBLE_EQ(DataHora::DePartes(1899, 12, 29, 6, 0, 0).ParaDias(), -1.25);
  EXPECT_EQ(DataHora::DeDias(-1.25), DataHora::DePartes(1899, 12, 29, 6, 0, 0));
  EXPECT_LT(DataHora::DePartes(2024, 1, 1), DataHora::DePartes(2024, 1, 1, 0, 0, 1));
  EXPECT_EQ(d.FormataBrasileiro(), "06/12/2026 18:30:15");
}

TEST(Documentos, CheckDigitsOfPisCpfCnpjAndCei) {
  using namespace documentos;
  for (const char* valido : {"12034567899", "13098765436", "14012345679"}) {
    EXPECT_TRUE(PisValido(valido)) << valido;
    // Each digit changed makes it invalid.
    for (size_t i = 0; i < 11; ++i) {
      std::string errado = valido;
      errado[i] = static_cast<char>('0' + (errado[i] - '0' + 1) % 10);
      EXPECT_FALSE(PisValido(errado)) << errado;
    }
  }
  for (const char* valido : {"52998224725", "11144477735"}) {
    EXPECT_TRUE(CpfValido(valido)) << valido;
    for (size_t i = 0; i < 11; ++i) {
      std::string errado = valido;
      errado[i] = static_cast<char>('0' + (errado[i] - '0' + 1) % 10);
      EXPECT_FALSE(CpfValido(errado)) << errado;
    }
  }
  EXPECT_TRUE(CnpjValido("11222333000181"));
  for (size_t i = 0; i < 14; ++i) {
    std::string errado = "11222333000181";
    errado[i] = static_cast<char>('0' + (errado[i] - '0' + 1) % 10);
    EXPECT_FALSE(CnpjValido(errado)) << errado;
  }
  for (const char* valido : {"314159265359", "271828182844"}) {
    EXPECT_TRUE(CeiValido(valido)) << valido;
    // Each digit one off. (The rule adds the sum's last two digits, so some larger changes,
    // a 9 become 0 where the weight is 2, go unseen, as with every check digit of this kind.)
    for (size_t i = 0; i < 12; ++i) {
      std::string errado = valido;
      errado[i] = errado[i] == '9' ? '8' : static_cast<char>(errado[i] + 1);
      EXPECT_FALSE(CeiValido(errado)) << errado;
    }
  }
  // A sum whose units and tens add up to ten or more, and a check digit of 0.
  EXPECT_TRUE(CeiValido("123456789010"));
  EXPECT_FALSE(CeiValido("111111111111"));
  EXPECT_FALSE(CeiValido("12345678901"));
  EXPECT_EQ(SoDigitos("31.415.92653/59"), "314159265359");
  // Runs of one digit pass every check-digit rule and are still no one's number.
  EXPECT_FALSE(PisValido("00000000000"));
  EXPECT_FALSE(CpfValido("11111111111"));
  EXPECT_FALSE(CnpjValido("00000000000000"));
  // Lengths and letters.
  EXPECT_FALSE(PisValido("1203456789"));
  EXPECT_FALSE(CpfValido("5299822472a"));
  EXPECT_FALSE(CnpjValido("123"));
  // Formatted input, once reduced to its digits.
  EXPECT_EQ(SoDigitos("529.982.247-25"), "52998224725");
  EXPECT_EQ(SoDigitos("11.222.333/0001-81"), "11222333000181");
  EXPECT_EQ(SoDigitos("12a"), "12a");
  EXPECT_TRUE(CpfValido(SoDigitos("529.982.247-25")));
  EXPECT_EQ(ComDigitoPis("1203456789"), "12034567899");
}

}  // namespace
}  // namespace quorvel
