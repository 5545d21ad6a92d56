// Clock date and time, wiping a clock and the test entry.
#include "support/controle_fixture.h"

namespace quorvel {
namespace {

using namespace teste;

using DataHoraRelogio = ControleTeste;

TEST_F(DataHoraRelogio, ReadsTheSixNumbersDayFirst) {
  host.RegionalDefine({OrdemData::MesDiaAno});  // the clock's numbers are read day first anyway
  MockCZKEM& m = Conectado(1);
  HoraDoRelogio(m, 2024, 3, 5, 7, 4, 9);
  EXPECT_EQ(controle->ObterDataHoraRelogio(1), DataHora::DePartes(2024, 3, 5, 7, 4, 9));
  HoraDoRelogio(m, 24, 3, 5, 7, 4, 9);  // as the text 5/3/24 would be read
  EXPECT_EQ(controle->ObterDataHoraRelogio(1).Partes().ano, 2024);
}

TEST_F(DataHoraRelogio, AnUnreadableClockGivesMinus44) {
  MockCZKEM& m = Conectado(1);
  EXPECT_CALL(m, SdkGetDeviceTime).WillOnce(Return(false));  // six zeros stay
  Erro e = Captura([&] { controle->ObterDataHoraRelogio(1); });
  EXPECT_EQ(e.Numero(), erro::kDataHoraInvalida);
  EXPECT_EQ(e.Descricao(), Descricao("A Data e Hora informada pelo relógio é inválida.",
                                     "ComunicacaoZK", "ObterDataHoraRelogio"));
  ::testing::Mock::VerifyAndClearExpectations(&m);
  HoraDoRelogio(m, 2024, 2, 30, 0, 0, 0);
  EXPECT_EQ(Captura([&] { controle->ObterDataHoraRelogio(1); }).Numero(), erro::kDataHoraInvalida);
}

TEST_F(DataHoraRelogio, SettingRetriesLostLinks) {
  MockCZKEM& m = Conectado(1);
  const DataHora quando = DataHora::DePartes(2026, 12, 6, 18, 30, 15);
  ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-2));
  EXPECT_CALL(m, SdkSetDeviceTime(1, 2026, 12, 6, 18, 30, 15))
      .WillOnce(Return(false))
      .WillOnce(Return(false))
      .WillOnce(Return(true));
  EXPECT_CALL(m, SdkConnectNetwork("192.0.2.1", 4370)).Times(2);
  EXPECT_TRUE(controle->EnviaDataHoraRelogio(1, quando));
  ::testing::Mock::VerifyAndClearExpectations(&m);
  ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-2));

  EXPECT_CALL(m, SdkSetDeviceTime).Times(3).WillRepeatedly(Return(false));
  EXPECT_FALSE(controle->EnviaDataHoraRelogio(1, quando));
  ::testing::Mock::VerifyAndClearExpectations(&m);

  ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-4));
  EXPECT_CALL(m, SdkSetDeviceTime).WillOnce(Return(false));
  EXPECT_FALSE(controle->EnviaDataHoraRelogio(1, quando));
  EXPECT_FALSE(controle->Relogios().Item(1)->Relogio()->Monitorado());
  EXPECT_TRUE(controle->Relogios().Item(1)->Conectado());
}

TEST_F(DataHoraRelogio, AllClocksStopsAtTheFirstFalse) {
  EXPECT_TRUE(controle->EnviaDataHoraTodosRelogios(DataHora()));
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2);
  MockCZKEM& c = Conectado(3);
  EXPECT_CALL(a, SdkSetDeviceTime).WillOnce(Return(true));
  EXPECT_CALL(b, SdkSetDeviceTime).WillOnce(Return(false));
  EXPECT_CALL(c, SdkSetDeviceTime).Times(0);
  EXPECT_FALSE(controle->EnviaDataHoraTodosRelogios(DataHora::DePartes(2026, 1, 1)));
}

using Manutencao = ControleTeste;

TEST_F(Manutencao, WipingIsForTheFingerprintModel) {
  Registra(3);
  EXPECT_EQ(Captura([&] { controle->ApagarTodosRegistrosRelogio(3); }).Numero(),
            erro::kRelogioDesconectado);
  MockCZKEM& t = Conectado(2, EModeloRelogio_Tarvenix);
  teste::ProibeChamadas(t);
  Erro e = Captura([&] { controle->ApagarTodosRegistrosRelogio(2); });
  EXPECT_EQ(e.Numero(), erro::kModeloNaoSuportado);
  EXPECT_TRUE(e.Descricao().ends_with("Método: ApagarTodosRegistrosRelogio"));
  MockCZKEM& q = Conectado(1);
  EXPECT_CALL(q, SdkClearAllData(1)).WillOnce(Return(false));
  EXPECT_FALSE(controle->ApagarTodosRegistrosRelogio(1));
}

TEST_F(Manutencao, TestEntryShowsTheOutcome) {
  EXPECT_EQ(Captura([&] { controle->Teste(); }).Numero(), erro::kRelogioNaoRegistrado);
  EXPECT_TRUE(host.Mensagens().empty());
  MockCZKEM& m = Registra(1);  // no guard: not connected is fine
  {
    InSequence s;
    EXPECT_CALL(m, SdkTestOperation(1)).WillOnce(Return(true));
    EXPECT_CALL(m, SdkGetLastError);
    EXPECT_CALL(m, SdkTestOperation(1)).WillOnce(Return(false));
    EXPECT_CALL(m, SdkGetLastError);
  }
  controle->Teste();
  controle->Teste();
  EXPECT_EQ(host.Mensagens(), (std::vector<std::string>{"Sucess", "Error"}));
}

}  // namespace
}  // namespace quorvel
