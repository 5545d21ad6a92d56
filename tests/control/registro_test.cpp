// The clock registry, registration, the guard, the control's frame and its destruction.
#include "quorvel/lista_relogio.h"
#include "support/controle_fixture.h"

namespace quorvel {
namespace {

using namespace teste;

std::shared_ptr<Relogio> NovoRelogio(int16_t codigo, std::string ip = "10.1.1.1") {
  auto r = std::make_shared<Relogio>();
  r->Codigo(codigo);
  r->IP(std::move(ip));
  return r;
}

TEST(ListaRelogio, ChecksInOrderAndLeavesTheRegistryUnchanged) {
  ListaRelogio lista;
  auto sdk = std::make_shared<NiceMock<teste::MockCZKEM>>();

  Erro e = Captura([&] { lista.Add(NovoRelogio(0, ""), sdk); });  // code checked first
  EXPECT_EQ(e.Numero(), erro::kCodigoRelogioAusente);
  EXPECT_EQ(e.Descricao(),
            Descricao("O código do relógio deve ser informado.", "ListaRelogio", "Add"));
  EXPECT_EQ(Captura([&] { lista.Add(NovoRelogio(-5), sdk); }).Numero(),
            erro::kCodigoRelogioAusente);

  e = Captura([&] { lista.Add(NovoRelogio(1, ""), sdk); });
  EXPECT_EQ(e.Descricao(),
            Descricao("O endereço IP para comunicação com o relógio deve ser informado.",
                      "ListaRelogio", "Add"));
  auto serial = NovoRelogio(1, "");
  serial->TipoConexao(ConexaoSerial);
  e = Captura([&] { lista.Add(serial, sdk); });
  EXPECT_EQ(e.Numero(), erro::kPortaSerialAusente);
  EXPECT_EQ(e.Descricao(),
            Descricao("A porta serial para comunicação com o relógio deve ser informada.",
                      "ListaRelogio", "Add"));
  serial->PortaSerial(1);
  lista.Add(serial, sdk);  // an empty address does not matter on a serial line

  auto outro = NovoRelogio(1, "10.9.9.9");
  outro->ModeloRelogio(EModeloRelogio_Tarvenix);
  e = Captura([&] { lista.Add(outro, sdk); });
  EXPECT_EQ(e.Numero(), erro::kRelogioRepetido);
  EXPECT_EQ(e.Descricao(),
            Descricao("Este relógio já foi adicionado a coleção.", "ListaRelogio", "Add"));
  EXPECT_EQ(lista.Count(), 1);

  auto estranho = NovoRelogio(2, "");
  estranho->TipoConexao(static_cast<ETipoConexao>(5));  // neither network nor serial
  lista.Add(estranho, sdk);
  EXPECT_EQ(lista.Count(), 2);
  EXPECT_FALSE(lista.Item(2)->Conectado());
  EXPECT_EQ(Captura([&] { lista.Add(nullptr, sdk); }).Numero(),
            erro_plataforma::kObjetoNaoDefinido);
}

TEST(ListaRelogio, OrderKeysAndFailures) {
  ListaRelogio lista;
  for (int16_t c : {3, 1, 2}) lista.Add(NovoRelogio(c), nullptr);
  EXPECT_EQ(lista.Item(1)->Relogio()->Codigo(), 3);
  lista.Remove("3");
  EXPECT_EQ(lista.Item(1)->Relogio()->Codigo(), 1);
  EXPECT_EQ(lista.Count(), 2);
  EXPECT_EQ(lista.ItemByCodRelogio("2")->Relogio()->Codigo(), 2);
  EXPECT_EQ(lista.ItemByCodRelogio("02"), nullptr);  // keys have no leading zeros
  EXPECT_EQ(lista.ItemByCodRelogio("9"), nullptr);

  Erro e = Captura([&] { lista.Remove("99"); });
  EXPECT_EQ(e.Numero(), erro::kRemocaoRelogio);
  EXPECT_EQ(e.Descricao().rfind("Não foi possível remover o relógio. - ", 0), 0u);
  EXPECT_TRUE(e.Descricao().ends_with("\r\nClasse: ListaRelogio\r\nMétodo: Remove"));

  for (int32_t p : {0, 3}) {
    e = Captura([&] { lista.Item(p); });
    EXPECT_EQ(e.Numero(), erro::kDesconhecido);
    EXPECT_EQ(e.Descricao().rfind("Ocorreu um erro desconhecido! - ", 0), 0u);
    EXPECT_TRUE(e.Descricao().ends_with("\r\nClasse: ListaRelogio\r\nMétodo: Item"));
  }
}

using Registro = ControleTeste;

TEST_F(Registro, EachClockGetsItsOwnSdkObjectInRegistrationOrder) {
  for (int16_t c : {10, 20, 30}) Registra(c);
  ASSERT_EQ(sdks.size(), 3u);
  EXPECT_EQ(controle->Relogios().Count(), 3);
  for (int32_t i = 1; i <= 3; ++i)
    EXPECT_EQ(controle->Relogios().Item(i)->CZKEM().get(), sdks[static_cast<size_t>(i - 1)].get());
  const auto& r = *controle->Relogios().Item(1)->Relogio();
  EXPECT_EQ(r.IP(), "192.0.2.10");
  EXPECT_EQ(r.TipoConexao(), ConexaoIP);
  EXPECT_EQ(r.PortaSerial(), 0);
  EXPECT_FALSE(r.Consulta1N() || r.PenDrive() || r.Monitorado());
}

TEST_F(Registro, SerialRegistrationIsAlwaysTheFingerprintModel) {
  controle->AddRelogioSerial(5, 3);
  const auto& r = *controle->Relogios().ItemByCodRelogio("5")->Relogio();
  EXPECT_EQ(r.TipoConexao(), ConexaoSerial);
  EXPECT_EQ(r.PortaSerial(), 3);
  EXPECT_EQ(r.ModeloRelogio(), EModeloRelogio_Quorvel);
  EXPECT_EQ(r.IP(), "");
  EXPECT_EQ(Captura([&] { controle->AddRelogioSerial(4, 0); }).Numero(), erro::kPortaSerialAusente);
  EXPECT_EQ(Captura([&] { controle->AddRelogioIP(4, "", EModeloRelogio_Quorvel); }).Numero(),
            erro::kEnderecoIpAusente);
  controle->AddRelogioIP(7, "x", static_cast<EModeloRelogio>(99));  // not checked
  EXPECT_EQ(controle->Relogios().Count(), 2);
}

TEST_F(Registro, ARejectedRegistrationReleasesItsObjectAndTheNextOneWorks) {
  Registra(1);
  EXPECT_EQ(Captura([&] { Registra(1); }).Numero(), erro::kRelogioRepetido);
  std::weak_ptr<MockCZKEM> rejeitado = sdks.back();
  sdks.pop_back();
  EXPECT_TRUE(rejeitado.expired());
  Registra(2);
  EXPECT_EQ(controle->Relogios().Count(), 2);
}

TEST_F(Registro, TheHostsOwnRecordIsSharedNotCopied) {
  auto r = NovoRelogio(8);
  controle->AddRelogio(r);
  r->IP("10.2.2.2");
  EXPECT_EQ(controle->Relogios().Item(1)->Relogio()->IP(), "10.2.2.2");
  EXPECT_EQ(Captura([&] { controle->AddRelogio(nullptr); }).Numero(),
            erro_plataforma::kObjetoNaoDefinido);
}

TEST_F(Registro, RemovalReleasesThatClocksObjectOnly) {
  MockCZKEM& dez = Conectado(10);
  Registra(20);
  MockCZKEM& trinta = Registra(30);
  std::weak_ptr<MockCZKEM> vinte = sdks[1];
  EXPECT_CALL(dez, SdkDisconnect).Times(0);  // removing does not disconnect
  controle->RemoverRelogio(20);
  sdks.erase(sdks.begin() + 1);
  EXPECT_TRUE(vinte.expired());
  EXPECT_EQ(controle->Relogios().Item(2)->CZKEM().get(), &trinta);
  EXPECT_CALL(dez, SdkRefreshData(10)).WillOnce(Return(true));
  controle->RefreshRelogio(10);  // the remaining clock still works

  Erro e = Captura([&] { controle->RemoverRelogio(55); });
  EXPECT_EQ(e.Numero(), erro::kRelogioNaoRegistrado);
  EXPECT_EQ(controle->Relogios().Count(), 2);
}

TEST_F(Registro, RemoveAllEmptiesTheRegistryInOrder) {
  for (int16_t c : {10, 20, 30}) Registra(c);
  controle->RemoverTodosRelogios();
  EXPECT_EQ(controle->Relogios().Count(), 0);
  Registra(10);
  EXPECT_EQ(controle->Relogios().Count(), 1);
}

TEST_F(Registro, ChangingTheCodeOfARegisteredRecordBreaksItsRemoval) {
  auto r = NovoRelogio(8);
  controle->AddRelogio(r);
  r->Codigo(9);
  // The lookup finds key "8" but the removal rebuilds the key from the record: "9".
  EXPECT_EQ(Captura([&] { controle->RemoverRelogio(8); }).Numero(), erro::kRemocaoRelogio);
}

TEST_F(Registro, GuardRefusesUnregisteredBeforeDisconnected) {
  Erro e = Captura([&] { controle->RefreshRelogio(5); });
  EXPECT_EQ(e.Numero(), erro::kRelogioNaoRegistrado);
  EXPECT_EQ(e.Descricao(), Descricao("O relógio informado não está incluso na coleção de relógios.",
                                     "ComunicacaoZK", "ObterRelogioCZKEM"));
  MockCZKEM& m = Registra(12);
  teste::ProibeChamadas(m);
  e = Captura([&] { controle->RefreshRelogio(12); });
  EXPECT_EQ(e.Numero(), erro::kRelogioDesconectado);
  EXPECT_EQ(
      e.Descricao(),
      Descricao("O relógio 12 está desconectado. A operação desejada não poderá ser realizada.",
                "ComunicacaoZK", "GeraExcessaoSeRelogioDesconectado"));
}

TEST_F(Registro, NegativeCodesAreLookedUpUnderTheirText) {
  auto r = NovoRelogio(3);
  controle->AddRelogio(r);
  r->Codigo(-3);  // the host may change it afterwards; the key stays "3"
  EXPECT_EQ(Captura([&] { controle->ConectarRelogio(-3); }).Numero(), erro::kRelogioNaoRegistrado);
}

TEST_F(Registro, KeepsItsFixedSize) {
  controle->Redimensiona(1, 99999);
  EXPECT_EQ(controle->Largura(), 685);
  EXPECT_EQ(controle->Altura(), 700);
}

TEST_F(Registro, DestructionDisconnectsEveryClockEvenWhenOneFails) {
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2);
  MockCZKEM& c = Registra(3);
  EXPECT_CALL(a, SdkDisconnect).Times(1);
  EXPECT_CALL(b, SdkDisconnect).WillOnce(Throw(Erro(-2147467259, "falha do dispositivo")));
  EXPECT_CALL(c, SdkDisconnect).Times(1);
  EXPECT_EQ(controle->Encerra(), 1);
  for (int32_t i = 1; i <= 3; ++i) EXPECT_FALSE(controle->Relogios().Item(i)->Conectado());
  for (MockCZKEM* m : {&a, &b, &c}) ::testing::Mock::VerifyAndClearExpectations(m);
  EXPECT_CALL(a, SdkDisconnect).Times(1);
  EXPECT_CALL(b, SdkDisconnect).WillOnce(Throw(std::runtime_error("x")));
  EXPECT_CALL(c, SdkDisconnect).Times(1);
  controle.reset();  // the destructor swallows it too
}

}  // namespace
}  // namespace quorvel
