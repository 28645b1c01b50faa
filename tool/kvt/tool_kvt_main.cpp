// kvt: prints, converts and checks data-tree files of either encoding.
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "util/file/util_file_cachedfile.h"
#include "util/file/util_file_destfile.h"
#include "util/kvt/util_kvt_reader.h"
#include "util/kvt/util_kvt_seqwrite.h"
#include "util/kvt/util_kvt_work.h"
#include "util/msg/util_msg_handler.h"
#include "util/stdio/util_stdio_stdio.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitErrors = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage:\n"
    "  kvt cat FILE                        print FILE (text or binary) as canonical text\n"
    "  kvt convert IN OUT [-binary <bool>] re-encode IN as text (default) or binary into OUT\n"
    "  kvt check FILE...                   report every error of each FILE\n"
    "Exit codes: 0 no error, 1 errors, 2 bad command line.\n";

// Standard output as a stream for the writer; it hands over big pieces. A
// failed write (a full disk) is reported once, at level 2, so
// that the run ends with exit code 1.
class StdOutStream : public qvl_CUtilStream {
 public:
  explicit StdOutStream(qvl_CUtilMsgHandler* handler) : m_handler(handler) {}
  qvl_CUtilStr GetPath() const override { return "<stdout>"; }
  bool Write(const void* data, std::size_t size) override {
    if (std::fwrite(data, 1, size, stdout) != size) Fail(errno);
    return !m_failed;
  }
  bool Close() override {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) Fail(errno);
    return !m_failed;
  }

 private:
  void Fail(int err) {
    if (m_failed) return;
    m_failed = true;
    qvl_CUtilMsg msg("tool/kvt/tool_kvt_main.write_failed", "Cannot write to standard output: [1].");
    msg.AddInfo("");
    msg.AddInfo(err ? std::strerror(err) : "write error");
    m_handler->Report(qvl_MsgLevelError, msg);
  }
  qvl_CUtilMsgHandler* m_handler;
  bool m_failed = false;
};

// The handler with the console registered; errors are counted by the console.
struct Console {
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler{new qvl_CUtilMsgHandler()};
  qvl_CUtilPtr<qvl_CUtilStdIo> stdio{new qvl_CUtilStdIo()};
  Console() { handler->RegisterBack(stdio.Get()); }
  ~Console() {
    stdio->WriteNotShown();
    handler->Unregister(stdio.Get());
  }
  int Errors() const { return stdio->GetErrorCnt(); }
};

int BadCommandLine(const char* text, const std::string& arg) {
  qvl_CUtilMsg msg("tool/kvt/tool_kvt_main.cmdline", text);
  msg.AddInfo("");
  msg.AddInfo(qvl_CUtilStr(std::string_view(arg)));
  std::fprintf(stderr, "%s\n%s", qvl_MsgConsoleLine(qvl_MsgLevelError, msg).c_str(), kUsage);
  return kExitUsage;
}

// An input file with a reader on it; problems go to the console.
struct Input {
  qvl_CUtilPtr<qvl_CUtilCachedFile> file;
  qvl_CUtilPtr<qvl_CUtilKvtReader> reader;
  Input(Console& con, const char* path)
      : file(new qvl_CUtilCachedFile(con.handler.Get(), "", "", path, 10, -1)) {
    Rewind(con);
  }
  // A new reader at the start of the file.
  void Rewind(Console& con) {
    qvl_CUtilKvtReader* r = qvl_CUtilKvtWork::CreateReader(con.handler.Get(), "", file.Get());
    reader.Set(r);
    qvl_CUtilPtrBase::RefReleaseOf(r);
  }
};

// Reads the whole file, writing each key to writer as it comes (writer may
// be null: the file is only checked). The file is never held as a tree, so
// memory stays small for large files.
// A file that could not be read has no reader (its failure is reported).
void Copy(Input& in, qvl_CUtilKvtSeqWrite* writer) {
  if (!in.reader) return;
  qvl_CUtilKvtWork::CopyChunkKeys(in.reader.Get(), writer);
  in.reader->Finish();
  if (writer) writer->Finish();
}

