// The exception environment of a guarded region of a run.
#include "util/sys/util_sys_exceptionenv.h"

qvl_CUtilExceptionEnv::qvl_CUtilExceptionEnv() : m_env(), m_saved(std::fegetenv(&m_env) == 0) {}

qvl_CUtilExceptionEnv::~qvl_CUtilExceptionEnv() {
  if (m_saved) std::fesetenv(&m_env);
}
