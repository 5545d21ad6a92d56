// Employer data, sirens, daylight saving and verification mode.
#include "support/controle_fixture.h"

namespace quorvel {
namespace {

using namespace teste;

class Configuracao : public ControleTeste {
 protected:
  // Every write answers true unless a test says otherwise.
  // Later, more specific expectations take precedence over these catch-alls.
  // One option written, then the device's refresh that makes it take effect (in a sequence
  // when the caller opened one).
  static void EsperaOpcaoGravada(MockCZKEM& m, const std::string& opcao, const std::string& valor) {
    EXPECT_CALL(m, SdkSetSysOption(1, opcao, valor));
    EXPECT_CALL(m, SdkSetDeviceInfo(1, 1, 1));
  }
  static void AceitaTudo(MockCZKEM& m) {
    ON_CALL(m, SdkSetSysOption).WillByDefault(Return(true));
    ON_CALL(m, SdkSetDeviceInfo).WillByDefault(Return(true));
    ON_CALL(m, SdkSetDaylight).WillByDefault(Return(true));
    ON_CALL(m, SdkRefreshOptions).WillByDefault(Return(true));
    EXPECT_CALL(m, SdkSetSysOption).Times(::testing::AnyNumber()).WillRepeatedly(Return(true));
    EXPECT_CALL(m, SdkSetDeviceInfo).Times(::testing::AnyNumber()).WillRepeatedly(Return(true));
    EXPECT_CALL(m, SdkSetDaylight).Times(::testing::AnyNumber()).WillRepeatedly(Return(true));
    EXPECT_CALL(m, SdkRefreshOptions).Times(::testing::AnyNumber()).WillRepeatedly(Return(true));
  }
  static std::shared_ptr<ListaHorario> Horarios(std::vector<std::pair<int16_t, int16_t>> hs) {
    auto lista = std::make_shared<ListaHorario>();
    for (auto [h, mi] : hs) {
      auto x = std::make_shared<Horario>();
      x->Hora(h);
      x->Minuto(mi);
      lista->Add(x);
    }
    return lista;
  }
};

TEST_F(Configuracao, EmployerOnlyOnRegisterClocks) {
  MockCZKEM& q = Conectado(1);
  teste::ProibeChamadas(q);
  Erro e = Captura([&] { controle->EnviaEmpregadorRelogio(1, "E", CNPJ, "d", "c", "a"); });
  EXPECT_EQ(e.Numero(), erro::kModeloNaoSuportado);
  EXPECT_TRUE(e.Descricao().ends_with("Método: EnviaEmpregadorRelogio"));

  MockCZKEM& t = Conectado(2, EModeloRelogio_Tarvenix);
  EXPECT_CALL(t, SdkSetEmployer(2, "", 1, "", "", "")).WillOnce(Return(true));
  EXPECT_CALL(t, SdkGetLastError).Times(0);
  EXPECT_TRUE(controle->EnviaEmpregadorRelogio(2, "", CPF, "", "", ""));
  ::testing::Mock::VerifyAndClearExpectations(&t);
  EXPECT_CALL(t, SdkSetEmployer(2, " Acme ", 7, "12.345", "cei", "Rua"))
      .Times(3)
      .WillRepeatedly(Return(false));
  ON_CALL(t, SdkGetLastError).WillByDefault(SetArgReferee<0>(-2));
  EXPECT_CALL(t, SdkDisconnect).Times(2);
  EXPECT_FALSE(controle->EnviaEmpregadorRelogio(2, " Acme ", static_cast<ETipoDocumento>(7),
                                                "12.345", "cei", "Rua"));
}

TEST_F(Configuracao, SirenCodeIsCheckedBeforeAnything) {
  for (int16_t codigo : {0, 51}) {
    Erro e = Captura([&] { controle->SetSireneDiariaRelogio(99, codigo, 8, 0); });
    EXPECT_EQ(e.Numero(), erro::kCodigoSireneInvalido);
    EXPECT_EQ(e.Descricao(), Descricao("Informe um código de sirene compreendido entre 1 e 50!",
                                       "ComunicacaoZK", "SetSireneDiariaRelogio"));
    EXPECT_TRUE(Captura([&] { controle->SetSireneDiariaTodosRelogios(codigo, 8, 0); })
                    .Descricao()
                    .ends_with("Método: SetSireneDiariaTodosRelogios"));
    EXPECT_TRUE(Captura([&] { controle->DelConfigSireneDiariaRelogio(99, codigo); })
                    .Descricao()
                    .ends_with("Método: DelConfigSireneDiariaRelogio"));
    EXPECT_TRUE(Captura([&] { controle->DelConfigSireneDiariaTodosRelogios(codigo); })
                    .Descricao()
                    .ends_with("Método: DelConfigSireneDiariaTodosRelogios"));
  }
  EXPECT_TRUE(controle->SetSireneDiariaTodosRelogios(1, 8, 0));  // no clock registered
  EXPECT_TRUE(controle->DelConfigSireneDiariaTodosRelogios(50));
  EXPECT_TRUE(controle->SetTempoDuracaoToqueSireneTodosRelogios(5));
}

TEST_F(Configuracao, DailySirenWrites) {
  MockCZKEM& m = Conectado(1);
  AceitaTudo(m);
  {
    InSequence s;
    EsperaOpcaoGravada(m, "SchBellByWeekday", "0");
    EsperaOpcaoGravada(m, "AutoAlarm3", "2078");
  }
  EXPECT_TRUE(controle->SetSireneDiariaRelogio(1, 3, 8, 30));
  ::testing::Mock::VerifyAndClearExpectations(&m);
  AceitaTudo(m);
  const std::vector<std::tuple<int16_t, int16_t, std::string>> valores = {
      {12, 5, "3077"}, {23, 59, "5947"}, {25, 61, "6461"}, {300, 0, "11264"}, {0, 0, "0"}};
  for (const auto& [h, mi, texto] : valores) {
    EXPECT_CALL(m, SdkSetSysOption(1, "AutoAlarm50", texto));
    controle->SetSireneDiariaRelogio(1, 50, h, mi);
  }
  EXPECT_CALL(m, SdkSetSysOption(1, "AutoAlarm50", ""));
  EXPECT_TRUE(controle->DelConfigSireneDiariaRelogio(1, 50));
}

TEST_F(Configuracao, SuccessOnlyWhenTheClockAcceptedEveryWrite) {
  MockCZKEM& m = Conectado(1);
  AceitaTudo(m);
  EXPECT_CALL(m, SdkSetSysOption(1, "SchBellByWeekday", "0"))
      .WillOnce(Return(false))
      .RetiresOnSaturation();
  EXPECT_CALL(m, SdkSetSysOption(1, "AutoAlarm3", _))
      .WillOnce(Return(true))
      .RetiresOnSaturation();  // still made
  EXPECT_FALSE(controle->SetSireneDiariaRelogio(1, 3, 8, 30));

  EXPECT_CALL(m, SdkSetSysOption(1, "SchBellByWeekday", "1"))
      .WillOnce(Return(false))
      .RetiresOnSaturation();
  EXPECT_CALL(m, SdkSetSysOption(1, "AADelay", "-5")).WillOnce(Return(true)).RetiresOnSaturation();
  EXPECT_FALSE(controle->SetTempoDuracaoToqueSireneRelogio(1, -5));

  EXPECT_CALL(m, SdkSetSysOption(1, "WDAutoAlarm13", _))
      .WillOnce(Return(false))
      .RetiresOnSaturation();
  EXPECT_CALL(m, SdkSetSysOption(1, "WDAutoAlarm14", _))
      .WillOnce(Return(true))
      .RetiresOnSaturation();
  EXPECT_FALSE(controle->SetSireneDiaSemanaRelogio(1, Horarios({{8, 0}, {9, 0}}), Segunda));
}

TEST_F(Configuracao, TarvenixRefusesSirensNamingTheMethod) {
  MockCZKEM& t = Conectado(2, EModeloRelogio_Tarvenix);
  teste::ProibeChamadas(t);
  EXPECT_TRUE(Captura([&] { controle->SetSireneDiariaRelogio(2, 1, 8, 0); })
                  .Descricao()
                  .ends_with("Método: SetSireneDiariaRelogio"));
  EXPECT_TRUE(Captura([&] { controle->SetTempoDuracaoToqueSireneRelogio(2, 5); })
                  .Descricao()
                  .ends_with("Método: SetTempoDuracaoToqueSireneRelogio"));
  EXPECT_TRUE(Captura([&] {
                controle->SetSireneDiaSemanaRelogio(2, Horarios({{1, 1}}), Domingo);
              })
                  .Descricao()
                  .ends_with("Método: SetSireneDiaSemanaRelogio"));
  Erro e = Captura([&] { controle->DelConfigSireneDiaSemanaRelogio(2, Domingo); });
  EXPECT_EQ(e.Numero(), erro::kModeloNaoSuportado);
  EXPECT_TRUE(e.Descricao().ends_with("Método: DelConfigSireneDiaSemanaRelogio"));
}

TEST_F(Configuracao, AllClocksLoopsGoOnAfterFalseButStopAtAnError) {
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2);
  MockCZKEM& c = Conectado(3);
  for (MockCZKEM* m : {&a, &b, &c}) AceitaTudo(*m);
  EXPECT_CALL(b, SdkSetSysOption(2, "AutoAlarm1", _)).WillOnce(Return(false)).RetiresOnSaturation();
  EXPECT_CALL(c, SdkSetSysOption(3, "AutoAlarm1", _)).WillOnce(Return(true)).RetiresOnSaturation();
  EXPECT_FALSE(controle->SetSireneDiariaTodosRelogios(1, 7, 0));

