// Benchmark of the data-tree layer: reading a large path animation with the
// sequential reader (text and binary) against bare tokenizer floors, and
// writing 7 million floats against a to_chars + fwrite floor.
// Usage: bench_kvt [bones frames [read]] (default 200 5000, about 130 MB of
// text; "read" skips the write timings).
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "util/file/util_file_stream.h"
#include "util/kvt/util_kvt_binary.h"
#include "util/kvt/util_kvt_seqread.h"
#include "util/kvt/util_kvt_seqwrite.h"
#include "util/kvt/util_kvt_work.h"

namespace {

// Best wall time of reps runs of f, in seconds.
double BestOf(int reps, const std::function<void()>& f) {
  double best = 1e30;
  for (int i = 0; i < reps; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
  }
  return best;
}

// A stream that appends to a C file (the destination of the write timings).
class FileStream : public qvl_CUtilStream {
 public:
  explicit FileStream(std::FILE* f) : m_f(f) {}
  qvl_CUtilStr GetPath() const override { return "bench"; }
  bool Write(const void* data, std::size_t size) override { return std::fwrite(data, 1, size, m_f) == size; }

 private:
  std::FILE* m_f;
};

// Deterministic values with the digits of real animation data.
float Value(std::uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  return static_cast<float>(static_cast<double>(seed >> 8) / 16777216.0 * 2.0 - 1.0);
}

// The path animation as written by an exporter: bones x frames.
std::string MakePathAnim(int bones, int frames, int flags) {
  qvl_CUtilPtr<qvl_CUtilMemStream> stream(new qvl_CUtilMemStream());
  qvl_CUtilKvtSeqWrite* w = qvl_CUtilKvtWork::CreateSeqWriteStream(nullptr, "", stream.Get(), flags);
  std::uint32_t seed = 1;
  const qvl_CUtilStr kKey("key"), kTransl("transl"), kQuat("quat");
  w->WriteKeyStr("format", "quorvel_path_5");
  w->BeginKey("data");
  w->BeginChunk();
  w->BeginKey("path_array");
  for (int b = 0; b < bones; ++b) {
    w->BeginChunk();
    w->WriteKeyStr("name", qvl_CUtilStr(std::string_view("Bone" + std::to_string(b))));
    w->BeginKey("range");
    w->WriteFloat(0.0f);
    w->WriteFloat(static_cast<float>(frames - 1) / 30.0f);
    w->EndKey();
    w->BeginKey("frame_array");
    for (int f = 0; f < frames; ++f) {
      w->BeginChunk();
      w->BeginKey(kKey);
      w->WriteFloat(static_cast<float>(f) / 30.0f);
      w->EndKey();
      w->BeginKey(kTransl);
      for (int i = 0; i < 3; ++i) w->WriteFloat(Value(seed));
      w->EndKey();
      w->BeginKey(kQuat);
      for (int i = 0; i < 4; ++i) w->WriteFloat(Value(seed));
      w->EndKey();
      w->EndChunk();
    }
    w->EndKey();
    w->EndChunk();
  }
  w->EndKey();
  w->EndChunk();
  w->EndKey();
  w->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(w);
  return stream->GetData();
}

// Reads the file as the path-animation loader does: every key, every value.
// The file is in memory before the timing starts, as a loaded file is.
double LoadLikeALoader(qvl_CUtilStream* stream, long* valueCount) {
  qvl_CUtilKvtSeqRead* r = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(nullptr, "", stream, true);
  double sum = 0.0;
  long n = 0;
  while (r->IsKey() > 0) {
    qvl_CUtilStr k = r->ReadKey();
    if (k.View() == "format") {
      n += static_cast<long>(r->ReadStr().GetLen() > 0);
    } else if (k.View() == "data") {
      r->BeginChunk();
      while (r->IsKey() > 0) {
        qvl_CUtilStr dk = r->ReadKey();
        while (dk.View() == "path_array" && r->IsValue() > 0) {
          r->BeginChunk();
          while (r->IsKey() > 0) {
            qvl_CUtilStr pk = r->ReadKey();
            if (pk.View() == "name") {
              n += static_cast<long>(r->ReadStr().GetLen() > 0);
            } else if (pk.View() == "range") {
              sum += r->ReadFloat();
              sum += r->ReadFloat();
              n += 2;
            } else if (pk.View() == "frame_array") {
              while (r->IsValue() > 0) {
                r->BeginChunk();
                while (r->IsKey() > 0) {
                  qvl_CUtilStr fk = r->ReadKey();
                  std::string_view name = fk.View();
                  int count = name == "key" ? 1 : name == "transl" ? 3 : name == "quat" ? 4 : 0;
                  for (int i = 0; i < count; ++i) sum += r->ReadFloat();
                  n += count;
                  r->EndKey();
                }
                r->EndChunk();
              }
            }
            r->EndKey();
          }
          r->EndChunk();
        }
        r->EndKey();
      }
      r->EndChunk();
    }
    r->EndKey();
  }
  r->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(r);
  *valueCount = n;
  return sum;
}

// The floor of text reading: split the bytes into tokens and convert every
// number, with no structure, no checks and no strings built.
double TokenizeText(const std::string& data, long* valueCount) {
  const char* p = data.data();
  const char* end = p + data.size();
  double sum = 0.0;
  long n = 0;
  while (p < end) {
    char c = *p;
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '{' || c == '}') {
      ++p;
    } else if (c == '"') {
      p = static_cast<const char*>(std::memchr(p + 1, '"', static_cast<std::size_t>(end - p - 1))) + 1;
      ++n;
    } else if ((c >= '0' && c <= '9') || c == '-' || c == '.') {
      float f;
      p = std::from_chars(p, end, f).ptr;
      sum += f;
      ++n;
    } else {
      while (p<end&& * p> ' ') ++p;
    }
  }
  *valueCount = n;
  return sum;
}

