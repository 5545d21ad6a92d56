// A device that supports nothing: the base of a new backend, which overrides only what its
// clocks support.
#pragma once

#include <cstdint>
#include <string>

#include "quorvel/sdk/czkem.h"

namespace quorvel::sdk {

// Every operation answers false with last error codigo::kNaoSuportado (-100), leaving its
// out-parameters as they were; SdkDisconnect does nothing; SdkGetLastError reports the last
// code set. A derived backend records its own refusals with Recusa and its successes with
// Sucesso, so SdkGetLastError stays right whichever class answered.
class DispositivoNulo : public CZKEM {
 public:
  bool SdkConnectNetwork(const std::string&, int32_t) override { return NaoSuporta(); }
  bool SdkConnectSerial(int32_t, int32_t, int32_t) override { return NaoSuporta(); }
  void SdkDisconnect() override {}
  void SdkGetLastError(int32_t& codigo) override { codigo = ultimoErro_; }

  bool SdkEnableDevice(int32_t, bool) override { return NaoSuporta(); }
  bool SdkRefreshData(int32_t) override { return NaoSuporta(); }
  bool SdkGetDeviceStatus(int32_t, int32_t, int32_t&) override { return NaoSuporta(); }
  bool SdkSetDeviceInfo(int32_t, int32_t, int32_t) override { return NaoSuporta(); }
  bool SdkGetDeviceTime(int32_t, int32_t&, int32_t&, int32_t&, int32_t&, int32_t&,
                        int32_t&) override {
    return NaoSuporta();
  }
  bool SdkSetDeviceTime(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {
    return NaoSuporta();
  }
  bool SdkGetFirmwareVersion(int32_t, std::string&) override { return NaoSuporta(); }
  bool SdkGetDeviceModel(int32_t, int32_t&) override { return NaoSuporta(); }
  bool SdkGetSysOption(int32_t, const std::string&, std::string&) override { return NaoSuporta(); }
  bool SdkSetSysOption(int32_t, const std::string&, const std::string&) override {
    return NaoSuporta();
  }
  bool SdkRefreshOptions(int32_t) override { return NaoSuporta(); }
  bool SdkSetDaylight(int32_t, int32_t, const std::string&, const std::string&) override {
    return NaoSuporta();
  }
  bool SdkClearAllData(int32_t) override { return NaoSuporta(); }
  bool SdkTestOperation(int32_t) override { return NaoSuporta(); }
  bool SdkSetEmployer(int32_t, const std::string&, int32_t, const std::string&, const std::string&,
                      const std::string&) override {
    return NaoSuporta();
  }

  bool SdkReadAllLogs(int32_t) override { return NaoSuporta(); }
  bool SdkGetNextLog(int32_t, int32_t&, int32_t&, int32_t&, std::string&) override {
    return NaoSuporta();
  }
  bool SdkGetNextNsrLog(int32_t, std::string&, std::string&, int32_t&, int32_t&, int32_t&, int32_t&,
                        int32_t&, int32_t&) override {
    return NaoSuporta();
  }
  bool SdkSetLogPointer(int32_t, int32_t) override { return NaoSuporta(); }
  bool SdkClearLogs(int32_t) override { return NaoSuporta(); }

  bool SdkReadAllUserIds(int32_t) override { return NaoSuporta(); }
  bool SdkSetUserInfo(int32_t, int32_t, const std::string&, const std::string&, int32_t,
                      bool) override {
    return NaoSuporta();
  }
  bool SdkGetNextUserInfo(int32_t, int32_t&, std::string&, std::string&, int32_t&, bool&) override {
    return NaoSuporta();
  }
  bool SdkSetUserInfoWithPis(int32_t, const std::string&, const std::string&, const std::string&,
                             int32_t, bool, const std::string&, const std::string&) override {
    return NaoSuporta();
  }
  bool SdkGetNextUserInfoWithPis(int32_t, std::string&, std::string&, std::string&, int32_t&, bool&,
                                 std::string&, std::string&) override {
    return NaoSuporta();
  }
  bool SdkQueryUserInfo(int32_t, std::string&, std::string&, int32_t&, bool&) override {
    return NaoSuporta();
  }
  bool SdkSetCardNumber(const std::string&) override { return NaoSuporta(); }
  bool SdkDeleteEnrollData(int32_t, int32_t, int32_t, int32_t) override { return NaoSuporta(); }
  bool SdkDeleteEnrollDataByTextId(int32_t, const std::string&, int32_t) override {
    return NaoSuporta();
  }
  bool SdkGetUserTemplate(int32_t, int32_t, int32_t, std::string&, int32_t&) override {
    return NaoSuporta();
  }
  bool SdkSetUserTemplate(int32_t, int32_t, int32_t, const std::string&) override {
    return NaoSuporta();
  }
  bool SdkDeleteUserTemplate(int32_t, int32_t, int32_t) override { return NaoSuporta(); }
  bool SdkGetUserTemplateByTextId(int32_t, const std::string&, int32_t, int32_t&, std::string&,
                                  int32_t&) override {
    return NaoSuporta();
  }
  bool SdkSetUserTemplateByTextId(int32_t, const std::string&, int32_t, int32_t,
                                  const std::string&) override {
    return NaoSuporta();
  }
  bool SdkDeleteUserTemplateByTextId(int32_t, const std::string&, int32_t) override {
    return NaoSuporta();
  }
  bool SdkConvertTemplate(const std::string&, std::string&, int32_t&) override {
    return NaoSuporta();
  }

 protected:
  bool Sucesso() {
    ultimoErro_ = codigo::kSucesso;
    return true;
  }
  bool Recusa(int32_t codigo) {
    ultimoErro_ = codigo;
    return false;
  }
  bool NaoSuporta() { return Recusa(codigo::kNaoSuportado); }

 private:
  int32_t ultimoErro_ = codigo::kSucesso;
};

}  // namespace quorvel::sdk
