// Punch records and lists, collection from one clock and from all, pointer and erasing.
#include <algorithm>
#include <numeric>
#include <tuple>

#include "support/controle_fixture.h"
#include "support/marcacoes_falsas.h"

namespace quorvel {
namespace {

using namespace teste;

TEST(Marcacao, DefaultsAndListFailures) {
  Marcacao m;
  EXPECT_EQ(m.CodigoCartao(), 0);
  EXPECT_EQ(m.CodigoRelogio(), 0);
  EXPECT_EQ(m.DataHoraMarcacao(), DataHora::DeTexto("00:00:00"));
  EXPECT_FALSE(m.MarcacaoPorDigital());
  EXPECT_EQ(m.PIS(), "");
  EXPECT_EQ(m.NSR(), "");

  ListaMarcacao lista;
  EXPECT_EQ(lista.Count(), 0);
  for (int32_t p : {0, 1}) {
    Erro e = Captura([&] { lista.Item(p); });
    EXPECT_EQ(e.Numero(), erro::kDesconhecido);
    EXPECT_EQ(e.Descricao().rfind("Ocorreu um erro desconhecido! - ", 0), 0u);
    EXPECT_TRUE(e.Descricao().ends_with("\r\nClasse: ListaMarcacao\r\nMétodo: Item"));
  }
  auto p = std::make_shared<Marcacao>();
  lista.Add(p);
  lista.Add(p);
  EXPECT_EQ(lista.Count(), 2);
  p->CodigoCartao(5);
  EXPECT_EQ(lista.Item(1)->CodigoCartao(), 5);
  EXPECT_EQ(lista.Item(2), lista.Item(1));
  EXPECT_EQ(Captura([&] { lista.Item(3); }).Numero(), erro::kDesconhecido);
}

// Punches read from clocks are compact records until the host asks for one; what the host
// sees is the same as with one object per punch.
TEST(ListaMarcacao, CompactRecordsKeepEveryFieldAndTheObjectsIdentity) {
  ListaMarcacao lista;
  const DataHora quando = DataHora::DePartes(2024, 3, 5, 7, 4, 9);
  lista.AdicionaLida(12, 3, quando, true);
  lista.AdicionaLida(0, 4, quando, false, "000123", "01234567890");
  lista.AdicionaLida(0, 4, quando, false, "12345678901", "PIS-x");  // texts, not numbers
  // Ten digits do not fit the record's number: kept whole, not cut to 32 bits.
  ListaMarcacao longos;
  longos.AdicionaLida(0, 4, quando, false, "9999999999", "");
  longos.AdicionaLida(0, 4, quando, false, "4294967296", "");
  EXPECT_EQ(longos.Item(1)->NSR(), "9999999999");
  EXPECT_EQ(longos.Item(2)->NSR(), "4294967296");
  // Values outside the compact shapes come back whole: a card beside an NSR, the calendar's
  // first and last seconds, the widest numbers each shape holds, a clock code for each punch.
  ListaMarcacao bordas;
  const DataHora primeira = DataHora::DePartes(100, 1, 1),
                 ultima = DataHora::DePartes(9999, 12, 31, 23, 59, 59);
  bordas.AdicionaLida(-7, -32768, ultima, true, "000000001", "");
  bordas.AdicionaLida(0, 32767, primeira, false, "999999999", "999999999999999");
  bordas.AdicionaLida(-2147483647 - 1, 5, ultima, true);
  bordas.AdicionaLida(2147483647, -32768, primeira, false);
  bordas.AdicionaLida(0, 5, ultima, true, "1", "2");
  ASSERT_EQ(bordas.Count(), 5);
  const std::vector<std::tuple<int32_t, int16_t, DataHora, bool, std::string, std::string>>
      esperadas{{-7, -32768, ultima, true, "000000001", ""},
                {0, 32767, primeira, false, "999999999", "999999999999999"},
                {-2147483647 - 1, 5, ultima, true, "", ""},
                {2147483647, -32768, primeira, false, "", ""},
                {0, 5, ultima, true, "1", "2"}};
  ListaMarcacao copiasDasBordas;
  copiasDasBordas.AnexaCopias(bordas);
  for (const ListaMarcacao* l : {&bordas, &copiasDasBordas})
    for (int32_t i = 1; i <= 5; ++i) {
      SCOPED_TRACE(i);
      const auto m = l->Item(i);
      EXPECT_EQ(std::make_tuple(m->CodigoCartao(), m->CodigoRelogio(), m->DataHoraMarcacao(),
                                m->MarcacaoPorDigital(), m->NSR(), m->PIS()),
                esperadas[static_cast<size_t>(i - 1)]);
    }

  auto doHost = std::make_shared<Marcacao>();
  doHost->CodigoCartao(99);
  lista.Add(doHost);
  lista.Add(std::shared_ptr<Marcacao>());
  ASSERT_EQ(lista.Count(), 5);

  const auto a = lista.Item(1);
  EXPECT_EQ(a->CodigoCartao(), 12);
  EXPECT_EQ(a->CodigoRelogio(), 3);
  EXPECT_EQ(a->DataHoraMarcacao(), quando);
  EXPECT_TRUE(a->MarcacaoPorDigital());
  EXPECT_EQ(a->NSR(), "");
  EXPECT_EQ(a->PIS(), "");
  EXPECT_EQ(lista.Item(2)->NSR(), "000123");  // leading zeros come back
  EXPECT_EQ(lista.Item(2)->PIS(), "01234567890");
  EXPECT_EQ(lista.Item(3)->NSR(), "12345678901");
  EXPECT_EQ(lista.Item(3)->PIS(), "PIS-x");
  EXPECT_EQ(lista.Item(4), doHost);  // the host's very object
  EXPECT_EQ(lista.Item(5), nullptr);

  // The same object every time; changes made through it are seen later.
  EXPECT_EQ(lista.Item(1), a);
  a->CodigoCartao(77);
  EXPECT_EQ(lista.Item(1)->CodigoCartao(), 77);

  // Copies carry the values held now and are other objects.
  ListaMarcacao copias;
  copias.AnexaCopias(lista);
  ASSERT_EQ(copias.Count(), 4);  // the empty position has nothing to copy
  EXPECT_EQ(copias.Item(1)->CodigoCartao(), 77);
  EXPECT_NE(copias.Item(1), a);
  EXPECT_EQ(copias.Item(2)->PIS(), "01234567890");
  EXPECT_EQ(copias.Item(3)->NSR(), "12345678901");
  EXPECT_EQ(copias.Item(4)->CodigoCartao(), 99);
  EXPECT_NE(copias.Item(4), doHost);
  EXPECT_LE(copias.BytesOcupados(), 1000u);
  // A list given its own copies doubles once, every record whole.
  copias.AnexaCopias(copias);
  ASSERT_EQ(copias.Count(), 8);
  for (int32_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(copias.Item(i + 4)->CodigoCartao(), copias.Item(i)->CodigoCartao());
    EXPECT_EQ(copias.Item(i + 4)->NSR(), copias.Item(i)->NSR());
    EXPECT_EQ(copias.Item(i + 4)->PIS(), copias.Item(i)->PIS());
    EXPECT_EQ(copias.Item(i + 4)->CodigoRelogio(), copias.Item(i)->CodigoRelogio());
  }

  // Visits, as objects and as views, give the same values and skip the empty position.
  std::vector<std::string> objetos, vistas;
  const auto texto = [&](int16_t relogio, int32_t cartao, DataHora momento, bool digital,
                         std::string_view nsr, std::string_view pis) {
    return std::to_string(relogio) + "|" + std::to_string(cartao) + "|" +
           (momento == quando ? "q" : "?") + "|" + (digital ? "d" : "") + "|" + std::string(nsr) +
           "|" + std::string(pis);
  };
  lista.ParaCada([&](const Marcacao& m) {
    objetos.push_back(texto(m.CodigoRelogio(), m.CodigoCartao(), m.DataHoraMarcacao(),
                            m.MarcacaoPorDigital(), m.NSR(), m.PIS()));
  });
  lista.ParaCadaVista([&](const VistaMarcacao& v) {
    vistas.push_back(texto(v.relogio, v.cartao, v.momento, v.porDigital, v.nsr, v.pis));
  });
  EXPECT_EQ(objetos, (std::vector<std::string>{"3|77|q|d||", "4|0|q||000123|01234567890",
                                               "4|0|q||12345678901|PIS-x", "0|99|?|||"}));
  EXPECT_EQ(vistas, objetos);
}

TEST(ListaMarcacao, ALongListKeepsOrderValuesAndIdentityAcrossItsBlocks) {
  // Past the first blocks of records: positions on both sides of each boundary.
  // Both shapes clocks give, the clock's code changing along the way: fingerprint punches at
  // even positions, register punches at odd ones.
  constexpr int32_t kTotal = 270000;
  const auto relogio = [](int32_t i) { return static_cast<int16_t>(i < 200000 ? 1 : 2); };
  ListaMarcacao lista;
  for (int32_t i = 1; i <= kTotal; ++i) {
    if (i % 2 == 0)
      lista.AdicionaLida(i, relogio(i), DataHora::DeSegundos(int64_t{i} * 60), i % 4 == 0);
    else
      lista.AdicionaLida(0, relogio(i), DataHora::DeSegundos(int64_t{i} * 60), false,
                         std::to_string(i), "012345678901234");
  }
  ASSERT_EQ(lista.Count(), kTotal);
  for (int32_t p : {1, 65535, 65536, 65537, 131071, 131072, 131073, 199999, 200000, 200001, 262143,
                    262144, 262145, kTotal}) {
    SCOPED_TRACE(p);
    const auto m = lista.Item(p);
    EXPECT_EQ(m->CodigoCartao(), p % 2 == 0 ? p : 0);
    EXPECT_EQ(m->NSR(), p % 2 == 0 ? "" : std::to_string(p));
    EXPECT_EQ(m->PIS(), p % 2 == 0 ? "" : "012345678901234");
    EXPECT_EQ(m->MarcacaoPorDigital(), p % 4 == 0);
    EXPECT_EQ(m->CodigoRelogio(), relogio(p));
    EXPECT_EQ(m->DataHoraMarcacao(), DataHora::DeSegundos(int64_t{p} * 60));
  }
  // Neither shape needs more than its compact record (and the last block's room).
  EXPECT_LE(lista.BytesOcupados(), static_cast<size_t>(kTotal) * 24);
  auto objeto = lista.Item(65537);
  objeto->CodigoCartao(-5);
  EXPECT_EQ(lista.Item(65537), objeto);
  int32_t visto = 0;
  bool emOrdem = true;
  lista.ParaCada([&](const Marcacao& m) {
    ++visto;
    const int32_t cartao = visto == 65537 ? -5 : visto % 2 == 0 ? visto : 0;
    emOrdem = emOrdem && m.CodigoCartao() == cartao && m.CodigoRelogio() == relogio(visto);
  });
  EXPECT_EQ(visto, kTotal);
  EXPECT_TRUE(emOrdem);
  ListaMarcacao copias;
  copias.AnexaCopias(lista);
  ASSERT_EQ(copias.Count(), kTotal);
  EXPECT_EQ(copias.Item(65537)->CodigoCartao(), -5);
  EXPECT_EQ(copias.Item(kTotal - 1)->NSR(), std::to_string(kTotal - 1));
  EXPECT_EQ(copias.Item(kTotal)->CodigoRelogio(), 2);
  EXPECT_EQ(copias.Item(199999)->CodigoRelogio(), 1);
  // A copy holds the same punches and grows on its own; a moved list keeps them all.
  ListaMarcacao copia = lista;
  copia.AdicionaLida(7, 1, DataHora::DeSegundos(60), false);
  EXPECT_EQ(copia.Count(), kTotal + 1);
  EXPECT_EQ(lista.Count(), kTotal);
  EXPECT_EQ(copia.Item(131073)->NSR(), "131073");
  EXPECT_EQ(copia.Item(kTotal + 1)->CodigoRelogio(), 1);
  EXPECT_EQ(copia.Item(kTotal + 1)->CodigoCartao(), 7);
  ListaMarcacao movida = std::move(copia);
  EXPECT_EQ(movida.Count(), kTotal + 1);
  EXPECT_EQ(movida.Item(kTotal - 1)->NSR(), std::to_string(kTotal - 1));
  movida.AdicionaLida(8, 1, DataHora::DeSegundos(60), false);
  EXPECT_EQ(movida.Item(kTotal + 2)->CodigoCartao(), 8);
  // The list moved from is empty and usable.
  EXPECT_EQ(copia.Count(), 0);  // NOLINT(bugprone-use-after-move): what is tested
  copia.AdicionaLida(9, 1, DataHora::DeSegundos(60), false);
  ASSERT_EQ(copia.Count(), 1);
  EXPECT_EQ(copia.Item(1)->CodigoCartao(), 9);
}

using Coleta = ControleTeste;

TEST_F(Coleta, QuorvelReadsTheWholeLog) {
  MockCZKEM& m = Conectado(3);
  teste::ForneceMarcacoes(m, {{101, 1, "05/03/2024 07:04:09"},
                              {102, 0, "2024-03-05 08:00:00"},
                              {103, 15, "5/3/2024 9:00"}});
  EXPECT_CALL(m, SdkReadAllLogs(3));
  EXPECT_CALL(m, SdkSetLogPointer).Times(0);
  const auto lista = controle->ObterMarcacaoRelogio(3, 50, 60);
  ASSERT_TRUE(lista);
  ASSERT_EQ(lista->Count(), 3);
  const auto& a = *lista->Item(1);
  EXPECT_EQ(a.CodigoCartao(), 101);
  EXPECT_EQ(a.CodigoRelogio(), 3);
  EXPECT_EQ(a.DataHoraMarcacao(), DataHora::DePartes(2024, 3, 5, 7, 4, 9));
  EXPECT_TRUE(a.MarcacaoPorDigital());
  EXPECT_EQ(a.PIS(), "");
  EXPECT_EQ(a.NSR(), "");
  EXPECT_FALSE(lista->Item(2)->MarcacaoPorDigital());
  EXPECT_FALSE(lista->Item(3)->MarcacaoPorDigital());
  EXPECT_EQ(host.Cedencias(), 0);  // the fingerprint model never yields
}

TEST_F(Coleta, QuorvelRefusedLogGivesAnEmptyList) {
  MockCZKEM& m = Conectado(3);
  EXPECT_CALL(m, SdkReadAllLogs).WillOnce(Return(false));
  EXPECT_CALL(m, SdkGetNextLog).Times(0);
  const auto lista = controle->ObterMarcacaoRelogio(3);
  ASSERT_TRUE(lista);
  EXPECT_EQ(lista->Count(), 0);
}

TEST_F(Coleta, DatesOfTheSameDayAreReadOnceAndStillChecked) {
  MockCZKEM& m = Conectado(3);
  teste::ForneceMarcacoes(m, {{1, 1, "2024-03-05 07:04:09"},
                              {2, 1, "2024-03-05 23:59:59"},
                              {3, 1, "2024-03-06 00:00:00"},
                              {4, 1, "05/03/2024 08:00:00"},
                              {5, 1, "2024-03-05 00:00:01"}});
  const auto lista = controle->ObterMarcacaoRelogio(3);
  ASSERT_EQ(lista->Count(), 5);
  EXPECT_EQ(lista->Item(1)->DataHoraMarcacao(), DataHora::DePartes(2024, 3, 5, 7, 4, 9));
  EXPECT_EQ(lista->Item(2)->DataHoraMarcacao(), DataHora::DePartes(2024, 3, 5, 23, 59, 59));
  EXPECT_EQ(lista->Item(3)->DataHoraMarcacao(), DataHora::DePartes(2024, 3, 6));
  EXPECT_EQ(lista->Item(4)->DataHoraMarcacao(), DataHora::DePartes(2024, 3, 5, 8, 0, 0));
  EXPECT_EQ(lista->Item(5)->DataHoraMarcacao(), DataHora::DePartes(2024, 3, 5, 0, 0, 1));
  for (const char* ruim : {"2024-03-05 24:00:00", "2024-02-30 10:00:00", "2024-03-05 10:60:00"}) {
    teste::ForneceMarcacoes(m, {{1, 1, "2024-03-05 07:04:09"}, {2, 1, ruim}});
    EXPECT_EQ(Captura([&] { controle->ObterMarcacaoRelogio(3); }).Numero(),
              erro_plataforma::kTiposIncompativeis)
        << ruim;
  }
  MockCZKEM& t = Conectado(4, EModeloRelogio_Tarvenix);
  teste::ForneceMarcacoes(
      t, {LogTarvenix{"1", "", 2024, 3, 5, 7, 4, 9}, LogTarvenix{"2", "", 2024, 3, 5, 24, 0, 0}});
  EXPECT_EQ(Captura([&] { controle->ObterMarcacaoRelogio(4); }).Numero(),
            erro_plataforma::kTiposIncompativeis);
}

TEST_F(Coleta, ImpossibleDatesEndTheCallWithTypeMismatch) {
  MockCZKEM& m = Conectado(3);
  teste::ForneceMarcacoes(m, {{1, 1, "31/04/2024 10:00:00"}});
  EXPECT_EQ(Captura([&] { controle->ObterMarcacaoRelogio(3); }).Numero(),
            erro_plataforma::kTiposIncompativeis);
  MockCZKEM& t = Conectado(4, EModeloRelogio_Tarvenix);
  teste::ForneceMarcacoes(t, {LogTarvenix{"1", "p", 2024, 13, 1, 0, 0, 0}});
  EXPECT_EQ(Captura([&] { controle->ObterMarcacaoRelogio(4); }).Numero(),
            erro_plataforma::kTiposIncompativeis);
}

TEST_F(Coleta, GuardComesBeforeAnyDeviceCall) {
  EXPECT_EQ(Captura([&] { controle->ObterMarcacaoRelogio(5); }).Numero(),
            erro::kRelogioNaoRegistrado);
  MockCZKEM& m = Registra(6);
  teste::ProibeChamadas(m);
  EXPECT_EQ(Captura([&] { controle->ObterMarcacaoRelogio(6); }).Numero(),
            erro::kRelogioDesconectado);
}

class ColetaTarvenix : public ControleTeste {
 protected:
  MockCZKEM& Prepara(const std::string& versao) {
    MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
    ON_CALL(m, SdkGetSysOption(2, "mrpversion", _))
        .WillByDefault(DoAll(SetArgReferee<2>(versao), Return(true)));
    return m;
  }
  // Thirty records on a 2.1.12 clock; before the tenth read the host arranges to cancel from
  // the yield that follows it.
  void PreparaCancelamentoNaDecimaLeitura() {
    MockCZKEM& m = Prepara("2.1.12");
    std::vector<LogTarvenix> logs;
    for (int i = 0; i < 30; ++i) logs.push_back({std::to_string(i), "", 2024, 3, 5, 7, 4, i});
    teste::ForneceMarcacoes(m, logs, [this] {
      if (++lidas_ == 10) host.AoCeder([this] { controle->CancelaColeta(); });
    });
  }
  int lidas_ = 0;  // the reads of the clock prepared to cancel
};

TEST_F(ColetaTarvenix, ExactCallSequenceAndRecords) {
  MockCZKEM& m = Prepara("Ver 2.1.12 ");
  {
    InSequence s;
    EXPECT_CALL(m, SdkDisconnect());
    EXPECT_CALL(m, SdkConnectNetwork("192.0.2.2", 4370));
    EXPECT_CALL(m, SdkGetSysOption(2, "mrpversion", _));
    EXPECT_CALL(m, SdkSetLogPointer(2, 60));
    EXPECT_CALL(m, SdkGetNextNsrLog).Times(3);
  }
  teste::ForneceMarcacoes(m, {LogTarvenix{"7", "12345678901", 2024, 3, 5, 7, 4, 9},
                              LogTarvenix{"8", "10987654321", 2024, 3, 5, 7, 5, 0}});
  const auto lista = controle->ObterMarcacaoRelogio(2, 50, 60);
  ASSERT_EQ(lista->Count(), 2);
  const auto& a = *lista->Item(1);
  EXPECT_EQ(a.CodigoCartao(), 0);
  EXPECT_EQ(a.NSR(), "7");
  EXPECT_EQ(a.PIS(), "12345678901");
  EXPECT_EQ(a.CodigoRelogio(), 2);
  EXPECT_EQ(a.DataHoraMarcacao(), DataHora::DePartes(2024, 3, 5, 7, 4, 9));
  EXPECT_FALSE(a.MarcacaoPorDigital());
}

TEST_F(ColetaTarvenix, FirmwareVersionChoosesThePointerAsText) {
  const std::vector<std::pair<std::string, int32_t>> casos = {
      {"Ver 2.1.12 ", 60}, {"VER2.1.11", 50}, {"2.1.9", 60}, {"", 50},
      {"ver 3.0", 60},     {"  2.1.12", 60},  {"2.1.1", 50}};
  for (const auto& [versao, ponteiro] : casos) {
    MockCZKEM& m = Prepara(versao);
    EXPECT_CALL(m, SdkSetLogPointer(2, ponteiro)).Times(1);
    controle->ObterMarcacaoRelogio(2, 50, 60);
    ::testing::Mock::VerifyAndClearExpectations(&m);
    controle->RemoverRelogio(2);
  }
}

TEST_F(ColetaTarvenix, ReadsDayFirstWhateverTheHostsSettings) {
  host.RegionalDefine({OrdemData::MesDiaAno});
  MockCZKEM& m = Prepara("2.1.12");
  teste::ForneceMarcacoes(m, {LogTarvenix{"1", "", 2024, 3, 5, 7, 4, 9}});
  EXPECT_EQ(controle->ObterMarcacaoRelogio(2)->Item(1)->DataHoraMarcacao(),
            DataHora::DePartes(2024, 3, 5, 7, 4, 9));
}

TEST_F(ColetaTarvenix, TwoDigitYearsFollowTheHostsCenturySetting) {
  for (int32_t limite : {49, 29}) {
    host.RegionalDefine({OrdemData::DiaMesAno, limite});
    MockCZKEM& m = Prepara("2.1.12");
    teste::ForneceMarcacoes(m, {LogTarvenix{"1", "", 35, 3, 5, 7, 4, 9}});
    EXPECT_EQ(controle->ObterMarcacaoRelogio(2)->Item(1)->DataHoraMarcacao(),
              DataHora::DePartes(limite == 49 ? 2035 : 1935, 3, 5, 7, 4, 9));
    controle->RemoverRelogio(2);
  }
}

TEST_F(ColetaTarvenix, YieldsEveryTenPunches) {
  MockCZKEM& m = Prepara("2.1.12");
  std::vector<LogTarvenix> logs;
  for (int i = 0; i < 25; ++i) logs.push_back({std::to_string(i), "", 2024, 3, 5, 7, 4, i});
  teste::ForneceMarcacoes(m, logs);
  EXPECT_EQ(controle->ObterMarcacaoRelogio(2)->Count(), 25);
  // Two around the reconnection, two for punches 10 and 20, one at the end.
  EXPECT_EQ(host.Cedencias(), 5);
}

// ---- A collection cut by a lost link is resumed, never handed out short -----------------

std::vector<std::string> Nsrs(const ListaMarcacao& lista) {
  std::vector<std::string> r;
  for (int32_t i = 1; i <= lista.Count(); ++i) r.push_back(lista.Item(i)->NSR());
  return r;
}

std::vector<std::string> Esperados(int n) {
  std::vector<std::string> r;
  for (int i = 1; i <= n; ++i) r.push_back(std::to_string(i));
  return r;
}

TEST_F(ColetaTarvenix, ACutReadResumesAfterTheLastNsrReceived) {
  MockCZKEM& m = Prepara("2.1.12");
  auto relogio = teste::RelogioQueCai::DeRegistros(m, 25, 12);
  {
    InSequence s;
    EXPECT_CALL(m, SdkDisconnect());
    EXPECT_CALL(m, SdkConnectNetwork("192.0.2.2", 4370));
    EXPECT_CALL(m, SdkSetLogPointer(2, 0));
    EXPECT_CALL(m, SdkDisconnect());
    EXPECT_CALL(m, SdkConnectNetwork("192.0.2.2", 4370));
    EXPECT_CALL(m, SdkSetLogPointer(2, 12));
    EXPECT_CALL(m, SdkDisconnect());
    EXPECT_CALL(m, SdkConnectNetwork("192.0.2.2", 4370));
    EXPECT_CALL(m, SdkSetLogPointer(2, 24));
  }
  host.Diario().clear();
  const auto lista = controle->ObterMarcacaoRelogio(2);
  ASSERT_TRUE(lista);
  EXPECT_EQ(Nsrs(*lista), Esperados(25));
  // The register read's own retry steps: a second before each reopened link, no 250 ms waits.
  const auto& d = host.Diario();
  EXPECT_EQ(std::count(d.begin(), d.end(), "espera 1000"), 2);
  EXPECT_EQ(std::count(d.begin(), d.end(), "espera 250"), 0);
}

TEST_F(ColetaTarvenix, ARecordDeliveredAgainAfterTheResumeIsDropped) {
  MockCZKEM& m = Prepara("2.1.12");
  auto relogio = teste::RelogioQueCai::DeRegistros(m, 30, 7);
  relogio->entregaOApontado = true;
  const auto lista = controle->ObterMarcacaoRelogio(2, 0, 0);
  EXPECT_EQ(Nsrs(*lista), Esperados(30));  // no gap, no duplicate
}

TEST_F(ColetaTarvenix, IndexFirmwareResumesByTheCountRead) {
  MockCZKEM& m = Prepara("2.1.1");
  auto relogio = teste::RelogioQueCai::DeRegistros(m, 20, 6);
  {
    InSequence s;
    EXPECT_CALL(m, SdkSetLogPointer(2, 4));
    EXPECT_CALL(m, SdkSetLogPointer(2, 10));
    EXPECT_CALL(m, SdkSetLogPointer(2, 16));
  }
  const auto lista = controle->ObterMarcacaoRelogio(2, 4, 99);
  ASSERT_EQ(lista->Count(), 16);
  EXPECT_EQ(lista->Item(1)->NSR(), "5");
  EXPECT_EQ(lista->Item(16)->NSR(), "20");
}

TEST_F(ColetaTarvenix, AClockThatNeverComesBackRaisesInsteadOfAShortList) {
  MockCZKEM& m = Prepara("2.1.12");
  auto relogio = teste::RelogioQueCai::DeRegistros(m, 10, 4);
  // The link falls after four records and the clock is gone for good.
  ON_CALL(m, SdkDisconnect).WillByDefault([relogio] { relogio->volta = false; });
  // The opening one, then three reopens: three empty attempts in a row after the one that
  // brought records.
  EXPECT_CALL(m, SdkConnectNetwork).Times(4);
  const Erro e = Captura([&] { controle->ObterMarcacaoRelogio(2); });
  EXPECT_EQ(e.Numero(), erro::kRelogioDesconectado);
  EXPECT_EQ(e.Descricao(), Descricao("O relógio 2 está desconectado. A operação desejada não "
                                     "poderá ser realizada.",
                                     "ComunicacaoZK", "ObterMarcacaoRelogio"));
}

TEST_F(ColetaTarvenix, OnlyALostLinkIsRetried) {
  for (int32_t codigo : {-1, -3, 0}) {
    MockCZKEM& m = Prepara("2.1.12");
    ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(codigo));
    EXPECT_CALL(m, SdkGetNextNsrLog).WillOnce(Return(false));
    EXPECT_CALL(m, SdkDisconnect).Times(1);  // the opening one only
    const auto lista = controle->ObterMarcacaoRelogio(2);
    ASSERT_TRUE(lista);
    EXPECT_EQ(lista->Count(), 0);
    ::testing::Mock::VerifyAndClearExpectations(&m);
    controle->RemoverRelogio(2);
  }
  // An empty read that ends in a lost link is a failure, however quickly it came.
  MockCZKEM& m = Prepara("2.1.12");
  ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-2));
  EXPECT_CALL(m, SdkGetNextNsrLog).Times(3).WillRepeatedly(Return(false));
  EXPECT_EQ(Captura([&] { controle->ObterMarcacaoRelogio(2); }).Numero(),
            erro::kRelogioDesconectado);
}

