// Tests of the destination file: final only when closed, never half-written.
#include "util/file/util_file_destfile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/util/file/util_file_testdir.h"

namespace {

struct Fixture {
  qvl_TestDir dir;
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler{new qvl_CUtilMsgHandler()};
  qvl_CUtilMsgCollector collector;
  Fixture() { handler->RegisterBack(&collector); }

  qvl_CUtilPtr<qvl_CUtilDestFile> Open(const std::string& path) {
    return qvl_CUtilPtr<qvl_CUtilDestFile>(
        new qvl_CUtilDestFile(handler.Get(), "", "", path.c_str(), true, -1));
  }
  std::string Ids() const {
    std::string ids;
    for (const auto& e : collector.GetEntries()) ids += std::string(e.msg.GetId().GetChars()) + ";";
    return ids;
  }
};

TEST(DestFile, ClosedFileHoldsExactlyTheBytesWrittenInPieces) {
  Fixture f;
  const std::string dest = f.dir / "out.kvt";
  std::string expected;
  {
    auto file = f.Open(dest);
    // Pieces smaller and larger than the buffer, so that both paths are taken.
    for (int i = 0; i < 300; ++i) {
      std::string piece(static_cast<std::size_t>(1 + (i * 7919) % 20000), static_cast<char>('a' + i % 26));
      if (i == 150) piece.assign(std::size_t(3) << 20, 'Z');
      expected += piece;
      EXPECT_TRUE(file->Write(piece.data(), piece.size()));
    }
    EXPECT_FALSE(std::filesystem::exists(dest)) << "the destination must not appear before Close";
    EXPECT_TRUE(file->Close());
    EXPECT_TRUE(file->Close()) << "a second Close repeats the first result";
    EXPECT_EQ(file->GetPath(), dest.c_str());
  }
  EXPECT_EQ(qvl_TestDir::ReadFile(dest), expected);
  EXPECT_EQ(f.dir.List(), std::vector<std::string>{"out.kvt"});
  EXPECT_EQ(f.Ids(), "");
}

TEST(DestFile, ClosingReplacesAnOlderFileAndEmptyOutputIsAFile) {
  Fixture f;
  const std::string dest = f.dir / "out.kvt";
  qvl_TestDir::WriteFile(dest, "old content");
  {
    auto file = f.Open(dest);
    EXPECT_TRUE(file->Close());
  }
  EXPECT_TRUE(std::filesystem::exists(dest));
  EXPECT_EQ(qvl_TestDir::ReadFile(dest), "");
}

TEST(DestFile, TheLongestFileNameStillGetsATemporaryFile) {
  Fixture f;
  const std::string dest = f.dir / std::string(255, 'n');
  {
    auto file = f.Open(dest);
    EXPECT_TRUE(file->Write("abc", 3));
    EXPECT_TRUE(file->Close());
  }
  EXPECT_EQ(qvl_TestDir::ReadFile(dest), "abc");
  EXPECT_EQ(f.dir.List().size(), 1u);
}

TEST(DestFile, ReleasedWithoutCloseLeavesTheDestinationAsItWas) {
  Fixture f;
  const std::string absent = f.dir / "absent.kvt";
  const std::string older = f.dir / "older.kvt";
  qvl_TestDir::WriteFile(older, "older bytes");
  {
    auto a = f.Open(absent);
    auto b = f.Open(older);
    std::string big(std::size_t(2) << 20, 'x');  // beyond the buffer: bytes reach the temporary file
    EXPECT_TRUE(a->Write(big.data(), big.size()));
    EXPECT_TRUE(b->Write(big.data(), big.size()));
    EXPECT_EQ(f.dir.List().size(), 3u) << "two temporary files beside the older file";
  }
  EXPECT_FALSE(std::filesystem::exists(absent));
  EXPECT_EQ(qvl_TestDir::ReadFile(older), "older bytes");
  EXPECT_EQ(f.dir.List(), std::vector<std::string>{"older.kvt"}) << "no temporary file is left";
  EXPECT_EQ(f.Ids(), "");
}

TEST(DestFile, FailuresToCreateAreReportedNamingThePath) {
  Fixture f;
  qvl_TestDir::WriteFile(f.dir / "afile", "x");
  std::filesystem::create_directory(f.dir / "adir");
  const std::string cases[] = {f.dir / "afile/out.kvt", f.dir / "missing/out.kvt", f.dir / "adir"};
  for (const std::string& dest : cases) {
    f.collector.Clear();
    {
      auto file = f.Open(dest);
      EXPECT_FALSE(file->Write("abc", 3)) << dest;
      EXPECT_FALSE(file->Close()) << dest;
    }
    ASSERT_EQ(f.collector.GetEntries().size(), 1u) << dest;
    const auto& e = f.collector.GetEntries()[0];
    EXPECT_EQ(e.level, qvl_MsgLevelError);
    EXPECT_EQ(e.msg.GetId(), "util/file/util_file_destfile.create_failed");
    std::string line = qvl_MsgConsoleLine(e.level, e.msg);
    EXPECT_NE(line.find(dest), std::string::npos) << line;
  }
  EXPECT_EQ(qvl_TestDir::ReadFile(f.dir / "afile"), "x");
  EXPECT_TRUE(std::filesystem::is_directory(f.dir / "adir"));
  EXPECT_EQ(f.dir.List(), (std::vector<std::string>{"adir", "afile"}));
}

TEST(DestFile, UnwritableDirectoryIsReported) {
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes into any directory";
  Fixture f;
  std::filesystem::create_directory(f.dir / "ro");
  std::filesystem::permissions(f.dir / "ro",
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  {
    auto file = f.Open(f.dir / "ro/out.kvt");
    EXPECT_FALSE(file->Close());
  }
  EXPECT_EQ(f.Ids(), "util/file/util_file_destfile.create_failed;");
  std::filesystem::permissions(f.dir / "ro", std::filesystem::perms::owner_all);
}

TEST(DestFile, AWriteFailureIsReportedOnceAndLeavesNothingBehind) {
  Fixture f;
  const std::string dest = f.dir / "out.kvt";
  qvl_TestDir::WriteFile(dest, "keep");
  // The file-size limit makes the system refuse the bytes past it, as a full disk would.
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit lim = old;
  lim.rlim_cur = 4096;
  // No SIGXFSZ handling here: the destination file ignores the signal itself,
  // so the write fails with EFBIG instead of ending the process.
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
  bool firstWrite = false, laterWrite = true, closed = true;
  {
    auto file = f.Open(dest);
    std::string big(std::size_t(3) << 20, 'y');
    firstWrite = file->Write(big.data(), big.size());
    laterWrite = file->Write("z", 1);
    closed = file->Close();
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(firstWrite);
  EXPECT_FALSE(laterWrite);
  EXPECT_FALSE(closed);
  EXPECT_EQ(f.Ids(), "util/file/util_file_destfile.write_failed;");
  EXPECT_EQ(qvl_TestDir::ReadFile(dest), "keep");
  EXPECT_EQ(f.dir.List(), std::vector<std::string>{"out.kvt"});
}

TEST(DestFile, SizeLimitAndNoReplaceAreReported) {
  Fixture f;
  const std::string dest = f.dir / "out.kvt";
  {
    qvl_CUtilPtr<qvl_CUtilDestFile> file(
        new qvl_CUtilDestFile(f.handler.Get(), "ctx", "", dest.c_str(), true, 4));
    EXPECT_TRUE(file->Write("abcd", 4));
    EXPECT_FALSE(file->Write("e", 1));
    EXPECT_FALSE(file->Close());
  }
  qvl_TestDir::WriteFile(dest, "older");
  {
    qvl_CUtilPtr<qvl_CUtilDestFile> file(
        new qvl_CUtilDestFile(f.handler.Get(), "", "", dest.c_str(), false, -1));
    EXPECT_TRUE(file->Write("new", 3));
    EXPECT_FALSE(file->Close());
  }
  EXPECT_EQ(f.Ids(), "util/file/util_file_destfile.too_large;util/file/util_file_destfile.rename_failed;");
  EXPECT_EQ(f.collector.GetEntries()[0].msg.GetContext(), "ctx");
  EXPECT_EQ(qvl_TestDir::ReadFile(dest), "older");
  EXPECT_EQ(f.dir.List(), std::vector<std::string>{"out.kvt"});
}

// The replacement keeps the mode (and, as root, the owner) of the file it
// replaces; a new file gets the umask's mode.
TEST(DestFile, AReplacedFileKeepsItsModeAndOwner) {
  Fixture f;
  const bool root = ::geteuid() == 0;
  const mode_t mask = ::umask(027);
  for (mode_t mode : {0640, 0444, 0751, 0}) {  // 0: no older file
    const std::string dest = f.dir / ("m" + std::to_string(mode));
    if (mode) qvl_TestDir::WriteFile(dest, "old");
    ASSERT_TRUE(!mode ||
                (::chmod(dest.c_str(), mode) == 0 && (!root || ::chown(dest.c_str(), 4321, 8765) == 0)));
    EXPECT_TRUE(f.Open(dest)->Close()) << mode;
    struct stat st;
    ASSERT_EQ(::stat(dest.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode ? mode : 0640u);
    EXPECT_TRUE(!root || !mode || (st.st_uid == 4321 && st.st_gid == 8765)) << mode;
  }
  ::umask(mask);
  EXPECT_EQ(f.Ids(), "");
}

// A set closes together or not at all: a destination that became a
// directory, a name too long for the file system, or a rename that fails
// after others went through leaves every destination as it was.
TEST(DestFile, ASetBecomesFinalTogetherOrNotAtAll) {
  enum Fault { kNone, kDirectory, kLongName, kRenameFails };
  for (Fault fault : {kNone, kDirectory, kLongName, kRenameFails}) {
    Fixture f;
    qvl_TestDir::WriteFile(f.dir / "b", "old b");
    // a new, b replaced, then the file the fault is in, then another new one.
    const std::string names[] = {"a", "b", fault == kLongName ? std::string(256, 'n') : "c", "e"};
    std::vector<qvl_CUtilPtr<qvl_CUtilDestFile>> files;
    std::vector<qvl_CUtilDestFile*> raw;
    for (const std::string& n : names) {
      files.push_back(f.Open(f.dir / n));
      raw.push_back(files.back().Get());
      EXPECT_TRUE(raw.back()->Write(n.data(), 1));
      if (n == "b") continue;  // left for CloseAll to seal
      EXPECT_TRUE(raw.back()->Seal()) << n;
      EXPECT_FALSE(raw.back()->Write("x", 1)) << "a sealed file takes no more bytes";
    }
    if (fault == kDirectory) std::filesystem::create_directory(f.dir / "c");
    if (fault == kRenameFails) ::unlink(raw[2]->GetTempPath().c_str());
    EXPECT_EQ(qvl_CUtilDestFile::CloseAll(raw.data(), raw.size()), fault == kNone) << fault;
    EXPECT_EQ(raw[0]->Close(), fault == kNone) << "a closed set stays as it ended";
    files.clear();
    if (fault == kNone) {
      EXPECT_EQ(f.dir.List(), (std::vector<std::string>{"a", "b", "c", "e"}));
      EXPECT_EQ(qvl_TestDir::ReadFile(f.dir / "b") + qvl_TestDir::ReadFile(f.dir / "e"), "be");
      EXPECT_EQ(f.Ids(), "");
    } else {
      EXPECT_EQ(f.dir.List(),
                fault == kDirectory ? (std::vector<std::string>{"b", "c"}) : std::vector<std::string>{"b"})
          << fault;
      EXPECT_EQ(qvl_TestDir::ReadFile(f.dir / "b"), "old b") << fault;
      EXPECT_EQ(f.Ids(), "util/file/util_file_destfile.rename_failed;") << fault;
    }
  }
}

// A signal removes every temporary file that exists, however many.
TEST(DestFile, ASignalRemovesEveryTemporaryFile) {
  qvl_TestDir dir;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGTERM, SIG_DFL);
    std::vector<qvl_CUtilDestFile*> open;  // never released: the signal ends the process
    for (int i = 0; i < 300; ++i) {
      open.push_back(new qvl_CUtilDestFile(nullptr, "", "", (dir / std::to_string(i)).c_str(), true, -1));
      open.back()->Write("x", 1);
      if (i % 2) open.back()->Seal();  // sealed ones too
    }
    ::raise(SIGTERM);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(dir.List(), std::vector<std::string>{});
}

TEST(DestFile, WithoutAHandlerAFailureIsThrown) {
  qvl_TestDir dir;
  EXPECT_THROW(qvl_CUtilDestFile(nullptr, "", "", (dir / "no/such/dir/out").c_str(), true, -1), qvl_CUtilMsg);
}

}  // namespace
