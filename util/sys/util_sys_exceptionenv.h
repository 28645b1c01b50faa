// The exception environment of a guarded region of a run.
#pragma once

#include <cfenv>

// A scope object: while it lives, the guarded code may change the
// floating-point environment (rounding mode, exception flags); when it is
// destroyed, normally or while an exception passes, the environment it found
// is restored. It has no effect beyond its scope.
class qvl_CUtilExceptionEnv {
 public:
  qvl_CUtilExceptionEnv();
  ~qvl_CUtilExceptionEnv();
  qvl_CUtilExceptionEnv(const qvl_CUtilExceptionEnv&) = delete;
  qvl_CUtilExceptionEnv& operator=(const qvl_CUtilExceptionEnv&) = delete;

 private:
  std::fenv_t m_env;
  bool m_saved;
};