// The floor of binary reading: walk the tags and sum the runs' floats.
double TokenizeBinary(const std::string& data, long* valueCount) {
  const char* p = data.data() + qvl_KvtBinHeaderSize;
  const char* end = data.data() + data.size();
  double sum = 0.0;
  long n = 0;
  auto u32 = [](const char* q) {
    std::uint32_t v;
    std::memcpy(&v, q, 4);
    return v;
  };
  while (p < end) {
    unsigned char tag = static_cast<unsigned char>(*p++);
    if (tag == qvl_KvtBinTagNameNew) {
      p += 4 + u32(p);
    } else if (tag == qvl_KvtBinTagNameRef) {
      p += 4;
    } else if (tag == qvl_KvtBinTagRunFloat || tag == qvl_KvtBinTagRunInt) {
      std::uint32_t count = u32(p);
      p += 4;
      for (std::uint32_t i = 0; i < count; ++i, p += 4) {
        float f;
        std::memcpy(&f, p, 4);
        sum += f;
      }
      n += count;
    } else if (tag == qvl_KvtBinTagRunStr) {
      std::uint32_t count = u32(p);
      p += 4;
      for (std::uint32_t i = 0; i < count; ++i) p += 4 + u32(p);
      n += count;
    }
  }
  *valueCount = n;
  return sum;
}

// Writes values as one key to stream in the encoding flags asks for.
void WriteFloatsTo(qvl_CUtilStream* stream, int flags, const std::vector<float>& values) {
  qvl_CUtilKvtSeqWrite* w = qvl_CUtilKvtWork::CreateSeqWriteStream(nullptr, "", stream, flags);
  w->BeginKey("transl_array");
  for (float v : values) w->WriteFloat(v);
  w->EndKey();
  w->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(w);
}

void WriteFloats(std::FILE* f, int flags, const std::vector<float>& values) {
  qvl_CUtilPtr<FileStream> stream(new FileStream(f));
  WriteFloatsTo(stream.Get(), flags, values);
}

// buf is allocated (and touched) before the timing, like the writer's own buffer.
void WriteFloatsFloor(std::FILE* f, const std::vector<float>& values, std::string& buf) {
  char* p = buf.data();
  char* end = p + buf.size();
  for (float v : values) {
    p = std::to_chars(p, end, v).ptr;
    *p++ = ' ';
  }
  std::fwrite(buf.data(), 1, static_cast<std::size_t>(p - buf.data()), f);
}

// Reads every value of every key as a float (a key holding a long array).
double ReadAllFloats(qvl_CUtilStream* stream) {
  qvl_CUtilKvtSeqRead* r = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(nullptr, "", stream, true);
  double sum = 0.0;
  while (r->IsKey() > 0) {
    r->ReadKey();
    while (r->IsValue() > 0) sum += r->ReadFloat();
    r->EndKey();
  }
  r->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(r);
  return sum;
}

// Writes the key of values into memory in the encoding flags asks for.
std::string FloatsFile(int flags, const std::vector<float>& values) {
  qvl_CUtilPtr<qvl_CUtilMemStream> stream(new qvl_CUtilMemStream());
  WriteFloatsTo(stream.Get(), flags, values);
  return stream->GetData();
}

void Row(const char* what, double seconds, double mb, double floorSeconds) {
  std::printf("| %-46s | %8.4f | %8.1f | %6.2f |\n", what, seconds, mb / seconds,
              floorSeconds > 0 ? seconds / floorSeconds : 1.0);
}

}  // namespace

