#include "support/mock_czkem.h"

namespace quorvel::teste {

using ::testing::_;

void ProibeChamadas(MockCZKEM& m) {
  EXPECT_CALL(m, SdkConnectNetwork).Times(0);
  EXPECT_CALL(m, SdkConnectSerial).Times(0);
  EXPECT_CALL(m, SdkDisconnect).Times(0);
  EXPECT_CALL(m, SdkGetLastError).Times(0);
  EXPECT_CALL(m, SdkEnableDevice).Times(0);
  EXPECT_CALL(m, SdkRefreshData).Times(0);
  EXPECT_CALL(m, SdkGetDeviceStatus).Times(0);
  EXPECT_CALL(m, SdkSetDeviceInfo).Times(0);
  EXPECT_CALL(m, SdkGetDeviceTime).Times(0);
  EXPECT_CALL(m, SdkSetDeviceTime).Times(0);
  EXPECT_CALL(m, SdkGetFirmwareVersion).Times(0);
  EXPECT_CALL(m, SdkGetSysOption).Times(0);
  EXPECT_CALL(m, SdkSetSysOption).Times(0);
  EXPECT_CALL(m, SdkRefreshOptions).Times(0);
  EXPECT_CALL(m, SdkSetDaylight).Times(0);
  EXPECT_CALL(m, SdkClearAllData).Times(0);
  EXPECT_CALL(m, SdkTestOperation).Times(0);
  EXPECT_CALL(m, SdkSetEmployer).Times(0);
  EXPECT_CALL(m, SdkReadAllLogs).Times(0);
  EXPECT_CALL(m, SdkGetNextLog).Times(0);
  EXPECT_CALL(m, SdkGetNextNsrLog).Times(0);
  EXPECT_CALL(m, SdkSetLogPointer).Times(0);
  EXPECT_CALL(m, SdkClearLogs).Times(0);
  EXPECT_CALL(m, SdkReadAllUserIds).Times(0);
  EXPECT_CALL(m, SdkSetUserInfo).Times(0);
  EXPECT_CALL(m, SdkGetNextUserInfo).Times(0);
  EXPECT_CALL(m, SdkSetUserInfoWithPis).Times(0);
  EXPECT_CALL(m, SdkGetNextUserInfoWithPis).Times(0);
  EXPECT_CALL(m, SdkQueryUserInfo).Times(0);
  EXPECT_CALL(m, SdkSetCardNumber).Times(0);
  EXPECT_CALL(m, SdkDeleteEnrollData).Times(0);
  EXPECT_CALL(m, SdkDeleteEnrollDataByTextId).Times(0);
  EXPECT_CALL(m, SdkGetUserTemplate).Times(0);
  EXPECT_CALL(m, SdkSetUserTemplate).Times(0);
  EXPECT_CALL(m, SdkDeleteUserTemplate).Times(0);
  EXPECT_CALL(m, SdkGetUserTemplateByTextId).Times(0);
  EXPECT_CALL(m, SdkSetUserTemplateByTextId).Times(0);
  EXPECT_CALL(m, SdkDeleteUserTemplateByTextId).Times(0);
  EXPECT_CALL(m, SdkConvertTemplate).Times(0);
}

}  // namespace quorvel::teste