// A fingerprint clock of eleven punches (cards 100 to 110) whose link falls once, after the
// `apos`-th punch of the first walk.
std::shared_ptr<teste::RelogioQueCai> DigitaisQueCaemUmaVez(MockCZKEM& m, int apos) {
  auto relogio = std::make_shared<teste::RelogioQueCai>();
  for (int i = 0; i < 11; ++i)
    relogio->digitais.push_back({100 + i, 1, "05/03/2024 08:00:0" + std::to_string(i % 10)});
  teste::RelogioQueCai::Instala(m, relogio);
  auto chamadas = std::make_shared<int>(0);
  ON_CALL(m, SdkGetNextLog)
      .WillByDefault(
          [relogio, chamadas, apos](int32_t, int32_t& c, int32_t& v, int32_t& mo, std::string& t) {
            if (++*chamadas == apos + 1) {
              relogio->Cai();
              relogio->ultimoErro = -2;
              return false;
            }
            if (relogio->cursor >= relogio->digitais.size()) {
              relogio->ultimoErro = -3;
              return false;
            }
            const auto& l = relogio->digitais[relogio->cursor++];
            c = l.cartao, v = 0, mo = l.modo, t = l.dataHora;
            return true;
          });
  return relogio;
}

TEST_F(Coleta, QuorvelRereadsTheLogAndSkipsWhatWasReceived) {
  MockCZKEM& m = Conectado(3);
  auto relogio = DigitaisQueCaemUmaVez(m, 4);
  EXPECT_CALL(m, SdkDisconnect).Times(1);
  const auto lista = controle->ObterMarcacaoRelogio(3);
  ASSERT_EQ(lista->Count(), 11);
  for (int32_t i = 1; i <= 11; ++i) EXPECT_EQ(lista->Item(i)->CodigoCartao(), 99 + i);
  EXPECT_EQ(relogio->leiturasDoLog, 2);
}

