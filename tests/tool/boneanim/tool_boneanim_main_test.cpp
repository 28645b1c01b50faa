// The built boneanim program run as a user runs it: usage, messages, exit codes, destination.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

TEST(BoneAnimProgram, NoArgumentsPrintsTheUsageExactly) {
  qvl_TestDir dir;
  const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {});
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

TEST(BoneAnimProgram, AHelpOptionAlonePrintsTheUsage) {
  qvl_TestDir dir;
  const std::string usage = RunBoneAnim(dir.Path(), {}).out;
  for (const char* opt : {"-h", "-help", "--help"}) {
    const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {opt});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out + r.err, usage) << opt;
  }
  EXPECT_TRUE(dir.List().empty());
}

// The destination that names an input, directly, through a link or as a second
// name, is an error; nothing is written.
TEST(BoneAnimProgram, ADestinationThatIsAnInputIsAnError) {
  qvl_TestDir dir, src;
  WriteValidJob(src, dir / "job.kvt");
  std::filesystem::create_symlink(src / "ref.kvt", dir / "ref-link");
  std::filesystem::create_hard_link(src / "anim.kvt", dir / "anim-twin");
  const std::string cases[][3] = {{"job.kvt", "configuration", dir / "job.kvt"},
                                  {"ref-link", "reference", src / "ref.kvt"},
                                  {"anim-twin", "animation", src / "anim.kvt"}};
  for (const auto& [dest, what, input] : cases) {
    const std::string before = qvl_TestDir::ReadFile(input);
    const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", dest, "-quiet", "1"});
    EXPECT_EQ(r.exitCode, 1) << dest;
    EXPECT_EQ(r.err, "error: The destination \"" + (dir / dest) + "\" is the " + what + " file \"" + input +
                         "\"; it is not written. [tool/boneanim/tool_boneanim_main.dest_is_input]\n");
    EXPECT_EQ(qvl_TestDir::ReadFile(input), before);
  }
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"anim-twin", "job.kvt", "ref-link"}));
}

// A link stays and its final target gets the output; a FIFO or a device gets
// the bytes in place, and only from an error-free run; a directory, a link
// loop and a full device are errors.
TEST(BoneAnimProgram, DestinationsThatAreNoPlainFileKeepTheirKind) {
  qvl_TestDir dir, src;
  WriteValidJob(src, dir / "job.kvt");
  qvl_TestDir::WriteFile(dir / "bad.kvt", "do_transl 1\n");  // no files: errors
  ASSERT_EQ(RunBoneAnim(dir.Path(), {"job.kvt", "plain", "-quiet", "1"}).exitCode, 0);
  const std::string output = qvl_TestDir::ReadFile(dir / "plain");
  std::filesystem::create_directories(dir / "sub/links");
  std::filesystem::create_symlink("../target", dir / "sub/links/rel");  // relative to its own directory
  std::filesystem::create_symlink(dir / "sub/links/rel", dir / "chain");
  std::filesystem::create_symlink("made", dir / "sub/dangling");
  std::filesystem::create_symlink("sub", dir / "dirlink");
  std::filesystem::create_symlink("loop", dir / "loop");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const int reader = ::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);  // the writer never waits
  ASSERT_GE(reader, 0);
  // A device node (as /dev/full) only as root, and where the file system lets it be opened.
  const bool root = ::geteuid() == 0 && ::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0 &&
                    ::access((dir / "full").c_str(), W_OK) == 0 &&
                    ::close(::open((dir / "full").c_str(), O_WRONLY)) == 0;
  if (!root) std::filesystem::remove(dir / "full");
  const struct {
    const char *job, *dest;
    int exitCode;
    const char* reason;  // of the error, "" for none
  } cases[] = {{"job.kvt", "chain", 0, ""},
               {"job.kvt", "sub/dangling", 0, ""},
               {"job.kvt", "dirlink", 1, "Is a directory"},
               {"job.kvt", "loop", 1, "Too many levels of symbolic links"},
               {"bad.kvt", "fifo", 1, "uses no bones"},
               {"job.kvt", "fifo", 0, ""},
               {"job.kvt", root ? "full" : "fifo", root ? 1 : 0, root ? "No space left on device" : ""}};
  std::string fromFifo;
  for (const auto& c : cases) {
    const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {c.job, c.dest, "-quiet", "1"});
    EXPECT_EQ(r.exitCode, c.exitCode) << c.dest;
    EXPECT_TRUE(*c.reason ? r.err.find(c.reason) != std::string::npos : r.err.empty()) << r.err;
    char buf[65536];
    for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;)
      fromFifo.append(buf, static_cast<std::size_t>(n));
  }
  ::close(reader);
  EXPECT_EQ(fromFifo, root ? output : output + output) << "nothing from the run with errors";
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "sub/target"), output);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "sub/made"), output);
  for (const char* link : {"chain", "sub/links/rel", "sub/dangling"})
    EXPECT_TRUE(std::filesystem::is_symlink(dir / link));
  EXPECT_EQ(std::filesystem::status(dir / "fifo").type(), std::filesystem::file_type::fifo);
  EXPECT_EQ(std::filesystem::status(dir / "full").type(),
            root ? std::filesystem::file_type::character : std::filesystem::file_type::not_found);
  EXPECT_EQ(dir.List().size(), root ? 9u : 8u) << "no temporary file";
}

