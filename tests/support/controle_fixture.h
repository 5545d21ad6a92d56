// A control on virtual time whose clocks are GoogleMock devices.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "quorvel/comunicacao_zk.h"
#include "quorvel/virtual_host.h"
#include "support/mock_czkem.h"

namespace quorvel::teste {

// The GoogleMock names the control's tests use, so a test file says `using namespace teste;`.
using ::testing::_;
using ::testing::DoAll;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::Throw;

// The description layout, for expectations.
inline std::string Descricao(const std::string& mensagem, const std::string& classe,
                             const std::string& metodo) {
  return mensagem + "\r\nClasse: " + classe + "\r\nMétodo: " + metodo;
}

// What a method that wraps every failure says when it met a disconnected clock: the unknown
// error around the disconnected clock's own.
inline std::string DescricaoDesconectadoEmbrulhada(int relogio, const std::string& metodo) {
  return Descricao("Ocorreu um erro desconhecido! - " +
                       Descricao("O relógio " + std::to_string(relogio) +
                                     " está desconectado. A operação desejada não poderá ser "
                                     "realizada.",
                                 "ComunicacaoZK", "GeraExcessaoSeRelogioDesconectado"),
                   "ComunicacaoZK", metodo);
}

// Runs `f`, expecting an Erro; returns it.
template <class F>
Erro Captura(F&& f) {
  try {
    f();
  } catch (const Erro& e) {
    return e;
  }
  ADD_FAILURE() << "nenhum erro foi lançado";
  return Erro(0, "");
}

// The clock's date and time as its six numbers, for every read of it.
inline void HoraDoRelogio(MockCZKEM& m, int32_t a, int32_t me, int32_t d, int32_t h, int32_t mi,
                          int32_t s) {
  ON_CALL(m, SdkGetDeviceTime)
      .WillByDefault(DoAll(SetArgReferee<1>(a), SetArgReferee<2>(me), SetArgReferee<3>(d),
                           SetArgReferee<4>(h), SetArgReferee<5>(mi), SetArgReferee<6>(s),
                           Return(true)));
}

class ControleTeste : public ::testing::Test {
 protected:
  ControleTeste() {
    controle = std::make_unique<ComunicacaoZK>(host, [this] {
      auto m = std::make_shared<::testing::NiceMock<MockCZKEM>>();
      sdks.push_back(m);
      return m;
    });
  }
  ~ControleTeste() override {
    for (auto& m : sdks) ::testing::Mock::VerifyAndClearExpectations(m.get());
    controle.reset();
  }

  // Registers a network clock; its SDK object is the last one made.
  MockCZKEM& Registra(int16_t codigo, EModeloRelogio modelo = EModeloRelogio_Quorvel) {
    controle->AddRelogioIP(codigo, "192.0.2." + std::to_string(codigo), modelo);
    return *sdks.back();
  }

  // Registers a clock and connects it through the connection timer; expectations and the
  // host's journal start clean afterwards.
  MockCZKEM& Conectado(int16_t codigo, EModeloRelogio modelo = EModeloRelogio_Quorvel) {
    MockCZKEM& m = Registra(codigo, modelo);
    ON_CALL(m, SdkConnectNetwork).WillByDefault(::testing::Return(true));
    controle->ConectarRelogio(codigo);
    host.Avanca(100);
    ::testing::Mock::VerifyAndClearExpectations(&m);
    host.Diario().clear();
    return m;
  }

  VirtualHost host;
  std::vector<std::shared_ptr<::testing::NiceMock<MockCZKEM>>> sdks;
  std::unique_ptr<ComunicacaoZK> controle;
};

}  // namespace quorvel::teste