// Runs handed over as they are read: in the clock's order, of the size asked for (the rest
// last), each punch once across the resumes a falling link makes.
TEST_F(ColetaTarvenix, RunsAreHandedOverInOrderEachPunchOnceAcrossResumes) {
  MockCZKEM& m = Prepara("2.1.12");
  auto relogio = teste::RelogioQueCai::DeRegistros(m, 25, 7);
  relogio->entregaOApontado = true;
  std::vector<int32_t> tamanhos;
  std::vector<std::string> nsrs;
  ASSERT_TRUE(controle->ObterMarcacaoRelogioEmLotes(2, 0, 0, 4, [&](const ListaMarcacao& lote) {
    tamanhos.push_back(lote.Count());
    for (const auto& n : Nsrs(lote)) nsrs.push_back(n);
  }));
  EXPECT_EQ(tamanhos, (std::vector<int32_t>{4, 4, 4, 4, 4, 4, 1}));
  EXPECT_EQ(nsrs, Esperados(25));
  // A run size below one is refused before anything is read.
  EXPECT_EQ(Captura([&] {
              controle->ObterMarcacaoRelogioEmLotes(2, 0, 0, 0, [](const ListaMarcacao&) {});
            }).Numero(),
            erro_plataforma::kArgumentoInvalido);
}

