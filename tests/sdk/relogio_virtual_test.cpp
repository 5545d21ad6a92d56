// The virtual clock's own behaviour, through the device SDK interface.
#include "quorvel/sdk/relogio_virtual.h"

#include <gtest/gtest.h>

#include "quorvel/erro.h"
#include "quorvel/virtual_host.h"

namespace quorvel::sdk {
namespace {

class RelogioVirtualTeste : public ::testing::Test {
 protected:
  RelogioVirtualTeste() {
    quorvel_ = std::make_shared<DispositivoVirtual>(EModeloRelogio_Quorvel);
    tarvenix_ = std::make_shared<DispositivoVirtual>(EModeloRelogio_Tarvenix);
    for (auto& d : {quorvel_, tarvenix_}) d->DefineFonteDeTempo([this] { return host_.Agora(); });
    RedeVirtual::Instancia().Publica("10.0.0.1", 4370, quorvel_);
    RedeVirtual::Instancia().Publica("10.0.0.2", 4370, tarvenix_);
    RedeVirtual::Instancia().PublicaSerial(3, quorvel_);
  }
  ~RelogioVirtualTeste() override { RedeVirtual::Instancia().Limpa(); }

  int32_t Erro(CZKEM& s) {
    int32_t c = 99;
    s.SdkGetLastError(c);
    return c;
  }

