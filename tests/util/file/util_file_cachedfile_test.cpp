// Tests of the cached file: whole content, and failures reported with an empty stream.
#include "util/file/util_file_cachedfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/util/file/util_file_testdir.h"

namespace {

TEST(CachedFile, ReadsTheWholeFileIncludingZeroBytes) {
  qvl_TestDir dir;
  std::string bytes(std::size_t(3) << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 % 251);
  qvl_TestDir::WriteFile(dir / "in.bin", bytes);
  qvl_TestDir::WriteFile(dir / "empty", "");
  qvl_CUtilMsgHandler handler;
  qvl_CUtilMsgCollector collector;
  handler.RegisterBack(&collector);
  qvl_CUtilPtr<qvl_CUtilCachedFile> file(
      new qvl_CUtilCachedFile(&handler, "", "", (dir / "in.bin").c_str(), 10, -1));
  EXPECT_TRUE(file->IsValid());
  EXPECT_EQ(file->GetReadData(), bytes);
  EXPECT_EQ(file->GetPath(), (dir / "in.bin").c_str());
  qvl_CUtilPtr<qvl_CUtilCachedFile> empty(
      new qvl_CUtilCachedFile(&handler, "", "shown", (dir / "empty").c_str(), 10, -1));
  EXPECT_TRUE(empty->IsValid());
  EXPECT_EQ(empty->GetReadData().size(), 0u);
  EXPECT_EQ(empty->GetPath(), "shown");
  EXPECT_EQ(collector.GetEntries().size(), 0u);
}

TEST(CachedFile, FailuresAreLevelTwoNamingPathAndReason) {
  qvl_TestDir dir;
  std::filesystem::create_directory(dir / "adir");
  qvl_TestDir::WriteFile(dir / "big", "0123456789");
  // A named pipe without a writer would block a plain open for ever.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  struct Case {
    std::string path;
    std::int64_t maxSize;
    const char* id;
    const char* reason;
  };
  const Case cases[] = {
      {dir / "missing.kvt", -1, "util/file/util_file_cachedfile.open_failed", "No such file or directory"},
      {dir / "adir", -1, "util/file/util_file_cachedfile.open_failed", "Is a directory"},
      {dir / "big/x", -1, "util/file/util_file_cachedfile.open_failed", "Not a directory"},
      {dir / "big", 9, "util/file/util_file_cachedfile.too_large", "10 bytes"},
      {dir / "fifo", -1, "util/file/util_file_cachedfile.open_failed", "not a regular file"},
  };
  for (const Case& c : cases) {
    qvl_CUtilMsgHandler handler;
    qvl_CUtilMsgCollector collector;
    handler.RegisterBack(&collector);
    qvl_CUtilPtr<qvl_CUtilCachedFile> file(
        new qvl_CUtilCachedFile(&handler, "cfg", "", c.path.c_str(), 10, c.maxSize));
    EXPECT_FALSE(file->IsValid()) << c.path;
    EXPECT_EQ(file->GetReadData().size(), 0u) << c.path;
    ASSERT_EQ(collector.GetEntries().size(), 1u) << c.path;
    const auto& e = collector.GetEntries()[0];
    EXPECT_EQ(e.level, qvl_MsgLevelError);
    EXPECT_EQ(e.msg.GetId(), c.id);
    std::string line = qvl_MsgConsoleLine(e.level, e.msg);
    EXPECT_EQ(line.rfind("cfg: error: ", 0), 0u) << line;
    EXPECT_NE(line.find("\"" + c.path + "\""), std::string::npos) << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
  }
  EXPECT_THROW(qvl_CUtilCachedFile(nullptr, "", "", (dir / "missing").c_str(), 10, -1), qvl_CUtilMsg);
}

}  // namespace
