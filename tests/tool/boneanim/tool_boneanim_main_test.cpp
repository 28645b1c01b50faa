// The built boneanim program run as a user runs it: usage, messages, exit codes, destination.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"

namespace {

using boneanim_test::RunBoneAnim;

// Writes a job to jobPath whose run reports no error: one bone that moves
// relative to the reference, both files in src (absolute paths, so that the
// job's directory holds nothing else).
void WriteValidJob(const qvl_TestDir& src, const std::string& jobPath) {
  const std::string frame = " frame_array { key 0.0 transl [X] 0.0 0.0 quat 0.0 0.0 0.0 1.0 }";
  const std::string head = "format \"quorvel_path_5\" data { path_array { name \"A\"";
  std::string ref = head + frame + " } }\n";
  std::string anim = ref;
  ref.replace(ref.find("[X]"), 3, "0.0");
  anim.replace(anim.find("[X]"), 3, "1.0");
  qvl_TestDir::WriteFile(src / "ref.kvt", ref);
  qvl_TestDir::WriteFile(src / "anim.kvt", anim);
  qvl_TestDir::WriteFile(jobPath, "ref_path \"" + (src / "ref.kvt") + "\"\nanim_path \"" +
                                      (src / "anim.kvt") + "\"\ndo_transl true\ndo_quat true\n");
}

TEST(BoneAnimProgram, NoArgumentsOrAHelpOptionAlonePrintsTheUsageExactly) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"-h"}, {"-help"}, {"--help"}}) {
    qvl_TestDir dir;
    const qvl_TestOutcome r = RunBoneAnim(dir.Path(), args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "Quorvel Bone Animation \n"
              "quorvel_v5x0x6_t164x12u_c164x12u_enterpr_win32_vc7x1_release_fwin32vc7x1release\n"
              "Parameters: \n"
              "    <cfg-file>                    Configuration files\n"
              "    <dest-file>                   Target file\n"
              "    [-binary <bool>]              Write binary\n"
              "    [-refdir <refdir>]            Reference directory for pathes. \n"
              "    [-quiet <0/1>]                Only display errors\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(dir.List().empty());
  }
}

// An older destination kept after an error is covered by BoneAnimRun.AnErrorLeavesTheDestinationAsItWas.
TEST(BoneAnimProgram, MissingConfigurationIsNamedAndNoDestinationIsLeft) {
  qvl_TestDir dir;
  const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"missing.job.kvt", "out/walk.anim.kvt"});
  EXPECT_EQ(r.exitCode, 1);
  // The run goes on with an empty job, which has no bones.
  EXPECT_EQ(r.err, "error: Cannot open \"" + (dir / "missing.job.kvt") +
                       "\" for reading: No such file or directory. "
                       "[util/file/util_file_cachedfile.open_failed]\n" +
                       (dir / "missing.job.kvt") +
                       ":1:1: error: Animation \"\" relative to \"\" uses no bones.  "
                       "[tool/boneanim/tool_boneanim_calc.no_bones]\n");
  EXPECT_TRUE(r.out.ends_with("Errors: 2\nDone.\n")) << r.out;
  // The destination's directory is made, but nothing is left in it.
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"out"});
}