// Cancelled: the runs already handed over stay handed over, the one being filled is dropped.
TEST_F(ColetaTarvenix, ACancelledRunDropsOnlyThePartOfARunNotHandedOver) {
  PreparaCancelamentoNaDecimaLeitura();
  std::vector<std::string> nsrs;
  EXPECT_FALSE(controle->ObterMarcacaoRelogioEmLotes(2, 0, 0, 4, [&](const ListaMarcacao& lote) {
    for (const auto& n : Nsrs(lote)) nsrs.push_back(n);
  }));
  EXPECT_EQ(nsrs, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7"}));
}

// The fingerprint log in runs: the same punches as the whole list, the resume included.
TEST_F(Coleta, QuorvelRunsHoldTheWholeLogOnceAcrossAResume) {
  MockCZKEM& m = Conectado(3);
  auto relogio = DigitaisQueCaemUmaVez(m, 5);
  std::vector<int32_t> cartoes;
  ASSERT_TRUE(controle->ObterMarcacaoRelogioEmLotes(3, 0, 0, 3, [&](const ListaMarcacao& lote) {
    EXPECT_LE(lote.Count(), 3);
    lote.ParaCada([&](const Marcacao& x) { cartoes.push_back(x.CodigoCartao()); });
  }));
  std::vector<int32_t> esperados(11);
  std::iota(esperados.begin(), esperados.end(), 100);
  EXPECT_EQ(cartoes, esperados);
  EXPECT_EQ(relogio->leiturasDoLog, 2);
}

TEST_F(Coleta, QuorvelLostLinkOnTheLogReadIsRetriedOtherRefusalsAreNot) {
  MockCZKEM& m = Conectado(3);
  auto relogio = std::make_shared<teste::RelogioQueCai>();
  relogio->digitais = {{1, 1, "05/03/2024 08:00:00"}, {2, 1, "05/03/2024 08:00:00"}};
  teste::RelogioQueCai::Instala(m, relogio);
  relogio->Cai();  // the standing link is already gone
  EXPECT_EQ(controle->ObterMarcacaoRelogio(3)->Count(), 2);
  EXPECT_EQ(relogio->conexoes, 1);

  relogio->volta = false;
  relogio->Cai();
  EXPECT_EQ(Captura([&] { controle->ObterMarcacaoRelogio(3); }).Numero(),
            erro::kRelogioDesconectado);
}

// The fingerprint log is re-walked from its start after a fall: a link too short to get past
// what was already received can never finish, and that is a clear failure, not a short list.
TEST_F(Coleta, QuorvelLinksTooShortToGetPastWhatWasReceivedFailClearly) {
  MockCZKEM& m = Conectado(3);
  auto relogio = teste::RelogioQueCai::DeDigitais(m, 40, 15);  // each link carries at most 15 reads
  // 15 on the first link; afterwards every link is spent re-walking what was received.
  EXPECT_EQ(Captura([&] { controle->ObterMarcacaoRelogio(3); }).Numero(),
            erro::kRelogioDesconectado);
}

// After a cut, the log that was being read must be read again: a clock that then refuses
// the read for any other reason leaves what was received short, and that is raised.
TEST_F(Coleta, QuorvelRereadRefusedAfterACutRaisesInsteadOfAShortList) {
  MockCZKEM& m = Conectado(3);
  auto relogio = teste::RelogioQueCai::DeDigitais(m, 10, 4);
  int leituras = 0;
  ON_CALL(m, SdkReadAllLogs).WillByDefault([&, relogio](int32_t) {
    if (++leituras == 1) {
      relogio->cursor = 0;
      return true;
    }
    relogio->ultimoErro = -1;  // refused, link up
    return false;
  });
  const Erro e = Captura([&] { controle->ObterMarcacaoRelogio(3); });
  EXPECT_EQ(e.Numero(), erro::kRelogioDesconectado);
  EXPECT_EQ(e.Descricao(), Descricao("O relógio 3 está desconectado. A operação desejada não "
                                     "poderá ser realizada.",
                                     "ComunicacaoZK", "ObterMarcacaoRelogio"));
  EXPECT_EQ(leituras, 2);
}

// A cancel asked for while the reopen after a cut yields ends the run like any other cancel:
// no list and nothing raised, for both models.
TEST_F(Coleta, CancelWhileAResumeYieldsReturnsNoList) {
  MockCZKEM& f = Conectado(3);
  auto digital = teste::RelogioQueCai::DeDigitais(f, 10, 4);
  host.AoCeder([&] { controle->CancelaColeta(); });
  std::shared_ptr<ListaMarcacao> lista;
  EXPECT_NO_THROW(lista = controle->ObterMarcacaoRelogio(3));
  EXPECT_EQ(lista, nullptr);
  EXPECT_EQ(digital->leiturasDoLog, 1);  // ended after the yield, before reading again

  MockCZKEM& r = Conectado(2, EModeloRelogio_Tarvenix);
  auto registro = teste::RelogioQueCai::DeRegistros(r, 10, 4);
  ON_CALL(r, SdkGetSysOption).WillByDefault([](int32_t, const std::string&, std::string& v) {
    v = "2.1.12";
    return true;
  });
  // Once the link has fallen, the next yield is the resume's.
  bool agendado = false;
  ON_CALL(r, SdkGetLastError).WillByDefault([&, registro](int32_t& c) {
    c = registro->ultimoErro;
    if (registro->caido && !std::exchange(agendado, true))
      host.AoCeder([&] { controle->CancelaColeta(); });
  });
  EXPECT_NO_THROW(lista = controle->ObterMarcacaoRelogio(2));
  EXPECT_EQ(lista, nullptr);
  EXPECT_EQ(registro->conexoes, 1);  // the opening link only
}

TEST_F(ColetaTarvenix, CancelDuringAYieldReturnsNoList) {
  PreparaCancelamentoNaDecimaLeitura();
  EXPECT_EQ(controle->ObterMarcacaoRelogio(2), nullptr);
  EXPECT_EQ(lidas_, 11);  // the punch read when the flag was found set is dropped
  // The next run starts with the flag cleared.
  EXPECT_NE(controle->ObterMarcacaoRelogio(2), nullptr);
}

TEST_F(ColetaTarvenix, SerialClocksAreReopenedOnTheirOwnLine) {
  auto r = std::make_shared<Relogio>();
  r->Codigo(9);
  r->TipoConexao(ConexaoSerial);
  r->PortaSerial(4);
  r->ModeloRelogio(EModeloRelogio_Tarvenix);
  controle->AddRelogio(r);
  MockCZKEM& m = *sdks.back();
  ON_CALL(m, SdkConnectSerial).WillByDefault(Return(true));
  controle->ConectarRelogio(9);
  host.Avanca(100);
  EXPECT_CALL(m, SdkConnectSerial(4, 9, 115200)).Times(1);
  EXPECT_CALL(m, SdkConnectNetwork).Times(0);
  controle->ObterMarcacaoRelogio(9);
}

TEST_F(Coleta, CancelBeforeARunHasNoEffect) {
  MockCZKEM& m = Conectado(3);
  teste::ForneceMarcacoes(m, {{1, 1, "1/1/2024 10:00:00"}});
  controle->CancelaColeta();
  const auto lista = controle->ObterMarcacaoRelogio(3);
  ASSERT_TRUE(lista);
  EXPECT_EQ(lista->Count(), 1);
}

TEST_F(Coleta, AllClocksGivesCopiesGroupedByClockWithEveryField) {
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2, EModeloRelogio_Tarvenix);
  teste::ForneceMarcacoes(a, {{11, 1, "1/1/2024 10:00:00"}, {12, 0, "1/1/2024 10:01:00"}});
  ON_CALL(b, SdkGetSysOption).WillByDefault(DoAll(SetArgReferee<2>("2.1.12"), Return(true)));
  teste::ForneceMarcacoes(b, {LogTarvenix{"40", "999", 2024, 1, 1, 11, 0, 0}});
  EXPECT_CALL(b, SdkSetLogPointer(2, 0));  // NSR pointer is always 0 here
  const auto todas = controle->ObterMarcacaoTodosRelogios(5);
  ASSERT_EQ(todas->Count(), 3);
  EXPECT_EQ(todas->Item(1)->CodigoCartao(), 11);
  EXPECT_EQ(todas->Item(2)->CodigoCartao(), 12);
  EXPECT_EQ(todas->Item(3)->NSR(), "40");
  EXPECT_EQ(todas->Item(3)->PIS(), "999");
  EXPECT_EQ(todas->Item(3)->CodigoRelogio(), 2);
}

