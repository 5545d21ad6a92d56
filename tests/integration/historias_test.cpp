// Whole stories: the real control against virtual clocks of both models.
#include <gtest/gtest.h>

#include "quorvel/comunicacao_zk.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "quorvel/virtual_host.h"
#include "support/funcionarios.h"

namespace quorvel {
namespace {

using sdk::DispositivoVirtual;
using sdk::RedeVirtual;

class Historia : public ::testing::Test {
 protected:
  Historia() : controle(host, sdk::FabricaVirtual()) {
    controle.Eventos().MarcacaoRecolhida = [this](const std::shared_ptr<Marcacao>& m) {
      recolhidas.push_back(m);
    };
    controle.Eventos().ErroMonitoracao = [this](int16_t n, const std::string&) {
      erros.push_back(n);
    };
  }
  ~Historia() override { RedeVirtual::Instancia().Limpa(); }

  std::shared_ptr<DispositivoVirtual> Relogio(int16_t codigo, EModeloRelogio modelo) {
    auto d = std::make_shared<DispositivoVirtual>(modelo);
    d->DefineFonteDeTempo([this] { return host.Agora(); });
    const std::string ip = "10.1.0." + std::to_string(codigo);
    RedeVirtual::Instancia().Publica(ip, 4370, d);
    controle.AddRelogioIP(codigo, ip, modelo);
    controle.ConectarRelogio(codigo);
    host.Avanca(100);
    EXPECT_TRUE(controle.Relogios().ItemByCodRelogio(std::to_string(codigo))->Conectado());
    return d;
  }

  std::shared_ptr<FuncionarioCartao> Funcionario(int32_t codigo, std::string senha,
                                                 std::vector<int32_t> dedos, std::string pis = "") {
    return teste::NovoFuncionario(codigo, {.nome = "Funcionário " + std::to_string(codigo),
                                           .senha = std::move(senha),
                                           .pis = std::move(pis),
                                           .cartao = std::to_string(9000 + codigo),
                                           .dedos = std::move(dedos),
                                           .texto = [codigo](int32_t d) {
                                             return "VEVNUExBVEU" + std::to_string(codigo) + "x" +
                                                    std::to_string(d);
                                           }});
  }

