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

// A register clock numbers its fiscal records (employer, time set, employees) in the punches'
// sequence, and a punch read never hands them out: the punches' NSRs have gaps. Each punch is
// stored once, the cursor passes the gaps, and a later run reads only what came after — with
// either pointer the firmware takes (an NSR, or a count of the punches read).
TEST_F(Coletor, RegisterPunchesAroundFiscalRecordsAreStoredOnceAndTheCursorPassesTheGaps) {
  for (const char* firmware : {"", "2.1.11"}) {
    SCOPED_TRACE(firmware);
    const int16_t codigo = firmware[0] ? 4 : 3;
    auto d = Relogio(codigo, EModeloRelogio_Tarvenix);
    if (firmware[0]) d->DefineFirmware(firmware);
    auto sdk = sdk::CriaSdkVirtualConectado(d);
    auto punch = [&](const char* quando) {
      ASSERT_TRUE(d->AdicionaRegistro("12034567899", Em(quando)));
    };
    punch("2024-05-13 08:00:00");
    punch("2024-05-13 08:01:00");
    ASSERT_TRUE(sdk->SdkSetEmployer(1, "Acme", 0, "11222333000181", "", "Rua A"));  // NSR 3
    punch("2024-05-13 08:02:00");
    ASSERT_TRUE(sdk->SdkSetUserInfoWithPis(1, "9", "Novo", "", 0, true, "", "52998224725"));
    ASSERT_TRUE(sdk->SdkSetUserInfoWithPis(1, "9", "Novo Nome", "", 0, true, "", "52998224725"));
    punch("2024-05-13 08:03:00");  // NSR 7
    auto r = Coleta(codigo);
    EXPECT_EQ(r.lidas, 4u);
    EXPECT_EQ(r.novas, 4u);
    EXPECT_EQ(banco->CursorDe(codigo)->ultimoNsr, 7);
    EXPECT_EQ(banco->CursorDe(codigo)->posicao, 4);
    EXPECT_EQ(Coleta(codigo).lidas, 0u);

    ASSERT_TRUE(sdk->SdkSetDeviceTime(1, 2024, 5, 13, 9, 0, 0));  // NSR 8
    ASSERT_TRUE(sdk->SdkDeleteEnrollDataByTextId(1, "9", 12));    // NSR 9
    punch("2024-05-13 09:05:00");                                 // NSR 10
    r = Coleta(codigo);
    EXPECT_EQ(r.lidas, 1u);
    EXPECT_EQ(r.novas, 1u);
    EXPECT_EQ(banco->CursorDe(codigo)->ultimoNsr, 10);
    EXPECT_EQ(NoBanco(codigo), 5u);
    std::vector<int64_t> nsrs;
    armazem::Filtro f;
    f.relogio = codigo;
    banco->Percorre(f, [&](const armazem::MarcacaoArmazenada& m) { nsrs.push_back(m.nsr); });
    EXPECT_EQ(nsrs, (std::vector<int64_t>{1, 2, 4, 7, 10}));
    // The clock kept the other numbers for itself, in order, each once.
    std::vector<std::pair<int64_t, int32_t>> fiscais;
    for (const auto& g : d->RegistrosFiscais()) fiscais.emplace_back(g.nsr, g.tipo);
    EXPECT_EQ(fiscais,
              (std::vector<std::pair<int64_t, int32_t>>{{3, 2}, {5, 5}, {6, 5}, {8, 4}, {9, 5}}));
    EXPECT_EQ(d->RegistrosFiscais()[1].identificador, "52998224725");  // a CPF-only employee
    EXPECT_EQ(d->RegistrosFiscais()[2].operacao, 'A');
    EXPECT_EQ(d->RegistrosFiscais()[4].operacao, 'E');
  }
}

