// Entry points of the data-tree layer: whole-tree reading and the creation of
// sequential readers and writers, in the text or the binary encoding.
#pragma once

#include <cstdint>
#include <string_view>

#include "util/file/util_file_stream.h"
#include "util/msg/util_msg_handler.h"
#include "util/str/util_str_str.h"

class qvl_CUtilKvtChunk;
class qvl_CUtilKvtReader;
class qvl_CUtilKvtSeqRead;
class qvl_CUtilKvtSeqWrite;

// Flag of CreateSeqWriteStream that asks for the binary encoding (0: text).
constexpr int qvl_KvtFlagBinary = 0x8000;

class qvl_CUtilKvtWork {
public:
  // Reads the whole tree of stream (either encoding, detected from its first
  // bytes). name is the file name used in context texts; when it is empty the
  // stream's own path is used. Problems are reported to handler at level 2
  // (thrown when handler is null). Returns the root chunk with one reference
  // taken for the caller; never null: a tree that could not be read, or a
  // null stream, gives an empty root chunk.
  static qvl_CUtilKvtChunk* ReadStreamSimple(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name,
                                             qvl_CUtilStream* stream, bool unused);

  // A sequential reader on stream (either encoding) with one reference taken
  // for the caller; null when stream is null. name as above.
  static qvl_CUtilKvtSeqRead* CreateSeqReadStreamSimple(qvl_CUtilMsgHandler* handler,
                                                        const qvl_CUtilStr& name,
                                                        qvl_CUtilStream* stream, bool unused);

  // A sequential writer on stream with one reference taken for the caller;
  // flags qvl_KvtFlagBinary asks for the binary encoding, 0 for text. The
  // writer reports nothing itself: the stream reports its own failures.
  static qvl_CUtilKvtSeqWrite* CreateSeqWriteStream(qvl_CUtilMsgHandler* handler,
                                                    const qvl_CUtilStr& name,
                                                    qvl_CUtilStream* stream, int flags);

  // --- Beyond the declared interface (tests, kvt) ---
  // True when data begins with the binary encoding's magic.
  static bool IsBinary(std::string_view data);
  // The reader of CreateSeqReadStreamSimple with its typed look-ahead; null
  // when stream is null.
  static qvl_CUtilKvtReader* CreateReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name,
                                          qvl_CUtilStream* stream);
  // Reads every remaining key of the reader's current chunk into chunk.
  static void ReadChunkKeys(qvl_CUtilKvtReader* reader, qvl_CUtilKvtChunk* chunk);
  // Reads every remaining key of the reader's current chunk, nested chunks
  // included, and writes each to writer as it is read (writer may be null: the
  // keys are only read and checked). Memory stays small whatever the size.
  static void CopyChunkKeys(qvl_CUtilKvtReader* reader, qvl_CUtilKvtSeqWrite* writer);
  // Writes the keys of chunk (a root: no braces around them) to writer.
  static void WriteChunkKeys(qvl_CUtilKvtSeqWrite* writer, const qvl_CUtilKvtChunk* chunk);
};
