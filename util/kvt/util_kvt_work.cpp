// Entry points of the data-tree layer: encoding detection, whole-tree reading
// and writing, and the creation of sequential readers and writers.
#include "util/kvt/util_kvt_work.h"

#include "util/kvt/util_kvt_binary.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_text.h"

namespace {

qvl_CUtilStr FileName(const qvl_CUtilStr& name, qvl_CUtilStream* stream) {
  return name.IsEmpty() && stream ? stream->GetPath() : name;
}

}  // namespace

bool qvl_CUtilKvtWork::IsBinary(std::string_view data) {
  return qvl_KvtBinaryHasMagic(data);
}

qvl_CUtilKvtReader* qvl_CUtilKvtWork::CreateReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name,
                                                   qvl_CUtilStream* stream) {
  if (!stream) return nullptr;
  std::string_view data = stream->GetReadData();
  qvl_CUtilStr file = FileName(name, stream);
  qvl_CUtilKvtReader* reader;
  if (IsBinary(data)) {
    reader = new qvl_CUtilKvtBinaryReader(handler, file, data);
  } else {
    reader = new qvl_CUtilKvtTextReader(handler, file, data);
  }
  return qvl_CUtilPtrBase::RefAddOf(reader);
}

qvl_CUtilKvtSeqRead* qvl_CUtilKvtWork::CreateSeqReadStreamSimple(qvl_CUtilMsgHandler* handler,
                                                                 const qvl_CUtilStr& name,
                                                                 qvl_CUtilStream* stream, bool) {
  return CreateReader(handler, name, stream);
}

void qvl_CUtilKvtWork::ReadChunkKeys(qvl_CUtilKvtReader* reader, qvl_CUtilKvtChunk* chunk) {
  while (reader->IsKey() > 0) {
    qvl_CUtilKvtPos keyPos = reader->GetNextPos();
    int k = chunk->AddKey(reader->ReadKey(), keyPos);
    for (;;) {
      int type = reader->PeekValueType();
      if (type == qvl_KvtTypeInt) {
        chunk->AddInt(k, reader->ReadInt());
      } else if (type == qvl_KvtTypeFloat) {
        chunk->AddFloat(k, reader->ReadFloat());
      } else if (type == qvl_KvtTypeStr) {
        qvl_CUtilKvtPos pos = reader->GetNextPos();
        chunk->AddStr(k, reader->ReadStr(), pos);
      } else if (type == qvl_KvtTypeChunk) {
        qvl_CUtilPtr<qvl_CUtilKvtChunk> child(new qvl_CUtilKvtChunk(reader->GetFile(), reader->GetNextPos()));
        reader->BeginChunk();
        ReadChunkKeys(reader, child.Get());
        reader->EndChunk();
        chunk->AddChunk(k, child.Get());
      } else {
        break;
      }
    }
    reader->EndKey();
  }
}

qvl_CUtilKvtChunk* qvl_CUtilKvtWork::ReadStreamSimple(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name,
                                                      qvl_CUtilStream* stream, bool) {
  qvl_CUtilStr file = FileName(name, stream);
  bool binary = stream && IsBinary(stream->GetReadData());
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root(
      new qvl_CUtilKvtChunk(file, binary ? qvl_CUtilKvtPos::OfBinary(0) : qvl_CUtilKvtPos::OfText(1, 1)));
  qvl_CUtilPtr<qvl_CUtilKvtReader> reader;
  reader.Set(CreateReader(handler, name, stream));
  if (reader) {
    qvl_CUtilPtrBase::RefReleaseOf(reader.Get());  // CreateReader's reference; the holder keeps one
    ReadChunkKeys(reader.Get(), root.Get());
    reader->Finish();
    // A tree that could not be read whole is not handed out in part.
    if (reader->HasFailed()) root->Clear();
  }
  return qvl_CUtilPtrBase::RefAddOf(root.Get());
}

void qvl_CUtilKvtWork::CopyChunkKeys(qvl_CUtilKvtReader* reader, qvl_CUtilKvtSeqWrite* writer) {
  while (reader->IsKey() > 0) {
    qvl_CUtilStr name = reader->ReadKey();
    if (writer) writer->BeginKey(name);
    for (bool more = true; more;) {
      switch (reader->PeekValueType()) {
        case qvl_KvtTypeInt: {
          std::int32_t v = reader->ReadInt();
          if (writer) writer->WriteInt(v);
          break;
        }
        case qvl_KvtTypeFloat: {
          float v = reader->ReadFloat();
          if (writer) writer->WriteFloat(v);
          break;
        }
        case qvl_KvtTypeStr: {
          qvl_CUtilStr v = reader->ReadStr();
          if (writer) writer->WriteStr(v);
          break;
        }
        case qvl_KvtTypeChunk:
          reader->BeginChunk();
          if (writer) writer->BeginChunk();
          CopyChunkKeys(reader, writer);
          reader->EndChunk();
          if (writer) writer->EndChunk();
          break;
        default:
          more = false;
          break;
      }
    }
    reader->EndKey();
    if (writer) writer->EndKey();
  }
}

void qvl_CUtilKvtWork::WriteChunkKeys(qvl_CUtilKvtSeqWrite* writer, const qvl_CUtilKvtChunk* chunk) {
  for (int k = 0; k < chunk->GetKeyCnt(); ++k) {
    writer->BeginKey(chunk->GetKeyName(k));
    int n = chunk->GetValueCnt(k);
    for (int v = 0; v < n; ++v) {
      switch (chunk->GetValueType(k, v)) {
        case qvl_KvtTypeInt:
          writer->WriteInt(chunk->GetValueInt(k, v));
          break;
        case qvl_KvtTypeFloat:
          writer->WriteFloat(chunk->GetValueFloat(k, v));
          break;
        case qvl_KvtTypeStr:
          writer->WriteStr(chunk->GetValueStr(k, v));
          break;
        case qvl_KvtTypeChunk:
          writer->BeginChunk();
          WriteChunkKeys(writer, chunk->PeekValueChunk(k, v));
          writer->EndChunk();
          break;
        default:
          break;
      }
    }
    writer->EndKey();
  }
}

qvl_CUtilKvtSeqWrite* qvl_CUtilKvtWork::CreateSeqWriteStream(qvl_CUtilMsgHandler*, const qvl_CUtilStr&,
                                                             qvl_CUtilStream* stream, int flags) {
  qvl_CUtilKvtSeqWrite* writer;
  if (flags & qvl_KvtFlagBinary) {
    writer = new qvl_CUtilKvtBinaryWriter(stream);
  } else {
    writer = new qvl_CUtilKvtTextWriter(stream);
  }
  return qvl_CUtilPtrBase::RefAddOf(writer);
}
