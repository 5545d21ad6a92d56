// Collection into the store against clocks in process: what a second run reads, an erased log
// followed by a refill, and the cursor that monitoring moves.
#include "coletor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "quorvel/sdk/relogio_virtual.h"
#include "quorvel/virtual_host.h"

namespace ponto {
namespace {

using namespace quorvel;

class Coletor : public ::testing::Test {
 protected:
  Coletor() : controle(host, sdk::FabricaVirtual()) {
    const std::string nome = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    caminho = ::testing::TempDir() + "coletor_" + std::to_string(::getpid()) + "_" + nome + ".db";
    for (const char* s : {"", "-wal", "-shm"}) std::filesystem::remove(caminho + s);
    banco = armazem::Armazem::Abre(caminho, "teste");
  }
  ~Coletor() override {
    for (const auto& e : enderecos) sdk::RedeVirtual::Instancia().Retira(e, 4370);
  }

  std::shared_ptr<sdk::DispositivoVirtual> Relogio(int16_t codigo, EModeloRelogio modelo) {
    auto d = std::make_shared<sdk::DispositivoVirtual>(modelo);
    const std::string endereco =
        "coletor-" + std::to_string(::getpid()) + "-" + std::to_string(codigo);
    sdk::RedeVirtual::Instancia().Publica(endereco, 4370, d);
    enderecos.push_back(endereco);
    controle.AddRelogioIP(codigo, endereco, modelo);
    controle.ConectarRelogio(codigo);
    host.Avanca(100);
    return d;
  }

  ResultadoColeta Coleta(int16_t codigo) {
    std::shared_ptr<quorvel::Relogio> relogio;
    for (int32_t i = 1; i <= controle.Relogios().Count(); ++i)
      if (controle.Relogios().Item(i)->Relogio()->Codigo() == codigo)
        relogio = controle.Relogios().Item(i)->Relogio();
    const auto r = ColetaNovas(controle, *relogio, *banco);
    EXPECT_TRUE(r);
    return r.value_or(ResultadoColeta{});
  }

  size_t NoBanco(int16_t codigo) {
    armazem::Filtro f;
    f.relogio = codigo;
    return banco->Conta(f);
  }

  static DataHora Em(const char* quando) { return DataHora::DeTexto(quando); }

  VirtualHost host;
  ComunicacaoZK controle;
  std::string caminho;
  std::unique_ptr<armazem::Armazem> banco;
  std::vector<std::string> enderecos;
};

TEST_F(Coletor, ASecondRunWithNothingNewReadsNothingAndCallsNothingErased) {
  auto digital = Relogio(1, EModeloRelogio_Quorvel);
  auto registro = Relogio(2, EModeloRelogio_Tarvenix);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(digital->AdicionaMarcacao(10 + i, 1, Em("2024-05-13 08:00:00")));
    ASSERT_TRUE(registro->AdicionaRegistro("12034567899", Em("2024-05-13 08:00:00")));
  }
  for (int16_t codigo : {1, 2}) {
    SCOPED_TRACE(codigo);
    const auto primeira = Coleta(codigo);
    EXPECT_EQ(primeira.lidas, 3u);
    EXPECT_EQ(primeira.novas, 3u);
    const auto segunda = Coleta(codigo);
    EXPECT_EQ(segunda.lidas, 0u);
    EXPECT_EQ(segunda.novas, 0u);
    EXPECT_FALSE(segunda.logRecomecado);
    EXPECT_EQ(NoBanco(codigo), 3u);
  }
}

// Erased, collected while empty, refilled past the old count: the refill is a new log even when
// the entry at the old position looks like the one the cursor stood after.
TEST_F(Coletor, AnErasedLogCollectedEmptyAndRefilledIsStoredWhole) {
  auto d = Relogio(1, EModeloRelogio_Quorvel);
  ASSERT_TRUE(d->AdicionaMarcacao(1, 1, Em("2024-05-13 08:00:00")));
  ASSERT_TRUE(d->AdicionaMarcacao(2, 1, Em("2024-05-13 08:01:00")));
  ASSERT_TRUE(d->AdicionaMarcacao(3, 1, Em("2024-05-13 08:02:00")));
  EXPECT_EQ(Coleta(1).novas, 3u);
  ASSERT_TRUE(controle.ApagarMarcacoesRelogio(1));
  EXPECT_EQ(Coleta(1).lidas, 0u);
  EXPECT_EQ(banco->CursorDe(1)->posicao, 0);
  ASSERT_TRUE(d->AdicionaMarcacao(7, 1, Em("2024-05-14 08:00:00")));
  ASSERT_TRUE(d->AdicionaMarcacao(8, 1, Em("2024-05-14 08:01:00")));
  ASSERT_TRUE(d->AdicionaMarcacao(3, 1, Em("2024-05-13 08:02:00")));  // as the old third
  ASSERT_TRUE(d->AdicionaMarcacao(9, 1, Em("2024-05-14 08:02:00")));
  const auto r = Coleta(1);
  EXPECT_EQ(r.lidas, 4u);
  EXPECT_EQ(NoBanco(1), 6u);  // the old three, and 7, 8 and 9
}

TEST_F(Coletor, MonitoredRecordsMoveTheCursorOnlyOverWhatFollowsItWithoutAGap) {
  auto marcacao = [](const char* nsr) {
    auto m = std::make_shared<Marcacao>();
    m->NSR(nsr);
    m->PIS("12034567899");
    m->DataHoraMarcacao(DataHora::DeTexto("2024-05-13 08:00:00"));
    return m;
  };
  ASSERT_EQ(banco->Grava(2, {}, armazem::Cursor{10, 10, ""}), 0u);
  const auto r = GravaMonitoradas(*banco, 2, {marcacao("13"), marcacao("11")});
  EXPECT_EQ(r.novas, 2u);
  EXPECT_EQ(banco->CursorDe(2)->ultimoNsr, 11);  // 12 is still to be fetched
  EXPECT_EQ(GravaMonitoradas(*banco, 2, {marcacao("12")}).novas, 1u);
  EXPECT_EQ(banco->CursorDe(2)->ultimoNsr, 12);
}

}  // namespace
}  // namespace ponto