// SIGINT, SIGTERM and SIGHUP during the write remove the temporary file and
// end the program as the signal does; the destination stays. The signal goes
// out as soon as the temporary file appears; a run that got past its rename
// first proves nothing and is repeated with a larger job.
TEST(BoneAnimProgram, ASignalDuringTheWriteLeavesNoTemporaryFile) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    bool proven = false;
    for (int size = 100; size <= 400 && !proven; size *= 2) {
      qvl_TestDir dir;
      std::string ref = "format \"quorvel_path_5\" data {",
                  anim = ref;  // 40 bones, each with its own key times
      for (int b = 0; b < 40; ++b) {
        const std::string path = " path_array { name \"B" + std::to_string(b) + "\"";
        ref += path + " frame_array { quat 0 0 0 1 } }";
        anim += path;
        for (int k = 0; k < size; ++k)
          anim += " frame_array { key " + std::to_string(b * size + k) + " transl 1 2 3 }";
        anim += " }";
      }
      qvl_TestDir::WriteFile(dir / "ref.kvt", ref + "}");
      qvl_TestDir::WriteFile(dir / "anim.kvt", anim + "}");
      qvl_TestDir::WriteFile(dir / "job.kvt",
                             "ref_path \"ref.kvt\" anim_path \"anim.kvt\" do_transl 1 do_quat 1");
      qvl_TestDir::WriteFile(dir / "out.kvt", "old");
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::signal(sig, SIG_DFL);  // whatever the test runner set (nohup ignores SIGHUP)
        if (::chdir(dir.Path().c_str()) != 0 || !std::freopen("/dev/null", "w", stdout)) ::_exit(120);
        ::execl(QVL_BONEANIM_EXE, QVL_BONEANIM_EXE, "job.kvt", "out.kvt", static_cast<char*>(nullptr));
        ::_exit(121);
      }
      auto temps = [&] { return dir.List().size() - 4; };  // beside the four files above
      int status = 0;
      bool signalled = false, exited = false;
      for (int i = 0; i < 600000 && !(exited = ::waitpid(pid, &status, WNOHANG) == pid); ++i) {
        if (!signalled && temps() > 0) signalled = ::kill(pid, sig) == 0;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      if (!exited) ::kill(pid, SIGKILL), ::waitpid(pid, &status, 0);
      ASSERT_TRUE(exited) << "the program did not end";
      EXPECT_EQ(temps(), 0u) << sig;
      proven = qvl_TestDir::ReadFile(dir / "out.kvt") == "old";  // else the rename came first
      EXPECT_TRUE(!proven || (WIFSIGNALED(status) && WTERMSIG(status) == sig)) << sig << " " << status;
    }
    EXPECT_TRUE(proven) << "no run was caught writing, signal " << sig;
  }
}

}  // namespace