TEST(BoneAnimProgram, CommandLineErrorsAreReportedAndTheRunGoesOn) {
  qvl_TestDir dir;
  qvl_TestDir src;
  WriteValidJob(src, dir / "job.kvt");
  struct Case {
    std::vector<std::string> args;
    std::string err;
    int errorCnt;
  };
  // Each kind of command-line error and its text is covered by the parser's
  // own table; here one of them, and a missing destination.
  const Case cases[] = {
      {{"job.kvt", "out.kvt", "-verbose"},
       "error: Unknown option -verbose. [util/cmdline/util_cmdline_cmdline.unknown_opt]\n",
       1},
      {{"job.kvt"},
       "error: Positional argument 2 is missing. [util/cmdline/util_cmdline_cmdline.missing_arg]\n"
       "error: Cannot create \"" +
           dir.Path() + "\": Is a directory. [util/file/util_file_destfile.create_failed]\n",
       2},
  };
  for (const Case& c : cases) {
    const qvl_TestOutcome r = RunBoneAnim(dir.Path(), c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args[0];
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(r.out.ends_with("Errors: " + std::to_string(c.errorCnt) + "\nDone.\n")) << r.out;
    EXPECT_EQ(dir.List(), std::vector<std::string>{"job.kvt"}) << "no destination after an error";
  }
}

// A run without errors makes the destination final.
TEST(BoneAnimProgram, AnErrorFreeRunClosesTheDestination) {
  qvl_TestDir dir;
  qvl_TestDir src;
  WriteValidJob(src, dir / "job.kvt");
  const qvl_TestOutcome r =
      RunBoneAnim(dir.Path(), {"job.kvt", "sub/dir/out.kvt", "-quiet", "1", "-refdir", "ref"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Errors: 0\nDone.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "sub/dir/out.kvt"));
  EXPECT_EQ(std::filesystem::directory_iterator(dir / "sub/dir")->path().filename(), "out.kvt");
}

// The destination named as the configuration, the reference or the animation
// (directly, through a link or a second name) is an error, and every input
// stays as it was.
TEST(BoneAnimProgram, ADestinationThatIsAnInputIsAnErrorAndNothingIsWritten) {
  qvl_TestDir dir;
  qvl_TestDir src;
  WriteValidJob(src, dir / "job.kvt");
  std::filesystem::create_symlink(src / "ref.kvt", dir / "ref-link.kvt");
  std::filesystem::create_hard_link(src / "anim.kvt", dir / "anim-twin.kvt");
  const std::string job = qvl_TestDir::ReadFile(dir / "job.kvt");
  const std::string ref = qvl_TestDir::ReadFile(src / "ref.kvt");
  const std::string anim = qvl_TestDir::ReadFile(src / "anim.kvt");
  struct Case {
    std::string dest;
    std::string what;
    std::string input;
  };
  const Case cases[] = {
      {"job.kvt", "configuration", dir / "job.kvt"},
      {"./sub/../job.kvt", "configuration", dir / "job.kvt"},
      {"ref-link.kvt", "reference", src / "ref.kvt"},
      {"anim-twin.kvt", "animation", src / "anim.kvt"},
  };
  for (const Case& c : cases) {
    const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", c.dest, "-quiet", "1"});
    EXPECT_EQ(r.exitCode, 1) << c.dest;
    EXPECT_EQ(r.err, "error: The destination \"" + (dir / c.dest.substr(c.dest.rfind('/') + 1)) +
                         "\" is the " + c.what + " file \"" + c.input +
                         "\"; it is not written. [tool/boneanim/tool_boneanim_main.dest_is_input]\n");
    EXPECT_EQ(r.out, "Errors: 1\nDone.\n");
  }
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "job.kvt"), job);
  EXPECT_EQ(qvl_TestDir::ReadFile(src / "ref.kvt"), ref);
  EXPECT_EQ(qvl_TestDir::ReadFile(src / "anim.kvt"), anim);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "ref-link.kvt"));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"anim-twin.kvt", "job.kvt", "ref-link.kvt"}));
  // A copy of an input is another file: it is replaced.
  qvl_TestDir::WriteFile(dir / "copy.kvt", job);
  EXPECT_EQ(RunBoneAnim(dir.Path(), {"job.kvt", "copy.kvt", "-quiet", "1"}).exitCode, 0);
  EXPECT_TRUE(qvl_TestDir::ReadFile(dir / "copy.kvt").starts_with("format "));
}

