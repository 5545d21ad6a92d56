// A GoogleMock device SDK for exact call sequences, refusals and failures.
#pragma once

#include <gmock/gmock.h>

#include "quorvel/sdk/czkem.h"

namespace quorvel::teste {

class MockCZKEM : public CZKEM {
 public:
  MOCK_METHOD(bool, SdkConnectNetwork, (const std::string&, int32_t), (override));
  MOCK_METHOD(bool, SdkConnectSerial, (int32_t, int32_t, int32_t), (override));
  MOCK_METHOD(void, SdkDisconnect, (), (override));
  MOCK_METHOD(void, SdkGetLastError, (int32_t&), (override));
  MOCK_METHOD(bool, SdkEnableDevice, (int32_t, bool), (override));
  MOCK_METHOD(bool, SdkRefreshData, (int32_t), (override));
  MOCK_METHOD(bool, SdkGetDeviceStatus, (int32_t, int32_t, int32_t&), (override));
  MOCK_METHOD(bool, SdkSetDeviceInfo, (int32_t, int32_t, int32_t), (override));
  MOCK_METHOD(bool, SdkGetDeviceTime,
              (int32_t, int32_t&, int32_t&, int32_t&, int32_t&, int32_t&, int32_t&), (override));
  MOCK_METHOD(bool, SdkSetDeviceTime,
              (int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t), (override));
  MOCK_METHOD(bool, SdkGetFirmwareVersion, (int32_t, std::string&), (override));
  MOCK_METHOD(bool, SdkGetDeviceModel, (int32_t, int32_t&), (override));
  MOCK_METHOD(bool, SdkGetSysOption, (int32_t, const std::string&, std::string&), (override));
  MOCK_METHOD(bool, SdkSetSysOption, (int32_t, const std::string&, const std::string&), (override));
  MOCK_METHOD(bool, SdkRefreshOptions, (int32_t), (override));
  MOCK_METHOD(bool, SdkSetDaylight, (int32_t, int32_t, const std::string&, const std::string&),
              (override));
  MOCK_METHOD(bool, SdkClearAllData, (int32_t), (override));
  MOCK_METHOD(bool, SdkTestOperation, (int32_t), (override));
  MOCK_METHOD(bool, SdkSetEmployer,
              (int32_t, const std::string&, int32_t, const std::string&, const std::string&,
               const std::string&),
              (override));
  MOCK_METHOD(bool, SdkReadAllLogs, (int32_t), (override));
  MOCK_METHOD(bool, SdkGetNextLog, (int32_t, int32_t&, int32_t&, int32_t&, std::string&),
              (override));
  MOCK_METHOD(bool, SdkGetNextNsrLog,
              (int32_t, std::string&, std::string&, int32_t&, int32_t&, int32_t&, int32_t&,
               int32_t&, int32_t&),
              (override));
  MOCK_METHOD(bool, SdkSetLogPointer, (int32_t, int32_t), (override));
  MOCK_METHOD(bool, SdkClearLogs, (int32_t), (override));
  MOCK_METHOD(bool, SdkReadAllUserIds, (int32_t), (override));
  MOCK_METHOD(bool, SdkSetUserInfo,
              (int32_t, int32_t, const std::string&, const std::string&, int32_t, bool),
              (override));
  MOCK_METHOD(bool, SdkGetNextUserInfo,
              (int32_t, int32_t&, std::string&, std::string&, int32_t&, bool&), (override));
  MOCK_METHOD(bool, SdkSetUserInfoWithPis,
              (int32_t, const std::string&, const std::string&, const std::string&, int32_t, bool,
               const std::string&, const std::string&),
              (override));
  MOCK_METHOD(bool, SdkGetNextUserInfoWithPis,
              (int32_t, std::string&, std::string&, std::string&, int32_t&, bool&, std::string&,
               std::string&),
              (override));
  MOCK_METHOD(bool, SdkQueryUserInfo, (int32_t, std::string&, std::string&, int32_t&, bool&),
              (override));
  MOCK_METHOD(bool, SdkSetCardNumber, (const std::string&), (override));
  MOCK_METHOD(bool, SdkDeleteEnrollData, (int32_t, int32_t, int32_t, int32_t), (override));
  MOCK_METHOD(bool, SdkDeleteEnrollDataByTextId, (int32_t, const std::string&, int32_t),
              (override));
  MOCK_METHOD(bool, SdkGetUserTemplate, (int32_t, int32_t, int32_t, std::string&, int32_t&),
              (override));
  MOCK_METHOD(bool, SdkSetUserTemplate, (int32_t, int32_t, int32_t, const std::string&),
              (override));
  MOCK_METHOD(bool, SdkDeleteUserTemplate, (int32_t, int32_t, int32_t), (override));
  MOCK_METHOD(bool, SdkGetUserTemplateByTextId,
              (int32_t, const std::string&, int32_t, int32_t&, std::string&, int32_t&), (override));
  MOCK_METHOD(bool, SdkSetUserTemplateByTextId,
              (int32_t, const std::string&, int32_t, int32_t, const std::string&), (override));
  MOCK_METHOD(bool, SdkDeleteUserTemplateByTextId, (int32_t, const std::string&, int32_t),
              (override));
  MOCK_METHOD(bool, SdkConvertTemplate, (const std::string&, std::string&, int32_t&), (override));
};

// Forbids every device call on `m` (a test that must prove "no device call").
void ProibeChamadas(MockCZKEM& m);

}  // namespace quorvel::teste
