// Shared test scaffolding of the boneanim tests: a pool, a handler with a
// message collector, reports flattened to comparable lines, and temporary
// directories with files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

  // Every report as "LEVEL ID | info0 | info1 | ...".
  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    for (const auto& e : collector.GetEntries()) out.push_back(Line(e.level, e.msg));
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
  static std::string Line(int level, const qvl_CUtilMsg& msg) {
    std::string s = std::to_string(level) + " " + msg.GetId().GetChars();
    for (int i = 0; i < msg.GetInfoCnt(); ++i) s += std::string(" | ") + msg.GetInfo(i).GetChars();
    return s;
  }
};

// A fresh directory under the system's temporary directory, removed again
// when the holder goes.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("qvl_calc_") + (info ? info->name() : "x") + "_" +
                       std::to_string(::getpid()) + "_" + std::to_string(counter++);
    m_path = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path() const { return m_path.string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::filesystem::path p = m_path / name;
    std::ofstream out(p, std::ios::binary);
    out << text;
    return p.string();
  }

 private:
  std::filesystem::path m_path;
};

}  // namespace boneanim_test