// A link keeps pointing at a target that gets the output; a FIFO gets the
// bytes in place, and only from an error-free run; a directory, reached
// through a link too, is an error.
TEST(BoneAnimProgram, DestinationsThatAreNoPlainFileKeepTheirKind) {
  qvl_TestDir dir;
  qvl_TestDir src;
  WriteValidJob(src, dir / "job.kvt");
  qvl_TestDir::WriteFile(dir / "bad.job.kvt", "do_transl 1\n");  // no files: errors
  ASSERT_EQ(RunBoneAnim(dir.Path(), {"job.kvt", "plain.kvt", "-quiet", "1"}).exitCode, 0);
  const std::string output = qvl_TestDir::ReadFile(dir / "plain.kvt");
  std::filesystem::create_directories(dir / "sub/links");
  qvl_TestDir::WriteFile(dir / "sub/target.kvt", "old");
  std::filesystem::create_symlink("../target.kvt", dir / "sub/links/rel");  // relative to its directory
  std::filesystem::create_symlink(dir / "sub/links/rel", dir / "chain");
  std::filesystem::create_symlink("made.kvt", dir / "sub/dangling");
  std::filesystem::create_symlink("sub", dir / "dirlink");
  // Link to link to target: the target is replaced, both links stay.
  EXPECT_EQ(RunBoneAnim(dir.Path(), {"job.kvt", "chain", "-quiet", "1"}).exitCode, 0);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "sub/target.kvt"), output);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "chain") &&
              std::filesystem::is_symlink(dir / "sub/links/rel"));
  // A dangling link makes its target.
  EXPECT_EQ(RunBoneAnim(dir.Path(), {"job.kvt", "sub/dangling", "-quiet", "1"}).exitCode, 0);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "sub/made.kvt"), output);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "sub/dangling"));
  // A link to a directory.
  const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", "dirlink", "-quiet", "1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "error: Cannot create \"" + (dir / "dirlink") +
                       "\": Is a directory. [util/file/util_file_destfile.create_failed]\n");
  std::vector<std::string> inSub;
  for (const auto& e : std::filesystem::directory_iterator(dir / "sub")) inSub.push_back(e.path().filename());
  std::sort(inSub.begin(), inSub.end());
  EXPECT_EQ(inSub, (std::vector<std::string>{"dangling", "links", "made.kvt", "target.kvt"}))
      << "no temporary file";

  // A FIFO: nothing from a run with errors, the whole output from a good one.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const int reader = ::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);  // so that the writer never waits
  ASSERT_GE(reader, 0);
  EXPECT_EQ(RunBoneAnim(dir.Path(), {"bad.job.kvt", "fifo", "-quiet", "1"}).exitCode, 1);
  char buf[65536];
  EXPECT_LE(::read(reader, buf, sizeof buf), 0) << "bytes from a run with errors";
  EXPECT_EQ(RunBoneAnim(dir.Path(), {"job.kvt", "fifo", "-quiet", "1"}).exitCode, 0);
  const ssize_t n = ::read(reader, buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), output);
  ::close(reader);
  EXPECT_EQ(std::filesystem::status(dir / "fifo").type(), std::filesystem::file_type::fifo);

  EXPECT_EQ(dir.List(), (std::vector<std::string>{"bad.job.kvt", "chain", "dirlink", "fifo", "job.kvt",
                                                  "plain.kvt", "sub"}));
}

// Device nodes like /dev/null and /dev/full, made in the test's directory: the
// node stays, and a failing device is a write error.
TEST(BoneAnimProgram, ADeviceNodeIsWrittenInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "only the superuser makes device nodes";
  qvl_TestDir dir;
  qvl_TestDir src;
  WriteValidJob(src, dir / "job.kvt");
  ASSERT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  ASSERT_EQ(::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
  const int probe = ::open((dir / "null").c_str(), O_WRONLY);
  if (probe < 0) GTEST_SKIP() << "the temporary directory's file system does not open device nodes";
  ::close(probe);
  EXPECT_EQ(RunBoneAnim(dir.Path(), {"job.kvt", "null", "-quiet", "1"}).exitCode, 0);
  const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", "full", "-quiet", "1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "error: Cannot write \"" + (dir / "full") +
                       "\": No space left on device. [util/file/util_file_destfile.write_failed]\n");
  for (const char* name : {"null", "full"})
    EXPECT_EQ(std::filesystem::status(dir / name).type(), std::filesystem::file_type::character) << name;
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"full", "job.kvt", "null"}));
}

