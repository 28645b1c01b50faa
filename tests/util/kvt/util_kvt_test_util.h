// Helpers shared by the data-tree tests: reading and writing through memory streams.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "util/file/util_file_stream.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_seqwrite.h"
#include "util/kvt/util_kvt_work.h"
#include "util/msg/util_msg_handler.h"

// Concatenation of parts (chained std::string + trips a false GCC 12 warning).
inline std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string s;
  for (std::string_view p : parts) s.append(p);
  return s;
}

// A handler with a collector registered, for tests that look at reports.
struct KvtTestHandler {
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler{new qvl_CUtilMsgHandler()};
  qvl_CUtilMsgCollector collector;
  KvtTestHandler() { handler->RegisterBack(&collector); }
  ~KvtTestHandler() { handler->Unregister(&collector); }
  qvl_CUtilMsgHandler* Get() const { return handler.Get(); }
  int Count() const { return static_cast<int>(collector.GetEntries().size()); }
  // "ID@CONTEXT" of report i, "" when there is none.
  std::string IdAt(int i) const {
    if (i < 0 || i >= Count()) return "";
    const qvl_CUtilMsg& m = collector.GetEntries()[static_cast<std::size_t>(i)].msg;
    return Cat({m.GetId().View(), "@", m.GetContext().View()});
  }
  // "ID@CONTEXT" of every report, in order.
  std::vector<std::string> Ids() const {
    std::vector<std::string> ids;
    for (int i = 0; i < Count(); ++i) ids.push_back(IdAt(i));
    return ids;
  }
  std::string LineAt(int i) const {
    if (i < 0 || i >= Count()) return "";
    const auto& e = collector.GetEntries()[static_cast<std::size_t>(i)];
    return qvl_MsgConsoleLine(e.level, e.msg);
  }
};

// Reads the whole tree of data (either encoding) named "t.kvt".
inline qvl_CUtilPtr<qvl_CUtilKvtChunk> KvtReadTree(qvl_CUtilMsgHandler* handler, const std::string& data) {
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream(data, "t.kvt"));
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root;
  qvl_CUtilKvtChunk* p = qvl_CUtilKvtWork::ReadStreamSimple(handler, "", stream.Get(), false);
  root.Set(p);
  qvl_CUtilPtrBase::RefReleaseOf(p);
  return root;
}

// Writes chunk's keys in the encoding flags asks for and returns the bytes.
inline std::string KvtWriteTree(const qvl_CUtilKvtChunk* chunk, int flags) {
  qvl_CUtilPtr<qvl_CUtilMemStream> stream(new qvl_CUtilMemStream());
  qvl_CUtilKvtSeqWrite* writer = qvl_CUtilKvtWork::CreateSeqWriteStream(nullptr, "", stream.Get(), flags);
  qvl_CUtilKvtWork::WriteChunkKeys(writer, chunk);
  writer->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(writer);
  return stream->GetData();
}

// Re-encodes data (either encoding) in the encoding flags asks for; reports go to handler.
inline std::string KvtConvert(qvl_CUtilMsgHandler* handler, const std::string& data, int flags) {
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root = KvtReadTree(handler, data);
  return KvtWriteTree(root.Get(), flags);
}
