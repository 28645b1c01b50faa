// Tests of the path helpers: completion, alignment and directory creation.
#include "util/file/util_file_filesystem.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/util/file/util_file_testdir.h"

namespace {

std::string Cwd() {
  return std::filesystem::current_path().string();
}

TEST(Filesystem, CompletePathOfAbsolutePaths) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"/", "/"},
      {"/a/b/c.kvt", "/a/b/c.kvt"},
      {"/a/./b//c/", "/a/b/c"},
      {"/a/b/../c", "/a/c"},
      {"/../..", "/"},
      {"/a/../../b", "/b"},
      {"\\data\\anim\\..\\walk.kvt", "/data/walk.kvt"},
      {"/a\\b/.\\c", "/a/b/c"},
      {"/a/b/..", "/a"},
      {"/a/..b/c..", "/a/..b/c.."},
      {"/a/.../b", "/a/.../b"},
  };
  for (const Case& c : cases) EXPECT_EQ(qvl_CUtilFilesystem::GetCompletePath(c.in), c.out) << c.in;
}

TEST(Filesystem, CompletePathOfRelativePathsStartsAtTheCurrentDirectory) {
  const std::string cwd = Cwd();
  const std::string parent = std::filesystem::path(cwd).parent_path().string();
  EXPECT_EQ(qvl_CUtilFilesystem::GetCompletePath(""), cwd.c_str());
  EXPECT_EQ(qvl_CUtilFilesystem::GetCompletePath("."), cwd.c_str());
  EXPECT_EQ(qvl_CUtilFilesystem::GetCompletePath("a/b.kvt"), (cwd + "/a/b.kvt").c_str());
  EXPECT_EQ(qvl_CUtilFilesystem::GetCompletePath("a\\..\\b.kvt"), (cwd + "/b.kvt").c_str());
  EXPECT_EQ(qvl_CUtilFilesystem::GetCompletePath(".."), parent.c_str());
  std::string up;
  for (int i = 0; i < 64; ++i) up += "../";
  EXPECT_EQ(qvl_CUtilFilesystem::GetCompletePath((up + "x").c_str()), "/x");
}

TEST(Filesystem, CompletePathDoesNotResolveLinks) {
  qvl_TestDir dir;
  std::filesystem::create_directory(dir / "real");
  std::filesystem::create_directory_symlink(dir / "real", dir / "link");
  std::string in = dir / "link/../f";
  EXPECT_EQ(qvl_CUtilFilesystem::GetCompletePath(in.c_str()), (dir / "f").c_str());
}

TEST(Filesystem, AlignedPath) {
  struct Case {
    const char* base;
    const char* path;
    const char* out;
  };
  const Case cases[] = {
      {"/ref", "", ""},
      {"", "", ""},
      {"/ref", "anim/walk.kvt", "/ref/anim/walk.kvt"},
      {"/ref/", "./anim//walk.kvt", "/ref/anim/walk.kvt"},
      {"/ref/sub", "../walk.kvt", "/ref/walk.kvt"},
      {"/ref", "../../../walk.kvt", "/walk.kvt"},
      {"/ref", "/abs/./x/../walk.kvt", "/abs/walk.kvt"},
      {"/ref", "\\abs\\walk.kvt", "/abs/walk.kvt"},
      {"C:\\ref", "anim\\walk.kvt", "C:/ref/anim/walk.kvt"},
      {"rel", "../../walk.kvt", "../walk.kvt"},
      {"", "a/./b", "a/b"},
      {"rel", "..", "."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qvl_CUtilFilesystem::GetAlignedPath(c.base, c.path), c.out) << c.base << " + " << c.path;
  }
}

TEST(Filesystem, CreateFileDirRecMakesMissingDirectories) {
  qvl_TestDir dir;
  qvl_CUtilMsgHandler handler;
  qvl_CUtilMsgCollector collector;
  handler.RegisterBack(&collector);
  EXPECT_TRUE(qvl_CUtilFilesystem::CreateFileDirRec(&handler, "", (dir / "a/b/c/out.kvt").c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a/b/c/out.kvt"));
  EXPECT_TRUE(qvl_CUtilFilesystem::CreateFileDirRec(&handler, "", (dir / "a/b/c/out.kvt").c_str()));
  EXPECT_TRUE(qvl_CUtilFilesystem::CreateFileDirRec(&handler, "", (dir / "top.kvt").c_str()));
  EXPECT_EQ(collector.GetEntries().size(), 0u);

  qvl_TestDir::WriteFile(dir / "file", "x");
  EXPECT_FALSE(qvl_CUtilFilesystem::CreateFileDirRec(&handler, "ctx", (dir / "file/sub/out.kvt").c_str()));
  ASSERT_EQ(collector.GetEntries().size(), 1u);
  const auto& e = collector.GetEntries()[0];
  EXPECT_EQ(e.level, qvl_MsgLevelError);
  EXPECT_EQ(qvl_MsgConsoleLine(e.level, e.msg),
            "ctx: error: Cannot create the directory \"" + (dir / "file") +
                "\": Not a directory. [util/file/util_file_filesystem.create_dir_failed]");
  EXPECT_FALSE(std::filesystem::exists(dir / "file/sub"));
}

}  // namespace