// Passing the file-size limit is a write failure like a full disk, not the end of the process.
TEST(BoneAnimProgram, TheFileSizeLimitIsAWriteError) {
  qvl_TestDir dir;
  const std::string walk = std::string(QVL_SOURCE_DIR) + "/examples/walk";
  qvl_TestDir::WriteFile(dir / "out.kvt", "old");
  const qvl_TestOutcome r =
      qvl_TestRunProgram(QVL_BONEANIM_EXE, dir.Path(),
                         {walk + "/walk.job.kvt", "out.kvt", "-refdir", walk, "-quiet", "1"}, 0, 4096);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "error: Cannot write \"" + (dir / "out.kvt") +
                       "\": File too large. [util/file/util_file_destfile.write_failed]\n");
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "out.kvt"), "old");
  EXPECT_EQ(dir.List(), std::vector<std::string>{"out.kvt"});
}

// Writes a job whose output is large (bones * bones * keysPerBone entries), so that writing takes a while.
void WriteBigJob(const qvl_TestDir& dir, int bones, int keysPerBone) {
  std::string ref = "format \"quorvel_path_5\" data {\n", anim = ref;
  for (int b = 0; b < bones; ++b) {
    const std::string name = " path_array { name \"B" + std::to_string(b) + "\" range 0.0 1.0";
    ref += name + " frame_array { key 0.0 transl 0.0 0.0 0.0 quat 0.0 0.0 0.0 1.0 } }\n";
    anim += name;
    for (int k = 0; k < keysPerBone; ++k) {
      const std::string t = std::to_string((b * keysPerBone + k) * 0.5 / (bones * keysPerBone));
      anim += " frame_array { key " + t + " transl " + t + " 1.5 -2.25 quat 0.6 0.0 0.0 0.8 }";
    }
    anim += " }\n";
  }
  qvl_TestDir::WriteFile(dir / "ref.kvt", ref + "}\n");
  qvl_TestDir::WriteFile(dir / "anim.kvt", anim + "}\n");
  qvl_TestDir::WriteFile(dir / "job.kvt",
                         "ref_path \"ref.kvt\" anim_path \"anim.kvt\" do_transl 1 do_quat 1\n");
}

// A signal during the write removes the temporary file and ends the program
// as the signal does; the destination stays as it was. The signal is sent as
// soon as the temporary file appears; a run that got past its rename first
// proves nothing and is repeated with a larger job.
TEST(BoneAnimProgram, ASignalDuringTheWriteLeavesNoTemporaryFile) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    bool proven = false;
    for (int attempt = 0; attempt < 3 && !proven; ++attempt) {
      qvl_TestDir dir;
      WriteBigJob(dir, 40, 100 << attempt);
      qvl_TestDir::WriteFile(dir / "out.kvt", "old");
      const pid_t pid = ::fork();
      if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);  // dispositions a shell may have set
        if (null < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0 || ::chdir(dir.Path().c_str()) != 0)
          ::_exit(120);
        ::execl(QVL_BONEANIM_EXE, QVL_BONEANIM_EXE, "job.kvt", "out.kvt", static_cast<char*>(nullptr));
        ::_exit(121);
      }
      ASSERT_GT(pid, 0);
      auto tempExists = [&] {
        for (const std::string& name : dir.List()) {
          if (name.starts_with(".out.kvt.tmp")) return true;
        }
        return false;
      };
      int status = 0;
      bool exited = false, signalled = false;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      while (!exited && std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
          exited = true;
        } else if (!signalled && tempExists()) {
          ::kill(pid, sig);
          signalled = true;
        } else {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      }
      if (!exited) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the program did not end";
      }
      EXPECT_FALSE(tempExists()) << "signal " << sig;
      if (qvl_TestDir::ReadFile(dir / "out.kvt") != "old") continue;  // the rename came first
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig << " status " << status;
      EXPECT_EQ(dir.List(), (std::vector<std::string>{"anim.kvt", "job.kvt", "out.kvt", "ref.kvt"}));
      proven = true;
    }
    EXPECT_TRUE(proven) << "no run was caught writing, signal " << sig;
  }
}

}  // namespace