int main(int argc, char** argv) {
  int bones = argc > 2 ? std::atoi(argv[1]) : 200;
  int frames = argc > 2 ? std::atoi(argv[2]) : 5000;
  if (bones <= 0 || frames <= 0) {
    std::fprintf(stderr, "usage: bench_kvt [bones frames]\n");
    return 2;
  }
  const int reps = 3;
  std::string text = MakePathAnim(bones, frames, 0);
  std::string bin = MakePathAnim(bones, frames, qvl_KvtFlagBinary);
  double textMb = static_cast<double>(text.size()) / 1e6;
  double binMb = static_cast<double>(bin.size()) / 1e6;
  std::printf("path animation: %d bones x %d frames; text %.1f MB, binary %.1f MB\n\n", bones, frames, textMb,
              binMb);

  qvl_CUtilPtr<qvl_CUtilStream> textStream(new qvl_CUtilMemStream(text, "bench.kvt"));
  qvl_CUtilPtr<qvl_CUtilStream> binStream(new qvl_CUtilMemStream(bin, "bench.kvt"));
  if (argc > 3 && std::strncmp(argv[3], "profile", 7) == 0) {
    // Only the readers, many times, for a profiler.
    long n = 0;
    double sum = 0.0;
    for (int i = 0; i < 20; ++i) sum += LoadLikeALoader(binStream.Get(), &n);
    for (int i = 0; i < 20 && std::strcmp(argv[3], "profile") == 0; ++i)
      sum += LoadLikeALoader(textStream.Get(), &n);
    std::printf("checksum %g\n", sum);
    return 0;
  }
  long nLoad = 0;
  long nTok = 0;
  double sink = 0.0;
  double tTok = BestOf(reps, [&] { sink += TokenizeText(text, &nTok); });
  double tLoad = BestOf(reps, [&] { sink += LoadLikeALoader(textStream.Get(), &nLoad); });
  long nBinLoad = 0;
  long nBinTok = 0;
  double tBinTok = BestOf(reps, [&] { sink += TokenizeBinary(bin, &nBinTok); });
  double tBinLoad = BestOf(reps, [&] { sink += LoadLikeALoader(binStream.Get(), &nBinLoad); });

  if (argc > 3 && std::strcmp(argv[3], "read") == 0) {
    std::printf("text read %.4f s (floor %.4f s), binary read %.4f s (floor %.4f s); checksum %g\n", tLoad,
                tTok, tBinLoad, tBinTok, sink);
    return 0;
  }
  const std::size_t kFloats = 7000000;
  std::vector<float> values(kFloats);
  std::uint32_t seed = 7;
  for (float& v : values) v = Value(seed);
  std::FILE* f = std::tmpfile();
  if (!f) {
    std::fprintf(stderr, "no temporary file\n");
    return 1;
  }
  auto rewind = [&] { std::rewind(f); };
  std::string floorBuf(values.size() * 16 + 16, ' ');
  double tWriteFloor = BestOf(reps, [&] {
    rewind();
    WriteFloatsFloor(f, values, floorBuf);
    std::fflush(f);
  });
  long textOut = std::ftell(f);
  double tWriteText = BestOf(reps, [&] {
    rewind();
    WriteFloats(f, 0, values);
    std::fflush(f);
  });
  double tWriteBin = BestOf(reps, [&] {
    rewind();
    WriteFloats(f, qvl_KvtFlagBinary, values);
    std::fflush(f);
  });
  long binOut = std::ftell(f);
  std::fclose(f);

  // The same 7M floats read back as one key.
  qvl_CUtilPtr<qvl_CUtilStream> arrText(new qvl_CUtilMemStream(FloatsFile(0, values), "a.kvt"));
  qvl_CUtilPtr<qvl_CUtilStream> arrBin(
      new qvl_CUtilMemStream(FloatsFile(qvl_KvtFlagBinary, values), "a.kvt"));
  double tArrText = BestOf(reps, [&] { sink += ReadAllFloats(arrText.Get()); });
  double tArrBin = BestOf(reps, [&] { sink += ReadAllFloats(arrBin.Get()); });

  std::printf("| %-46s | %8s | %8s | %6s |\n", "operation", "best s", "MB/s", "ratio");
  std::printf("|%s|%s|%s|%s|\n", std::string(48, '-').c_str(), std::string(10, '-').c_str(),
              std::string(10, '-').c_str(), std::string(8, '-').c_str());
  Row("text read: bare tokenizer (floor)", tTok, textMb, tTok);
  Row("text read: sequential reader, every value", tLoad, textMb, tTok);
  Row("binary read: bare tag walker (floor)", tBinTok, binMb, tBinTok);
  Row("binary read: sequential reader, every value", tBinLoad, binMb, tBinTok);
  double textOutMb = static_cast<double>(textOut) / 1e6;
  double binOutMb = static_cast<double>(binOut) / 1e6;
  Row("write 7M floats: to_chars + one fwrite (floor)", tWriteFloor, textOutMb, tWriteFloor);
  Row("write 7M floats: text writer", tWriteText, textOutMb, tWriteFloor);
  Row("write 7M floats: binary writer", tWriteBin, binOutMb, tWriteFloor);
  Row("read 7M floats of one key: text reader", tArrText, textOutMb, tArrText);
  Row("read 7M floats of one key: binary reader", tArrBin, binOutMb, tArrText);
  std::printf(
      "\npath animation: text read / binary read %.1fx; 7M floats: text read / binary read %.1fx, "
      "text write / binary write %.1fx\n",
      tLoad / tBinLoad, tArrText / tArrBin, tWriteText / tWriteBin);
  std::printf("values: loader %ld, tokenizer %ld, binary loader %ld, binary walker %ld (checksum %g)\n",
              nLoad, nTok, nBinLoad, nBinTok, sink);
  return 0;
}
