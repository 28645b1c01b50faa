// A reader's child process: what it sends back (its messages, how it ended,
// the model) and how the parent turns every way of ending into a report.
#include "tool/animimport/tool_animimport_isolate.h"

#include <signal.h>

#include <new>
#include <utility>
#include <vector>

#include "tool/animimport/tool_animimport_modelio.h"
#include "util/msg/util_msg_msg.h"
#include "util/proc/util_proc_child.h"

namespace {

// The first word of what a child sends, so that a stray write is not taken for a result.
constexpr std::uint32_t kResultMagic = 0x4d4c5651;  // "QVLM"

// How the reader ended in the child.
enum Outcome : std::uint32_t {
  kFailed = 0,      // it returned false
  kRead = 1,        // it returned true; the model follows
  kThrownMsg = 2,   // it threw a message, which follows
  kThrownStd = 3,   // it threw a standard exception, as a message
  kNoMemory = 4,    // it ran out of memory (it failed after an allocation failed)
  kThrownOther = 5  // it threw something else
};

// Keeps every message reported in the child, to be sent.
class Recorder : public qvl_CUtilMsgEval {
 public:
  void Eval(int level, const qvl_CUtilMsg& msg) override { m_msgs.emplace_back(level, msg); }
  std::vector<std::pair<int, qvl_CUtilMsg>> m_msgs;
};

void PutMsg(ModelOut& out, const qvl_CUtilMsg& msg) {
  out(std::string(msg.GetId().GetChars(), msg.GetId().GetLen()));
  out(std::string(msg.GetText().GetChars(), msg.GetText().GetLen()));
  out(static_cast<std::uint32_t>(msg.GetInfoCnt()));
  for (int i = 0; i < msg.GetInfoCnt(); ++i) {
    const qvl_CUtilStr info = msg.GetInfo(i);
    out(std::string(info.GetChars(), info.GetLen()));
  }
}

qvl_CUtilMsg GetMsg(ModelIn& in) {
  std::string id, text;
  std::uint32_t infos = 0;
  in(id), in(text), in(infos);
  qvl_CUtilMsg msg{qvl_CUtilStr(std::string_view(id)), qvl_CUtilStr(std::string_view(text))};
  for (std::uint32_t i = 0; i < infos && in.Ok(); ++i) {
    std::string info;
    in(info);
    msg.AddInfo(qvl_CUtilStr(std::string_view(info)));
  }
  return msg;
}

// Set in the child when an allocation failed: the libraries catch the
// exception and give a reason of their own, which then does not tell the limit.
bool g_allocFailed = false;

void OnAllocFailure() {
  g_allocFailed = true;
  throw std::bad_alloc();
}

// The child's side: reads, then encodes messages, outcome and model.
std::string ReadInChild(const std::string& path, const ReaderFunc& read) {
  std::set_new_handler(OnAllocFailure);
  Recorder recorder;
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
  handler->RegisterBack(&recorder);
  SourceModel model;
  std::uint32_t outcome = kFailed;
  qvl_CUtilMsg thrown;
  try {
    outcome = read(handler.Get(), path, &model) ? kRead : kFailed;
  } catch (const std::bad_alloc&) {
    outcome = kNoMemory;
  } catch (const qvl_CUtilMsg& msg) {
    outcome = kThrownMsg, thrown = msg;
  } catch (const std::exception& e) {
    outcome = kThrownStd, thrown = qvl_CUtilExceptionStd(e);
  } catch (...) {
    outcome = kThrownOther;
  }
  if (g_allocFailed && outcome == kFailed) outcome = kNoMemory;
  try {
    ModelOut out;
    out(kResultMagic);
    out(static_cast<std::uint64_t>(recorder.m_msgs.size()));
    for (const auto& [level, msg] : recorder.m_msgs) {
      out(static_cast<std::int32_t>(level));
      PutMsg(out, msg);
    }
    out(outcome);
    if (outcome == kThrownMsg || outcome == kThrownStd) PutMsg(out, thrown);
    if (outcome == kRead) EncodeModel(model, &out);
    return std::move(out.Bytes());
  } catch (const std::bad_alloc&) {
    // No room for the encoding: the model goes, the outcome is sent alone.
    model = SourceModel();
    ModelOut out;
    out(kResultMagic), out(std::uint64_t{0}), out(std::uint32_t{kNoMemory});
    return std::move(out.Bytes());
  }
}

// The limits a child ran under, as a sentence that says how to raise them.
std::string LimitsText(const qvl_CUtilProcLimits& applied) {
  const std::string memory =
      applied.addressBytes
          ? std::to_string(applied.addressBytes >> 20) + " MiB of address space (-max-memory)"
      : qvl_ProcAddressLimitPossible()
          ? "no limit of address space"
          : "no limit of address space (none is set in a build with the address sanitizer)";
  return " It ran in a child process with " + memory + ", " + std::to_string(applied.stackBytes >> 20) +
         " MiB of stack and " + std::to_string(applied.cpuSeconds) + " s of processor time (-max-seconds).";
}

}  // namespace

