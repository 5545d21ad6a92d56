// The status record and its query.
#include "support/controle_fixture.h"

namespace quorvel {
namespace {

using namespace teste;

class Status : public ControleTeste {
 protected:
  // Status codes 1..9 answer the given values; -1 refuses, leaving the out variable alone.
  void Valores(MockCZKEM& m, std::map<int32_t, int32_t> valores) {
    ON_CALL(m, SdkGetDeviceStatus).WillByDefault([valores](int32_t, int32_t codigo, int32_t& v) {
      auto it = valores.find(codigo);
      if (it != valores.end() && it->second == -1) return false;
      if (it != valores.end()) v = it->second;
      return true;
    });
    HoraDoRelogio(m, 2024, 3, 5, 7, 4, 9);
  }
};

TEST_F(Status, ReadsInOrderThenTimeThenFirmware) {
  MockCZKEM& m = Conectado(1);
  Valores(m,
          {{1, 2}, {2, 30}, {3, 40}, {4, 5}, {5, 6}, {6, 1234}, {7, 1000}, {8, 500}, {9, 50000}});
  ON_CALL(m, SdkGetFirmwareVersion)
      .WillByDefault(DoAll(SetArgReferee<1>("Ver 6.60"), Return(true)));
  {
    InSequence s;
    for (int32_t codigo : {9, 7, 8, 1, 4, 3, 2, 5, 6})
      EXPECT_CALL(m, SdkGetDeviceStatus(1, codigo, _));
    EXPECT_CALL(m, SdkGetDeviceTime);
    EXPECT_CALL(m, SdkGetFirmwareVersion);
  }
  const auto s = controle->ObterStatusRelogio(1);
  EXPECT_EQ(s->QuantidadeAdministradores(), 2);
  EXPECT_EQ(s->QuantidadeUsuarios(), 30);
  EXPECT_EQ(s->QuantidadeTemplates(), 40);
  EXPECT_EQ(s->QuantidadeSenhas(), 5);
  EXPECT_EQ(s->VezesAdministradorPoderaGerenciar(), 6);
  EXPECT_EQ(s->NumeroMarcacoes(), 1234);
  EXPECT_EQ(s->CapacidadeTemplates(), 1000);
  EXPECT_EQ(s->CapacidadeUsuarios(), 500);
  EXPECT_EQ(s->CapacidadeRegistros(), 50000);
  EXPECT_DOUBLE_EQ(s->PercentualOcupacacaoBufferMarcacoes(), 2.468);
  EXPECT_EQ(s->DataHora(), DataHora::DePartes(2024, 3, 5, 7, 4, 9));
  EXPECT_EQ(s->VersaoFirmware(), "Ver 6.60");
  ::testing::Mock::VerifyAndClearExpectations(&m);
  Valores(m, {});
  const auto outro = controle->ObterStatusRelogio(1);
  EXPECT_NE(outro, s);  // a new record each time
  outro->NumeroMarcacoes(1);
  EXPECT_EQ(s->NumeroMarcacoes(), 1234);
}

TEST_F(Status, OccupationRounding) {
  MockCZKEM& m = Conectado(1);
  const std::vector<std::tuple<int32_t, int32_t, double>> casos = {
      {1, 3, 33.3333},
      {33, 3200, 1.0312},
      {120, 100, 120.0},
      {5, 0, 0.0},
      {30000000, 100000, 30000.0},  // the product needs more than 32 bits
      {3, 2000000, 0.0002},         // 0.00015: a tie, up to the even digit
      {1, 2000000, 0.0},            // 0.00005: a tie, down to the even digit
      {7, 2000000, 0.0004},         // 0.00035: up
      {1, 6, 16.6667},
      {2, 3, 66.6667},
      {1, 160000, 0.0006},   // 0.000625
      {1, 400000, 0.0002}};  // 0.00025: a tie, down to the even digit
  for (const auto& [marcacoes, capacidade, esperado] : casos) {
    Valores(m, {{6, marcacoes}, {9, capacidade}});
    EXPECT_DOUBLE_EQ(controle->ObterStatusRelogio(1)->PercentualOcupacacaoBufferMarcacoes(),
                     esperado)
        << marcacoes << "/" << capacidade;
  }
}

TEST_F(Status, EachValueComesFromItsOwnRead) {
  MockCZKEM& m = Conectado(1);
  Valores(m, {{9, 100}, {7, -1}, {8, 70}, {1, -1}});
  auto s = controle->ObterStatusRelogio(1);
  EXPECT_EQ(s->CapacidadeRegistros(), 100);
  EXPECT_EQ(s->CapacidadeTemplates(), 0);  // refused: not the capacity read before it
  EXPECT_EQ(s->CapacidadeUsuarios(), 70);
  EXPECT_EQ(s->QuantidadeAdministradores(), 0);
  EXPECT_EQ(s->VersaoFirmware(), "");

  // Only the capacity answers: no punch count is made up from it.
  ON_CALL(m, SdkGetDeviceStatus).WillByDefault([](int32_t, int32_t codigo, int32_t& v) {
    if (codigo != 9) return false;
    v = 5000;
    return true;
  });
  s = controle->ObterStatusRelogio(1);
  EXPECT_EQ(s->CapacidadeRegistros(), 5000);
  EXPECT_EQ(s->NumeroMarcacoes(), 0);
  EXPECT_EQ(s->QuantidadeUsuarios(), 0);
  EXPECT_EQ(s->PercentualOcupacacaoBufferMarcacoes(), 0.0);
}

TEST_F(Status, TheTwoDigitYearFollowsTheHostsCenturySetting) {
  MockCZKEM& m = Conectado(1);
  HoraDoRelogio(m, 35, 3, 5, 7, 4, 9);
  host.RegionalDefine({OrdemData::DiaMesAno, 49});
  EXPECT_EQ(controle->ObterDataHoraRelogio(1), DataHora::DePartes(2035, 3, 5, 7, 4, 9));
  host.RegionalDefine({OrdemData::DiaMesAno, 29});
  EXPECT_EQ(controle->ObterDataHoraRelogio(1), DataHora::DePartes(1935, 3, 5, 7, 4, 9));
}

TEST_F(Status, GuardFirstAndNewRecordsDefaults) {
  EXPECT_EQ(Captura([&] { controle->ObterStatusRelogio(1); }).Numero(),
            erro::kRelogioNaoRegistrado);
  teste::ProibeChamadas(Registra(2));
  EXPECT_EQ(Captura([&] { controle->ObterStatusRelogio(2); }).Numero(), erro::kRelogioDesconectado);
  StatusRelogio novo;
  EXPECT_EQ(novo.NumeroMarcacoes(), 0);
  EXPECT_EQ(novo.DataHora(), DataHora());
  EXPECT_EQ(novo.VersaoFirmware(), "");
  EXPECT_EQ(novo.PercentualOcupacacaoBufferMarcacoes(), 0.0);
}

}  // namespace
}  // namespace quorvel