// An employee with a CPF and no PIS punches under the CPF, as clocks under the newer rules do.
TEST_F(Coletor, AnEmployeeWithoutPisPunchesUnderTheirCpf) {
  auto d = Relogio(5, EModeloRelogio_Tarvenix);
  auto sdk = sdk::CriaSdkVirtualConectado(d);
  ASSERT_TRUE(sdk->SdkSetUserInfoWithPis(1, "3", "Só CPF", "", 0, true, "", "52998224725"));
  ASSERT_TRUE(d->AdicionaMarcacao(3, 0, Em("2024-05-13 08:00:00")));
  Coleta(5);
  std::vector<std::string> ids;
  armazem::Filtro f;
  f.relogio = 5;
  banco->Percorre(f, [&](const armazem::MarcacaoArmazenada& m) { ids.push_back(m.pis); });
  EXPECT_EQ(ids, std::vector<std::string>{"52998224725"});
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

// The clock's own records (employer, employee) leave gaps in the punches' NSRs: monitoring asks
// the clock's fiscal file what stands in a gap and moves the cursor over it, so the next
// incremental collection reads nothing again; a punch missed in a gap stays for it to fetch.
TEST_F(Coletor, MonitoringMovesTheCursorOverTheClocksOwnRecordsButNotOverAMissedPunch) {
  auto d = Relogio(6, EModeloRelogio_Tarvenix);
  auto sdk = sdk::CriaSdkVirtualConectado(d);
  const std::string pis = "12034567899";
  ASSERT_TRUE(sdk->SdkSetUserInfoWithPis(1, "1", "Ana", "", 0, true, pis, "52998224725"));  // 1
  ASSERT_TRUE(d->AdicionaRegistro(pis));                                                    // 2
  EXPECT_EQ(Coleta(6).lidas, 1u);
  const auto monitorada = [&](int64_t nsr) {
    for (const auto& v : d->Marcacoes())
      if (v.nsr == std::to_string(nsr)) {
        auto m = std::make_shared<Marcacao>();
        m->NSR(v.nsr);
        m->PIS(v.pis);
        m->DataHoraMarcacao(v.momento);
        return m;
      }
    ADD_FAILURE() << "NSR " << nsr << " não é uma marcação";
    return std::make_shared<Marcacao>();
  };
  const auto doRelogio = [&](int64_t depois, int64_t ate) {
    return OutrosRegistrosDoRelogio(controle, 6, depois, ate);
  };
  ASSERT_TRUE(sdk->SdkSetEmployer(1, "Acme", 0, "11222333000181", "", ""));                // 3
  ASSERT_TRUE(sdk->SdkSetUserInfoWithPis(1, "2", "Bia", "", 0, true, "", "27100251834"));  // 4
  ASSERT_TRUE(d->AdicionaRegistro(pis));                                                   // 5
  ASSERT_TRUE(d->AdicionaRegistro(pis));                                                   // 6
  // Without the clock's answer the cursor waits at the gap; with it, it goes over.
  EXPECT_EQ(GravaMonitoradas(*banco, 6, {monitorada(5)}).novas, 1u);
  EXPECT_EQ(banco->CursorDe(6)->ultimoNsr, 2);
  EXPECT_EQ(GravaMonitoradas(*banco, 6, {monitorada(6), monitorada(5)}, doRelogio).novas, 1u);
  EXPECT_EQ(banco->CursorDe(6)->ultimoNsr, 6);
  EXPECT_EQ(banco->CursorDe(6)->posicao, 3);  // punches, not records
  EXPECT_EQ(Coleta(6).lidas, 0u);

  ASSERT_TRUE(d->AdicionaRegistro(pis));                      // 7: missed by monitoring
  ASSERT_TRUE(sdk->SdkDeleteEnrollDataByTextId(1, "2", 12));  // 8
  ASSERT_TRUE(d->AdicionaRegistro(pis));                      // 9
  EXPECT_EQ(GravaMonitoradas(*banco, 6, {monitorada(9)}, doRelogio).novas, 1u);
  EXPECT_EQ(banco->CursorDe(6)->ultimoNsr, 6);
  const auto r = Coleta(6);
  EXPECT_EQ(r.lidas, 2u);
  EXPECT_EQ(r.novas, 1u);
  EXPECT_EQ(NoBanco(6), 5u);
  EXPECT_EQ(banco->CursorDe(6)->ultimoNsr, 9);

  // A clock that cannot say: a fingerprint clock, one the control does not know.
  Relogio(7, EModeloRelogio_Quorvel);
  EXPECT_FALSE(OutrosRegistrosDoRelogio(controle, 7, 0, 10));
  EXPECT_FALSE(OutrosRegistrosDoRelogio(controle, 8, 0, 10));
}

}  // namespace
}  // namespace ponto