// A writer on stream with one reference held.
qvl_CUtilPtr<qvl_CUtilKvtSeqWrite> MakeWriter(qvl_CUtilStream* stream, int flags) {
  qvl_CUtilKvtSeqWrite* w = qvl_CUtilKvtWork::CreateSeqWriteStream(nullptr, "", stream, flags);
  qvl_CUtilPtr<qvl_CUtilKvtSeqWrite> writer(w);
  qvl_CUtilPtrBase::RefReleaseOf(w);
  return writer;
}

int Cat(const char* path) {
  Console con;
  Input in(con, path);
  // Checked whole first, so that a bad file prints nothing.
  Copy(in, nullptr);
  if (con.Errors() > 0) return kExitErrors;
  in.Rewind(con);
  qvl_CUtilPtr<StdOutStream> out(new StdOutStream(con.handler.Get()));
  Copy(in, MakeWriter(out.Get(), 0).Get());
  return out->Close() && con.Errors() == 0 ? kExitOk : kExitErrors;
}

int Convert(const char* inPath, const char* outPath, bool binary) {
  Console con;
  Input in(con, inPath);
  if (con.Errors() > 0) return kExitErrors;
  qvl_CUtilPtr<qvl_CUtilDestFile> out(new qvl_CUtilDestFile(con.handler.Get(), "", "", outPath, true, -1));
  Copy(in, MakeWriter(out.Get(), binary ? qvl_KvtFlagBinary : 0).Get());
  // The destination becomes final only when the input was read without error;
  // released without Close it leaves nothing behind.
  if (con.Errors() > 0) return kExitErrors;
  out->Close();
  return con.Errors() > 0 ? kExitErrors : kExitOk;
}

int Check(const std::vector<const char*>& paths) {
  Console con;
  for (const char* path : paths) {
    Input in(con, path);
    Copy(in, nullptr);
  }
  return con.Errors() > 0 ? kExitErrors : kExitOk;
}

// "true", "1" (resp. "false", "0"), in any case, into value; false for any other text.
bool ParseBool(const char* text, bool* value) {
  if (strcasecmp(text, "true") == 0 || std::strcmp(text, "1") == 0) {
    *value = true;
    return true;
  }
  if (strcasecmp(text, "false") == 0 || std::strcmp(text, "0") == 0) {
    *value = false;
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return BadCommandLine("No command given.", "");
  std::string cmd = argv[1];
  if (cmd == "-h" || cmd == "-help" || cmd == "--help" || cmd == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  std::vector<const char*> args;
  bool binary = false;
  bool binarySeen = false;
  for (int i = 2; i < argc; ++i) {
    if (cmd == "convert" && std::strcmp(argv[i], "-binary") == 0) {
      if (binarySeen) return BadCommandLine("Option \"[1]\" given twice.", argv[i]);
      if (i + 1 >= argc || !ParseBool(argv[i + 1], &binary)) {
        return BadCommandLine("Option \"-binary\" needs a value true, false, 1 or 0, found \"[1]\".",
                              i + 1 < argc ? argv[i + 1] : "");
      }
      binarySeen = true;
      ++i;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return BadCommandLine("Unknown option \"[1]\".", argv[i]);
    } else {
      args.push_back(argv[i]);
    }
  }
  try {
    if (cmd == "cat") {
      if (args.size() != 1) return BadCommandLine("Command \"[1]\" takes one file.", cmd);
      return Cat(args[0]);
    }
    if (cmd == "convert") {
      if (args.size() != 2) return BadCommandLine("Command \"[1]\" takes an input and an output file.", cmd);
      return Convert(args[0], args[1], binary);
    }
    if (cmd == "check") {
      if (args.empty()) return BadCommandLine("Command \"[1]\" takes one or more files.", cmd);
      return Check(args);
    }
  } catch (const qvl_CUtilMsg& msg) {
    std::fprintf(stderr, "%s\n", qvl_MsgConsoleLine(qvl_MsgLevelCaught, msg).c_str());
    return kExitErrors;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return kExitErrors;
  }
  return BadCommandLine("Unknown command \"[1]\".", cmd);
}