// A cancel during the first clock's run ends that clock's part only: the list holds the next
// clock's punches, which were read with the cancel cleared.
TEST_F(Coleta, AllClocksWithTheFirstClocksRunCancelledHoldsTheOthers) {
  MockCZKEM& a = Conectado(1, EModeloRelogio_Tarvenix);
  MockCZKEM& b = Conectado(2);
  ON_CALL(a, SdkGetSysOption).WillByDefault(DoAll(SetArgReferee<2>("2.1.12"), Return(true)));
  std::vector<LogTarvenix> muitas;
  for (int i = 0; i < 30; ++i) muitas.push_back({std::to_string(i), "", 2024, 3, 5, 7, 4, i});
  int lidas = 0;
  teste::ForneceMarcacoes(a, muitas, [&] {
    if (++lidas == 10) host.AoCeder([&] { controle->CancelaColeta(); });
  });
  teste::ForneceMarcacoes(b, {{21, 1, "1/1/2024 11:00:00"}, {22, 1, "1/1/2024 11:01:00"}});
  std::shared_ptr<ListaMarcacao> todas;
  ASSERT_NO_THROW(todas = controle->ObterMarcacaoTodosRelogios());
  ASSERT_TRUE(todas);
  ASSERT_EQ(todas->Count(), 2);
  EXPECT_EQ(todas->Item(1)->CodigoCartao(), 21);
  EXPECT_EQ(todas->Item(2)->CodigoRelogio(), 2);
}

