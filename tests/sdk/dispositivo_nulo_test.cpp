// The null device: what a backend that overrides only some operations gives for the rest.
#include "quorvel/sdk/dispositivo_nulo.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

// A backend that knows only its firmware.
class SoFirmware : public sdk::DispositivoNulo {
 public:
  bool SdkGetFirmwareVersion(int32_t, std::string& versao) override {
    versao = "1.0";
    return Sucesso();
  }
};

int32_t UltimoErro(CZKEM& d) {
  int32_t codigo = 12345;
  d.SdkGetLastError(codigo);
  return codigo;
}

TEST(DispositivoNulo, WhatIsNotOverriddenAnswersMinus100AndLeavesItsOutputsAlone) {
  SoFirmware d;
  EXPECT_EQ(UltimoErro(d), sdk::codigo::kSucesso);
  int32_t valor = 7;
  EXPECT_FALSE(d.SdkGetDeviceStatus(1, 6, valor));
  EXPECT_EQ(valor, 7);
  EXPECT_EQ(UltimoErro(d), sdk::codigo::kNaoSuportado);
  std::string versao;
  EXPECT_TRUE(d.SdkGetFirmwareVersion(1, versao));
  EXPECT_EQ(versao, "1.0");
  EXPECT_EQ(UltimoErro(d), sdk::codigo::kSucesso) << "a success of the backend clears it";
  std::string nsr = "n", pis = "p";
  int32_t a = 1, me = 2, di = 3, h = 4, mi = 5, s = 6;
  EXPECT_FALSE(d.SdkGetNextNsrLog(1, nsr, pis, a, me, di, h, mi, s));
  EXPECT_EQ(nsr + pis, "np");
  EXPECT_EQ(a + me + di + h + mi + s, 21);
  EXPECT_FALSE(d.SdkConnectNetwork("192.0.2.1", 4370));
  EXPECT_FALSE(d.SdkSetUserTemplateByTextId(1, "9", 1, 1, "x"));
  std::string convertido = "c";
  int32_t tamanho = 9;
  EXPECT_FALSE(d.SdkConvertTemplate("QUJDRA==", convertido, tamanho));
  EXPECT_EQ(convertido, "c");
  EXPECT_EQ(tamanho, 9);
  EXPECT_EQ(UltimoErro(d), sdk::codigo::kNaoSuportado);
  d.SdkDisconnect();  // nothing to close, nothing raised
}

}  // namespace
}  // namespace quorvel