  VirtualHost host;
  ComunicacaoZK controle;
  std::vector<std::shared_ptr<Marcacao>> recolhidas;
  std::vector<int16_t> erros;
};

TEST_F(Historia, FingerprintClockFromEmployeesToStatus) {
  auto d = Relogio(1, EModeloRelogio_Quorvel);
  controle.AddFuncionarioCartao(Funcionario(10, "1234", {3, 8}));
  controle.AddFuncionarioCartao(Funcionario(11, "", {1}));
  controle.AddFuncionarioCartao(Funcionario(12, "", {}));
  auto ruim = Funcionario(13, "9", {});
  ruim->AddTemplate(teste::NovaDigital(2, "?!"));  // the clock cannot convert it
  controle.AddFuncionarioCartao(ruim);

  const auto recusas = controle.EnviarListaFuncionarioCartaoRelogio(1);
  ASSERT_EQ(recusas->Count(), 2);
  EXPECT_EQ(recusas->Item(1)->MotivoFalha(), NaoPossuiSenhaOuTemplate);
  EXPECT_EQ(recusas->Item(2)->MotivoFalha(), RelogioRecusouTemplate);

  const auto lidos = controle.ObterListaFuncionarioCartaoRelogio(1);
  ASSERT_EQ(lidos->Count(), 3);
  EXPECT_EQ(lidos->ItemByCodCartaoFuncionario(10)->Template()->Count(), 2);
  EXPECT_EQ(controle.ObterListaTemplatesCartaoRelogio(1, 10)->Item(2)->Texto(),
            "V10:VEVNUExBVEU10x8");

  EXPECT_TRUE(controle.ExcluiFuncionarioCartaoRelogio(1, lidos->ItemByCodCartaoFuncionario(10)));
  EXPECT_EQ(controle.ObterListaFuncionarioCartaoRelogio(1)->Count(), 2);
  EXPECT_FALSE(d->TemplateDe("10", 3));

  // Punches, collection, monitoring while punches arrive.
  d->AdicionaMarcacao(11, 1);
  d->AdicionaMarcacao(13, 0);
  const auto coletadas = controle.ObterMarcacaoRelogio(1);
  ASSERT_EQ(coletadas->Count(), 2);
  EXPECT_TRUE(coletadas->Item(1)->MarcacaoPorDigital());
  controle.IniciaMonitoracaoRelogio(1);
  host.Avanca(200);  // first visit
  auto gerador = sdk::GeraMarcacoes(host, d, 1000);
  host.Avanca(5000);
  EXPECT_GE(recolhidas.size(), 4u);
  EXPECT_TRUE(erros.empty());
  controle.PararMonitoracaoRelogio(1);

  // Configuration and status.
  EXPECT_TRUE(controle.SetSireneDiariaRelogio(1, 3, 8, 30));
  EXPECT_EQ(d->Opcao("AutoAlarm3"), "2078");
  EXPECT_TRUE(controle.SetHorarioVeraoRelogio(1, DataHora::DePartes(2026, 10, 18),
                                              DataHora::DePartes(2027, 2, 21)));
  EXPECT_TRUE(controle.Set1Para1Relogio(1));
  EXPECT_EQ(d->InformacaoDispositivo(35), 1);
  const auto status = controle.ObterStatusRelogio(1);
  EXPECT_EQ(status->QuantidadeUsuarios(), 2);
  EXPECT_EQ(status->NumeroMarcacoes(), static_cast<int32_t>(d->Marcacoes().size()));
  EXPECT_EQ(status->DataHora(), host.Agora());
  EXPECT_TRUE(controle.ApagarMarcacoesRelogio(1));
  EXPECT_EQ(controle.ObterMarcacaoRelogio(1)->Count(), 0);
}

TEST_F(Historia, RegisterClockWithPointerEmployerAndLostLinks) {
  auto d = Relogio(2, EModeloRelogio_Tarvenix);
  for (int i = 0; i < 25; ++i) d->AdicionaRegistro("12034567899");
  EXPECT_EQ(controle.ObterMarcacaoRelogio(2, 0, 0)->Count(), 25);
  const auto desde20 = controle.ObterMarcacaoRelogio(2, 0, 20);
  ASSERT_EQ(desde20->Count(), 5);
  EXPECT_EQ(desde20->Item(1)->NSR(), "21");

  EXPECT_TRUE(
      controle.EnviaEmpregadorRelogio(2, "Acme Ltda", CNPJ, "11222333000181", "", "Rua A, 1"));
  EXPECT_EQ(d->Empregador().documento, "11222333000181");

  // The link drops for the next call: the retry reconnects and the date still gets set.
  d->PerdeLink(1);
  EXPECT_TRUE(controle.EnviaDataHoraRelogio(2, DataHora::DePartes(2027, 1, 2, 3, 4, 5)));
  EXPECT_EQ(controle.ObterDataHoraRelogio(2), DataHora::DePartes(2027, 1, 2, 3, 4, 5));

  // An employee whose record never gets through is reported, not silently dropped.
  controle.AddFuncionarioCartao(Funcionario(30, "1", {4}, "13098765436"));
  controle.AddFuncionarioCartao(Funcionario(31, "1", {}, "20456781239"));
  d->Recusa("SdkSetUserInfoWithPis", -2, 3);
  const auto recusas = controle.EnviarListaFuncionarioCartaoRelogio(2);
  ASSERT_EQ(recusas->Count(), 1);
  EXPECT_EQ(recusas->Item(1)->FuncionarioCartao()->Codigo(), 30);
  EXPECT_EQ(recusas->Item(1)->MotivoFalha(), RelogioRecusou);
  ASSERT_EQ(d->Usuarios().size(), 1u);
  EXPECT_EQ(d->Usuarios()[0].cartao, "9031");

  // The employer, the time set and the employee included are the clock's fiscal records 26 to
  // 28, between the punches: a punch read never hands them out.
  const auto fiscais = d->RegistrosFiscais();
  ASSERT_EQ(fiscais.size(), 3u);
  EXPECT_EQ(fiscais[0].nsr, 26);
  EXPECT_EQ(fiscais[0].tipo, 2);
  EXPECT_EQ(fiscais[1].tipo, 4);
  EXPECT_EQ(fiscais[1].ajustado, DataHora::DePartes(2027, 1, 2, 3, 4, 5));
  EXPECT_EQ(fiscais[2].tipo, 5);
  EXPECT_EQ(fiscais[2].operacao, 'I');
  EXPECT_EQ(fiscais[2].nsr, 28);

  // Monitoring hands out each new register record once, past the gap they leave.
  controle.IniciaMonitoracaoTodosRelogios();
  d->AdicionaRegistro("20456781239");
  host.Avanca(400);
  ASSERT_EQ(recolhidas.size(), 1u);
  EXPECT_EQ(recolhidas[0]->NSR(), "29");
}

TEST_F(Historia, ALostLinkDuringCollectionIsRetried) {
  auto d = Relogio(2, EModeloRelogio_Tarvenix);
  for (int i = 0; i < 3; ++i) d->AdicionaRegistro("12034567899");
  // A slow clock on virtual time: every call takes 1.5 s, so an empty attempt counts.
  d->DefineEspera([this](int32_t ms) { host.Salta(ms); });
  d->Lentidao(1500);
  d->Recusa("SdkGetNextNsrLog", -2, 1);
  const auto conexoes = d->Conexoes();
  const auto lista = controle.ObterMarcacaoRelogio(2, 0, 0);
  ASSERT_EQ(lista->Count(), 3);
  EXPECT_EQ(d->Conexoes(), conexoes + 2);  // the opening reconnection and one retry

  // However quickly the lost link shows, the read is not taken as the end of the log.
  d->Lentidao(0);
  d->Recusa("SdkGetNextNsrLog", -2, 1);
  EXPECT_EQ(controle.ObterMarcacaoRelogio(2, 0, 0)->Count(), 3);
  // A clock gone for good is an error, not an empty collection.
  d->Recusa("SdkGetNextNsrLog", -2);
  try {
    controle.ObterMarcacaoRelogio(2, 0, 0);
    ADD_FAILURE() << "a clock gone for good gave a list";
  } catch (const Erro& e) {
    EXPECT_EQ(e.Numero(), erro::kRelogioDesconectado);
  }
}

TEST_F(Historia, ImpossibleDatesAndDisconnectedClocks) {
  auto d = Relogio(1, EModeloRelogio_Quorvel);
  d->AdicionaMarcacaoComDataImpossivel();
  try {
    controle.ObterMarcacaoRelogio(1);
    ADD_FAILURE();
  } catch (const Erro& e) {
    EXPECT_EQ(e.Numero(), erro_plataforma::kTiposIncompativeis);
  }
  controle.IniciaMonitoracaoRelogio(1);
  host.Avanca(200);
  d->AdicionaMarcacaoComDataImpossivel();
  host.Avanca(200);
  ASSERT_FALSE(erros.empty());
  EXPECT_EQ(erros.back(), erro_plataforma::kTiposIncompativeis);
  controle.DesconectarRelogio(1);
  host.Avanca(200);
  EXPECT_EQ(erros.back(), erro::kRelogioDesconectado);
}

}  // namespace
}  // namespace quorvel
