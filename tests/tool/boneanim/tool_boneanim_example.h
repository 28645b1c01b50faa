// The bundled walk example, converted by the built boneanim, for the tests of
// the programs that read its output.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/util/file/util_file_testdir.h"
#include "tests/util/file/util_file_testprogram.h"

namespace boneanim_test {

inline const std::string kExampleDir = std::string(QVL_SOURCE_DIR) + "/examples/walk";

// The example converted into dir/walk.kvt (text, packed when compress), with
// its job as dir/job.kvt; a failed conversion fails the test.
inline void ConvertExample(const qvl_TestDir& dir, bool compress) {
  std::string job = qvl_TestDir::ReadFile(kExampleDir + "/walk.job.kvt");
  const std::size_t at = job.find("compress false");
  ASSERT_NE(at, std::string::npos);
  if (compress) job.replace(at, 14, "compress true");
  qvl_TestDir::WriteFile(dir / "job.kvt", job);
  const qvl_TestOutcome r = qvl_TestRunProgram(
      QVL_BONEANIM_EXE, dir.Path(), {"job.kvt", "walk.kvt", "-refdir", kExampleDir, "-quiet", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

}  // namespace boneanim_test