TEST_F(Coleta, AllClocksFailsAtADisconnectedClock) {
  MockCZKEM& a = Conectado(1);
  teste::ForneceMarcacoes(a, {{11, 1, "1/1/2024 10:00:00"}});
  Registra(2);
  EXPECT_EQ(Captura([&] { controle->ObterMarcacaoTodosRelogios(); }).Numero(),
            erro::kRelogioDesconectado);
  controle->RemoverTodosRelogios();
  EXPECT_EQ(controle->ObterMarcacaoTodosRelogios()->Count(), 0);
}

TEST_F(Coleta, PointerNeedsTheRegisterModel) {
  MockCZKEM& q = Conectado(1);
  teste::ProibeChamadas(q);
  Erro e = Captura([&] { controle->ReposicionaPonteiroRelogio(1, 10); });
  EXPECT_EQ(e.Numero(), erro::kModeloNaoSuportado);
  EXPECT_EQ(e.Descricao(), Descricao("Método não suportado pelo modelo de relógio informado.",
                                     "ComunicacaoZK", "ReposicionaPonteiroRelogio"));
  MockCZKEM& t = Conectado(2, EModeloRelogio_Tarvenix);
  EXPECT_CALL(t, SdkSetLogPointer(2, 10)).WillOnce(Return(false));
  controle->ReposicionaPonteiroRelogio(2, 10);
}

