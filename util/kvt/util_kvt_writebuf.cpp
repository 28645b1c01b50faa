// The output buffer of the data-tree writers.
#include "util/kvt/util_kvt_writebuf.h"

qvl_CUtilKvtWriteBuf::qvl_CUtilKvtWriteBuf(qvl_CUtilStream* stream)
    : m_stream(qvl_CUtilPtrBase::RefAddOf(stream)), m_buf(new char[kCap]), m_cap(kCap) {}

qvl_CUtilKvtWriteBuf::~qvl_CUtilKvtWriteBuf() {
  delete[] m_buf;
  qvl_CUtilPtrBase::RefReleaseOf(m_stream);
}

void qvl_CUtilKvtWriteBuf::Flush(std::size_t n) {
  if (m_len > 0 && m_stream) m_stream->Write(m_buf, m_len);
  m_len = 0;
  if (m_cap < n) {
    delete[] m_buf;
    m_buf = nullptr;
    m_buf = new char[n];
    m_cap = n;
  }
}
