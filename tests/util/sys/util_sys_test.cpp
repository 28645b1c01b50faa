// Tests of the system functions: the build check and the exception environment.
#include <gtest/gtest.h>

#include <cfenv>

#include "util/sys/util_sys_exceptionenv.h"
#include "util/sys/util_sys_version.h"

namespace {

TEST(SysVersionCheck, MatchingTagPassesSilentlyAndAMismatchWarns) {
  testing::internal::CaptureStderr();
  EXPECT_TRUE(qvl_SysVersionCheckWith("tool/x", "quorvel_c164x12u_fwin32vc7x1release"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(qvl_SysVersionCheckWith("tool/x", "other_tag"));
  EXPECT_FALSE(qvl_SysVersionCheckWith(nullptr, nullptr));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("tool/x: warning: built for runtime \"other_tag\"", 0), 0u) << err;
}

TEST(ExceptionEnv, RestoresTheFloatingPointEnvironmentOnEveryWayOut) {
  const int mode = std::fegetround();
  {
    qvl_CUtilExceptionEnv env;
    std::fesetround(FE_UPWARD);
  }
  EXPECT_EQ(std::fegetround(), mode);
  try {
    qvl_CUtilExceptionEnv env;
    std::fesetround(FE_TOWARDZERO);
    throw 1;
  } catch (int) {
  }
  EXPECT_EQ(std::fegetround(), mode);
}

}  // namespace