TEST_F(Coleta, ErasingWrapsEveryFailure) {
  Conectado(2, EModeloRelogio_Tarvenix);
  Erro e = Captura([&] { controle->ApagarMarcacoesRelogio(2); });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_EQ(e.Descricao(),
            Descricao("Ocorreu um erro desconhecido! - " +
                          Descricao("Método não suportado pelo modelo de relógio informado.",
                                    "ComunicacaoZK", "ApagarMarcacoesRelogio"),
                      "ComunicacaoZK", "ApagarMarcacoesRelogio"));
  e = Captura([&] { controle->ApagarMarcacoesRelogio(40000); });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_NE(e.Descricao().find("Estouro"), std::string::npos);

  // All clocks: the Tarvenix clock fails, wrapped twice.
  e = Captura([&] { controle->ApagarMarcacoesTodosRelogios(); });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_EQ(
      e.Descricao().rfind("Ocorreu um erro desconhecido! - Ocorreu um erro desconhecido! - ", 0),
      0u);
  EXPECT_TRUE(e.Descricao().ends_with("Método: ApagarMarcacoesTodosRelogios"));
}

TEST_F(Coleta, ErasingAllAnswersForTheLastClock) {
  EXPECT_FALSE(controle->ApagarMarcacoesTodosRelogios());
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2);
  EXPECT_CALL(a, SdkClearLogs(1)).WillOnce(Return(true)).WillOnce(Return(false));
  EXPECT_CALL(b, SdkClearLogs(2)).WillOnce(Return(false)).WillOnce(Return(true));
  EXPECT_FALSE(controle->ApagarMarcacoesTodosRelogios());
  EXPECT_TRUE(controle->ApagarMarcacoesTodosRelogios());
}

}  // namespace
}  // namespace quorvel