  EXPECT_CALL(b, SdkSetDeviceInfo(2, 35, 1)).WillOnce(Return(false)).RetiresOnSaturation();
  EXPECT_CALL(c, SdkSetDeviceInfo(3, 35, 1)).WillOnce(Return(true)).RetiresOnSaturation();
  EXPECT_FALSE(controle->Set1Para1TodosRelogios());

  EXPECT_CALL(b, SdkSetDaylight).WillOnce(Throw(Erro(-99999, "x")));
  EXPECT_CALL(c, SdkSetDaylight).Times(0);
  EXPECT_EQ(
      Captura([&] { controle->SetHorarioVeraoTodosRelogios(DataHora(), DataHora()); }).Numero(),
      -99999);
}

TEST_F(Configuracao, WeekdaySlotsAndSizeRule) {
  EXPECT_FALSE(controle->SetSireneDiaSemanaRelogio(99, Horarios({}), Segunda));
  std::vector<std::pair<int16_t, int16_t>> treze(13, {1, 1});
  EXPECT_FALSE(controle->SetSireneDiaSemanaRelogio(99, Horarios(treze), Segunda));
  EXPECT_FALSE(controle->SetSireneDiaSemanaTodosRelogios(Horarios({}), Segunda));

  MockCZKEM& m = Conectado(1);
  AceitaTudo(m);
  {
    InSequence s;
    EsperaOpcaoGravada(m, "SchBellByWeekday", "1");
    EsperaOpcaoGravada(m, "WDAutoAlarm13", "3077");
    EsperaOpcaoGravada(m, "WDAutoAlarm14", "0");
    EsperaOpcaoGravada(m, "WDAutoAlarm15", "2078");
  }
  EXPECT_TRUE(
      controle->SetSireneDiaSemanaRelogio(1, Horarios({{12, 5}, {0, 0}, {8, 30}}), Segunda));
  ::testing::Mock::VerifyAndClearExpectations(&m);
  AceitaTudo(m);
  EXPECT_CALL(m, SdkSetSysOption(1, "WDAutoAlarm85", _));
  controle->SetSireneDiaSemanaRelogio(1, Horarios({{1, 0}}), static_cast<EDiaDaSemana>(7));
  EXPECT_EQ(
      Captura([&] {
        controle->SetSireneDiaSemanaRelogio(1, Horarios({{1, 0}}), static_cast<EDiaDaSemana>(3000));
      }).Numero(),
      6);
}

TEST_F(Configuracao, ClearingAWeekdayWritesTwelveSlotsThenItemOne) {
  MockCZKEM& m = Conectado(1);
  AceitaTudo(m);
  {
    InSequence s;
    for (int slot = 73; slot <= 84; ++slot)
      EXPECT_CALL(m, SdkSetSysOption(1, "WDAutoAlarm" + std::to_string(slot), ""));
    EXPECT_CALL(m, SdkSetDeviceInfo(1, 1, 1)).Times(1);
  }
  EXPECT_TRUE(controle->DelConfigSireneDiaSemanaRelogio(1, Sabado));
}

TEST(ListaHorario, PositionsAndFailures) {
  ListaHorario lista;
  for (int16_t h : {1, 2, 3}) {
    auto x = std::make_shared<Horario>();
    x->Hora(h);
    lista.Add(x);
  }
  lista.Remove(1);
  EXPECT_EQ(lista.Item(1)->Hora(), 2);
  for (auto f : {std::function<void()>([&] { lista.Item(0); }),
                 std::function<void()>([&] { lista.Remove(4); })}) {
    Erro e = Captura(f);
    EXPECT_EQ(e.Numero(), erro::kDesconhecido);
    EXPECT_NE(e.Descricao().find("Classe: ListaHorario"), std::string::npos);
  }
  EXPECT_EQ(lista.Count(), 2);
  Horario novo;
  EXPECT_EQ(novo.Hora(), 0);
  EXPECT_EQ(novo.Minuto(), 0);
}

TEST_F(Configuracao, DaylightSavingSequences) {
  const DataHora inicio = DataHora::DePartes(2027, 3, 5, 14, 7, 59);
  const DataHora fim = DataHora::DePartes(2027, 2, 21);
  MockCZKEM& t = Conectado(2, EModeloRelogio_Tarvenix);
  AceitaTudo(t);
  {
    InSequence s;
    EXPECT_CALL(t, SdkSetSysOption(2, "~DSTF", "1"));
    EXPECT_CALL(t, SdkSetSysOption(2, "DaylightSavingTimeOn", "1"));
    EXPECT_CALL(t, SdkSetDaylight(2, 1, "03051407", "02210000"));
    EXPECT_CALL(t, SdkRefreshOptions(2));
  }
  EXPECT_CALL(t, SdkSetDeviceInfo).Times(0);
  EXPECT_TRUE(controle->SetHorarioVeraoRelogio(2, inicio, fim));

  MockCZKEM& q = Conectado(1);
  AceitaTudo(q);
  {
    InSequence s;
    EXPECT_CALL(q, SdkSetDaylight(1, 1, "03051407", "02210000"));
    EXPECT_CALL(q, SdkSetDeviceInfo(1, 1, 1));
    EXPECT_CALL(q, SdkRefreshOptions(1)).WillOnce(Return(false));
  }
  EXPECT_CALL(q, SdkSetSysOption).Times(0);
  EXPECT_FALSE(controle->SetHorarioVeraoRelogio(1, inicio, fim));
}

TEST_F(Configuracao, ClearingDaylightSaving) {
  MockCZKEM& q = Conectado(1);
  AceitaTudo(q);
  {
    InSequence s;
    EXPECT_CALL(q, SdkSetDaylight(1, 0, "00000000", "00000000"));
    EXPECT_CALL(q, SdkSetDeviceInfo(1, 1, 1));
  }
  EXPECT_CALL(q, SdkRefreshOptions).Times(0);
  EXPECT_TRUE(controle->DelConfigHorarioVeraoRelogio(1));

  MockCZKEM& t = Conectado(2, EModeloRelogio_Tarvenix);
  AceitaTudo(t);
  {
    InSequence s;
    EXPECT_CALL(t, SdkSetSysOption(2, "DaylightSavingTimeOn", "0"));
    EXPECT_CALL(t, SdkRefreshOptions(2)).WillOnce(Return(false));
  }
  EXPECT_CALL(t, SdkSetDaylight).Times(0);
  EXPECT_FALSE(controle->DelConfigHorarioVeraoRelogio(2));
  EXPECT_EQ(Captura([&] { controle->DelConfigHorarioVeraoRelogio(9); }).Numero(),
            erro::kRelogioNaoRegistrado);
  for (MockCZKEM* m : {&q, &t}) {
    ::testing::Mock::VerifyAndClearExpectations(m);
    AceitaTudo(*m);
  }
  EXPECT_TRUE(controle->DelConfigHorarioVeraoTodosRelogios());
}

TEST_F(Configuracao, VerificationModeIsOneWrite) {
  MockCZKEM& t = Conectado(2, EModeloRelogio_Tarvenix);
  EXPECT_CALL(t, SdkSetDeviceInfo(2, 35, 1)).WillOnce(Return(true));
  EXPECT_TRUE(controle->Set1Para1Relogio(2));
  ::testing::Mock::VerifyAndClearExpectations(&t);
  EXPECT_CALL(t, SdkSetDeviceInfo(2, 35, 0)).WillOnce(Return(false));
  EXPECT_FALSE(controle->Set1ParaNRelogio(2));
  ::testing::Mock::VerifyAndClearExpectations(&t);
  EXPECT_EQ(Captura([&] { controle->Set1ParaNRelogio(8); }).Numero(), erro::kRelogioNaoRegistrado);
  EXPECT_FALSE(controle->Set1ParaNTodosRelogios());  // the clock refuses by default
}

}  // namespace
}  // namespace quorvel