unsigned ReaderWallSeconds(unsigned cpuSeconds) {
  return 2 * cpuSeconds + 5;
}

bool ReadIsolated(qvl_CUtilMsgHandler* handler, const std::string& path, const std::string& readerName,
                  const ReaderLimits& limits, const ReaderFunc& read, SourceModel* model) {
  if (limits.inProcess) return read(handler, path, model);
  qvl_CUtilProcLimits proc;
  proc.addressBytes = limits.memoryMiB << 20;
  proc.stackBytes = kReaderStackBytes;
  proc.cpuSeconds = limits.cpuSeconds;
  proc.wallSeconds = ReaderWallSeconds(limits.cpuSeconds);
  // The model cannot be larger than the child's memory; without a limit, the
  // parent's own memory bounds it.
  proc.resultBytes = proc.addressBytes;
  const qvl_CUtilProcOutcome end = qvl_ProcRunChild(proc, [&] { return ReadInChild(path, read); });

  const std::string stopped = "The " + readerName + " stopped on the file: ";
  auto fail = [&](const char* key, const std::string& text) {
    ReportImportText(handler, qvl_MsgLevelError, "tool/animimport/tool_animimport_isolate.", path, key, text);
    return false;
  };
  using End = qvl_CUtilProcOutcome::End;
  switch (end.end) {
    case End::kNotStarted:
      return fail("reader_stopped",
                  "The " + readerName + " could not be started for the file: " + end.problem + ".");
    case End::kWallTime:
      return fail("reader_time", stopped + "it had not finished after " + std::to_string(proc.wallSeconds) +
                                     " s (twice its processor time and 5 s)." + LimitsText(end.applied));
    case End::kTooLarge:
      return fail("reader_memory", stopped + "it handed back more than " + std::to_string(limits.memoryMiB) +
                                       " MiB." + LimitsText(end.applied));
    case End::kSignal:
      // SIGKILL comes with the hard limit of processor time, a second after
      // SIGXCPU, or from the system (out of memory): the time used tells them apart
      // (it is counted more finely than the limit, which may come a little early).
      if (end.signal == SIGXCPU ||
          (end.signal == SIGKILL && end.applied.cpuSeconds && end.cpuUsed + 0.5 >= end.applied.cpuSeconds))
        return fail("reader_time", stopped + qvl_ProcSignalText(end.signal) +
                                       " while reading, at its limit of " +
                                       std::to_string(end.applied.cpuSeconds) + " s of processor time." +
                                       LimitsText(end.applied));
      return fail("reader_stopped",
                  stopped + qvl_ProcSignalText(end.signal) + " while reading." + LimitsText(end.applied));
    case End::kExited:
      break;
  }
  if (end.exitCode != 0)
    return fail("reader_stopped", stopped + "it exited with status " + std::to_string(end.exitCode) +
                                      " while reading." + LimitsText(end.applied));

  ModelIn in(end.result);
  std::uint32_t magic = 0;
  std::uint64_t msgCnt = 0;
  in(magic), in(msgCnt);
  if (magic != kResultMagic) in.Fail("no result header");
  std::vector<std::pair<int, qvl_CUtilMsg>> msgs;
  for (std::uint64_t i = 0; i < msgCnt && in.Ok(); ++i) {
    std::int32_t level = 0;
    in(level);
    if (level < qvl_MsgLevelInfo || level > qvl_MsgLevelWarning)
      in.Fail("a message level " + std::to_string(level));
    msgs.emplace_back(level, GetMsg(in));
  }
  std::uint32_t outcome = kFailed;
  in(outcome);
  qvl_CUtilMsg thrown;
  if (outcome > kThrownOther) in.Fail("an outcome " + std::to_string(outcome));
  if (outcome == kThrownMsg || outcome == kThrownStd) thrown = GetMsg(in);
  SourceModel decoded;
  if (in.Ok() && outcome == kRead) DecodeModel(&in, &decoded);
  if (in.Ok() && outcome != kRead && !in.AtEnd()) in.Fail("bytes follow the result");
  if (!in.Ok())
    return fail("bad_result",
                "The " + readerName + " handed back a result that cannot be read: " + in.Problem() + ".");
  for (const auto& [level, msg] : msgs) {
    if (handler)
      handler->Report(level, msg);
    else if (qvl_MsgLevelIsError(level))
      qvl_CUtilMsgHandler::ReportError(nullptr, msg);
  }
  switch (outcome) {
    case kRead:
      *model = std::move(decoded);
      return true;
    case kThrownMsg:
      throw thrown;
    case kThrownStd:
      throw qvl_CUtilExceptionStd(thrown);
    case kThrownOther:
      throw qvl_CUtilExceptionUnknown();
    case kNoMemory:
      return fail("reader_memory", "The " + readerName + " ran out of memory while reading the file." +
                                       LimitsText(end.applied));
    default:
      return false;
  }
}