  VirtualHost host_;
  std::shared_ptr<DispositivoVirtual> quorvel_, tarvenix_;
};

TEST_F(RelogioVirtualTeste, ThePisCheckDigitFollowsTheModulo11Rule) {
  auto s = CriaSdkVirtualConectado(tarvenix_);
  // Remainders 0 and 1 both give check digit 0; any other r gives 11 - r.
  for (const char* valido : {"00000000060", "00000000000", "12034567899", "13098765436", ""})
    EXPECT_TRUE(s->SdkSetUserInfoWithPis(1, "1", "A", "", 0, true, valido, "")) << valido;
  for (const char* invalido : {"00000000061", "12034567890", "1203456789", "1203456789a"}) {
    EXPECT_FALSE(s->SdkSetUserInfoWithPis(1, "2", "B", "", 0, true, invalido, "")) << invalido;
    EXPECT_EQ(Erro(*s), codigo::kArgumentoInvalido);
  }
}

TEST_F(RelogioVirtualTeste, AddressingAndLinks) {
  auto s = CriaSdkVirtual();
  EXPECT_FALSE(s->SdkRefreshData(1));
  EXPECT_EQ(Erro(*s), codigo::kLinkPerdido);
  EXPECT_FALSE(s->SdkConnectNetwork("10.0.0.9", 4370));
  EXPECT_FALSE(s->SdkConnectNetwork("10.0.0.1", 4371));
  EXPECT_TRUE(s->SdkConnectNetwork("10.0.0.1", 4370));
  EXPECT_TRUE(s->SdkRefreshData(1));
  EXPECT_EQ(Erro(*s), codigo::kSucesso);
  s->SdkDisconnect();
  EXPECT_FALSE(s->SdkRefreshData(1));
  EXPECT_FALSE(s->SdkConnectSerial(3, 1, 9600));
  EXPECT_TRUE(s->SdkConnectSerial(3, 1, 115200));
  EXPECT_FALSE(s->SdkConnectSerial(4, 1, 115200));
}

TEST_F(RelogioVirtualTeste, FaultsOnDemand) {
  auto s = CriaSdkVirtual();
  ASSERT_TRUE(s->SdkConnectNetwork("10.0.0.1", 4370));
  quorvel_->PerdeLink(2);
  EXPECT_FALSE(s->SdkRefreshData(1));
  EXPECT_FALSE(s->SdkRefreshData(1));
  EXPECT_EQ(Erro(*s), codigo::kLinkPerdido);
  EXPECT_TRUE(s->SdkRefreshData(1));

  quorvel_->PerdeLink();  // until reconnected
  EXPECT_FALSE(s->SdkRefreshData(1));
  EXPECT_FALSE(s->SdkRefreshData(1));
  s->SdkDisconnect();
  ASSERT_TRUE(s->SdkConnectNetwork("10.0.0.1", 4370));
  EXPECT_TRUE(s->SdkRefreshData(1));

  quorvel_->Recusa("SdkSetSysOption", -77, 1);
  EXPECT_FALSE(s->SdkSetSysOption(1, "AADelay", "5"));
  EXPECT_EQ(Erro(*s), -77);
  EXPECT_TRUE(s->SdkSetSysOption(1, "AADelay", "5"));

  quorvel_->FalhaComoChamada("SdkClearLogs", 1);
  try {
    s->SdkClearLogs(1);
    ADD_FAILURE();
  } catch (const quorvel::Erro& e) {
    EXPECT_EQ(e.Numero(), codigo::kFalhaDeChamada);
  }
  EXPECT_TRUE(s->SdkClearLogs(1));
}

TEST_F(RelogioVirtualTeste, FingerprintLogWalksTheWholeLogWithIsoTexts) {
  quorvel_->AdicionaMarcacao(5, 1, DataHora::DePartes(2024, 3, 5, 7, 4, 9));
  quorvel_->AdicionaMarcacaoComDataImpossivel();
  auto s = CriaSdkVirtual();
  ASSERT_TRUE(s->SdkConnectNetwork("10.0.0.1", 4370));
  ASSERT_TRUE(s->SdkReadAllLogs(1));
  int32_t cartao = 0, valor = 0, modo = 0;
  std::string texto;
  ASSERT_TRUE(s->SdkGetNextLog(1, cartao, valor, modo, texto));
  EXPECT_EQ(cartao, 5);
  EXPECT_EQ(modo, 1);
  EXPECT_EQ(texto, "2024-03-05 07:04:09");
  ASSERT_TRUE(s->SdkGetNextLog(1, cartao, valor, modo, texto));
  DataHora lida;
  EXPECT_FALSE(DataHora::TentaDeTexto(texto, {}, lida));
  EXPECT_FALSE(s->SdkGetNextLog(1, cartao, valor, modo, texto));
  std::string nsr, pis;
  int32_t a, b, c, d, e, f;
  EXPECT_FALSE(s->SdkGetNextNsrLog(1, nsr, pis, a, b, c, d, e, f));
  EXPECT_EQ(Erro(*s), codigo::kNaoSuportado);
}

TEST_F(RelogioVirtualTeste, RegisterPointerNamesTheLastRecordCollected) {
  for (int i = 0; i < 5; ++i) tarvenix_->AdicionaRegistro("12034567899");
  auto s = CriaSdkVirtual();
  ASSERT_TRUE(s->SdkConnectNetwork("10.0.0.2", 4370));
  std::string nsr, pis;
  int32_t a, b, c, d, e, f;
  // A new link reads only records that arrive after it.
  EXPECT_FALSE(s->SdkGetNextNsrLog(2, nsr, pis, a, b, c, d, e, f));
  tarvenix_->AdicionaRegistro("12034567899");
  ASSERT_TRUE(s->SdkGetNextNsrLog(2, nsr, pis, a, b, c, d, e, f));
  EXPECT_EQ(nsr, "6");
  ASSERT_TRUE(s->SdkSetLogPointer(2, 3));
  ASSERT_TRUE(s->SdkGetNextNsrLog(2, nsr, pis, a, b, c, d, e, f));
  EXPECT_EQ(nsr, "4");
  EXPECT_EQ(pis, "12034567899");
  tarvenix_->DefineFirmware("2.1.11");  // record count instead of NSR: the same record here
  ASSERT_TRUE(s->SdkSetLogPointer(2, 0));
  ASSERT_TRUE(s->SdkGetNextNsrLog(2, nsr, pis, a, b, c, d, e, f));
  EXPECT_EQ(nsr, "1");
}

TEST_F(RelogioVirtualTeste, UsersTemplatesAndConversion) {
  auto s = CriaSdkVirtual();
  ASSERT_TRUE(s->SdkConnectNetwork("10.0.0.1", 4370));
  std::string convertido = "antigo";
  int32_t n = 0;
  EXPECT_FALSE(s->SdkConvertTemplate("não é base64", convertido, n));
  EXPECT_EQ(convertido, "antigo");
  ASSERT_TRUE(s->SdkConvertTemplate("QUJD", convertido, n));
  EXPECT_EQ(convertido, "V10:QUJD");
  EXPECT_FALSE(s->SdkSetUserTemplate(1, 7, 3, convertido));  // no such user yet
  EXPECT_EQ(Erro(*s), codigo::kNaoEncontrado);
  ASSERT_TRUE(s->SdkSetUserInfo(1, 7, "Ana", "12", 2, true));
  EXPECT_FALSE(s->SdkSetUserTemplate(1, 7, 3, "QUJD"));  // unconverted
  EXPECT_EQ(Erro(*s), codigo::kArgumentoInvalido);
  ASSERT_TRUE(s->SdkSetUserTemplate(1, 7, 3, convertido));
  int32_t valor = 0;
  for (auto [codigo, esperado] :
       std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {6, 0}}) {
    ASSERT_TRUE(s->SdkGetDeviceStatus(1, codigo, valor));
    EXPECT_EQ(valor, esperado) << codigo;
  }
  std::string nome = "Ana", t;
  int32_t priv = 0;
  bool hab = false;
  EXPECT_TRUE(s->SdkQueryUserInfo(1, nome, t, priv, hab));
  ASSERT_TRUE(s->SdkDeleteEnrollData(1, 7, 1, 0));
  EXPECT_FALSE(s->SdkQueryUserInfo(1, nome, t, priv, hab));
  EXPECT_FALSE(quorvel_->TemplateDe("7", 3));

