// The third-party readers run in a child process under limits, so that a
// file that crashes, exhausts or stalls them ends as an error of the import.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tool/animimport/tool_animimport_limits.h"
#include "tool/animimport/tool_animimport_model.h"

// The limits of a reader's child process (-max-memory, -max-seconds), and
// whether to read in this process instead (-in-process, for measuring).
struct ReaderLimits {
  std::uint64_t memoryMiB = kReaderMemoryMiB;  // address space, MiB
  unsigned cpuSeconds = kReaderCpuSeconds;     // processor time, s
  bool inProcess = false;
};

// A reader: fills model from the file at path, reporting to handler; false on failure.
using ReaderFunc = std::function<bool(qvl_CUtilMsgHandler*, const std::string&, SourceModel*)>;

// The wall-clock bound of a reader's child for a processor-time limit of
// cpuSeconds: twice that and 5 s more (a reader blocked on something other
// than the processor ends too).
unsigned ReaderWallSeconds(unsigned cpuSeconds);

// Runs read on path in a child process limited to limits.memoryMiB of
// address space (not in a build with the address sanitizer), kReaderStackBytes
// of stack and limits.cpuSeconds of processor time (ReaderWallSeconds on the
// clock), and hands the model back through a pipe (ModelOut/ModelIn). The
// messages the reader reported are then reported to handler in their order,
// and an exception the reader threw is thrown again here. A child that is
// ended by a signal, runs out of memory or time, or exits early is reported
// at level 2 with context path as "The <readerName> stopped on the file:
// ..." naming the signal and the limit it hit (id
// tool/animimport/tool_animimport_isolate.reader_stopped, or
// reader_memory, reader_time); model stays empty and false is returned. With
// limits.inProcess, read runs here directly.
bool ReadIsolated(qvl_CUtilMsgHandler* handler, const std::string& path, const std::string& readerName,
                  const ReaderLimits& limits, const ReaderFunc& read, SourceModel* model);
