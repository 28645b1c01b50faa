// Shared test scaffolding of the boneanim tests: a pool, a handler with a
// message collector, reports flattened to comparable lines, and a run of the
// built program.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/util/file/util_file_testprogram.h"
#include "util/mempool/util_mempool_pool.h"
#include "util/msg/util_msg_handler.h"

namespace boneanim_test {

struct Env {
  qvl_CUtilPtr<qvl_CUtilMemPool> pool{new qvl_CUtilMemPool()};
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler{new qvl_CUtilMsgHandler()};
  qvl_CUtilMsgCollector collector;

  Env() { handler->RegisterBack(&collector); }
  ~Env() { handler->Unregister(&collector); }
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // Every report as "LEVEL ID | info0 | info1 | ..."; firstInfo 1 leaves out
  // the context.
  std::vector<std::string> Lines(int firstInfo = 0) const {
    std::vector<std::string> out;
    for (const auto& e : collector.GetEntries()) out.push_back(Line(e.level, e.msg, firstInfo));
    return out;
  }
  // The ids of every report, in order, without the common prefix of the calculation.
  std::vector<std::string> Ids() const {
    std::vector<std::string> out;
    const std::string prefix = "tool/boneanim/tool_boneanim_calc.";
    for (const auto& e : collector.GetEntries()) {
      std::string id = e.msg.GetId().GetChars();
      if (id.rfind(prefix, 0) == 0) id = id.substr(prefix.size());
      out.push_back(std::to_string(e.level) + " " + id);
    }
    return out;
  }
  static std::string Line(int level, const qvl_CUtilMsg& msg, int firstInfo = 0) {
    std::string s = std::to_string(level) + " " + msg.GetId().GetChars();
    for (int i = firstInfo; i < msg.GetInfoCnt(); ++i) s += std::string(" | ") + msg.GetInfo(i).GetChars();
    return s;
  }
};

// Runs the built boneanim program in cwd; see qvl_TestRunProgram.
inline qvl_TestOutcome RunBoneAnim(const std::string& cwd, const std::vector<std::string>& args,
                                   unsigned long long addressLimit = 0) {
  return qvl_TestRunProgram(QVL_BONEANIM_EXE, cwd, args, addressLimit);
}

}  // namespace boneanim_test