  quorvel_->DefineCapacidades({1, 1, 1});
  ASSERT_TRUE(s->SdkSetUserInfo(1, 8, "B", "", 0, true));
  EXPECT_FALSE(s->SdkSetUserInfo(1, 9, "C", "", 0, true));
  EXPECT_EQ(Erro(*s), codigo::kMemoriaCheia);
}

TEST_F(RelogioVirtualTeste, RegisterUsersCarryCardPisAndCpf) {
  auto s = CriaSdkVirtual();
  ASSERT_TRUE(s->SdkConnectNetwork("10.0.0.2", 4370));
  s->SdkSetCardNumber("5010");
  EXPECT_FALSE(
      s->SdkSetUserInfoWithPis(2, "10", "F", "", 0, true, "12345678901", ""));  // bad check digit
  s->SdkSetCardNumber("5010");
  ASSERT_TRUE(s->SdkSetUserInfoWithPis(2, "10", "F", "", 0, true, "12034567899", "52998224725"));
  const auto usuarios = tarvenix_->Usuarios();
  ASSERT_EQ(usuarios.size(), 1u);
  EXPECT_EQ(usuarios[0].cartao, "5010");
  EXPECT_EQ(usuarios[0].pis, "12034567899");
  EXPECT_FALSE(s->SdkSetUserTemplateByTextId(2, "10", 3, 1, "?"));
  EXPECT_TRUE(s->SdkSetUserTemplateByTextId(2, "10", 3, 1, "QUJD"));
  EXPECT_EQ(tarvenix_->TemplateDe("10", 3), "QUJD");
  EXPECT_FALSE(s->SdkSetEmployer(2, "E", 2, "d", "c", "e"));
  EXPECT_TRUE(s->SdkSetEmployer(2, "E", 0, "d", "c", "e"));
  EXPECT_EQ(tarvenix_->Empregador().nome, "E");
  EXPECT_FALSE(s->SdkClearAllData(2));
  EXPECT_EQ(Erro(*s), codigo::kNaoSuportado);
}

TEST_F(RelogioVirtualTeste, ClockTimeRunsFromTheMomentItWasSet) {
  auto s = CriaSdkVirtual();
  ASSERT_TRUE(s->SdkConnectNetwork("10.0.0.1", 4370));
  EXPECT_FALSE(s->SdkSetDeviceTime(1, 2024, 2, 30, 0, 0, 0));
  ASSERT_TRUE(s->SdkSetDeviceTime(1, 2030, 1, 1, 12, 0, 0));
  host_.Espera(61000);
  int32_t a, me, d, h, mi, se;
  ASSERT_TRUE(s->SdkGetDeviceTime(1, a, me, d, h, mi, se));
  EXPECT_EQ(DataHora::DePartes(a, me, d, h, mi, se), DataHora::DePartes(2030, 1, 1, 12, 1, 1));
}

TEST_F(RelogioVirtualTeste, PunchesArriveAtARateWhileTheLoopRuns) {
  SemeiaExemplo(*quorvel_);
  const size_t antes = quorvel_->Marcacoes().size();
  auto gerador = GeraMarcacoes(host_, quorvel_, 100);
  host_.Avanca(1000);
  EXPECT_EQ(quorvel_->Marcacoes().size(), antes + 10);
  EXPECT_EQ(quorvel_->Usuarios().size(), 5u);
}

}  // namespace
}  // namespace quorvel::sdk
