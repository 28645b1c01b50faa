// The lenient sequential reading shared by both encodings, instantiated once
// per encoding so that its calls of the look-ahead are direct, not virtual.
#pragma once

#include "util/kvt/util_kvt_reader.h"

template <class D>
qvl_CUtilKvtPos qvl_CUtilKvtReaderOf<D>::GetNextPos() {
  Self()->Sync();
  PeekItem();
  return m_failed ? GetErrPos() : PosOf(PeekStart());
}

template <class D>
int qvl_CUtilKvtReaderOf<D>::IsKey() {
  Self()->Sync();
  if (m_failed || m_emptyDepth > 0) return 0;
  if (m_keyOpen) Self()->EndKey();
  int item = PeekItem();
  switch (item) {
    case qvl_KvtItemName:
      return 1;
    case qvl_KvtItemClose:
      if (m_depth == 0)
        Fail(m_binary ? qvl_KvtErrBinStructure : qvl_KvtErrExpectedKey, PeekStart(), PeekText());
      return 0;
    case qvl_KvtItemEnd:
      if (m_depth > 0 && !m_failed) {
        Fail(m_binary ? qvl_KvtErrBinStructure : qvl_KvtErrUnclosedChunk, PeekStart(), PeekText());
      }
      return 0;
    default:
      Fail(m_binary ? qvl_KvtErrBinStructure : qvl_KvtErrExpectedKey, PeekStart(), PeekText());
      return 0;
  }
}

template <class D>
qvl_CUtilStr qvl_CUtilKvtReaderOf<D>::ReadKey() {
  Self()->Sync();
  if (m_failed || m_emptyDepth > 0) return {};
  if (Self()->IsKey() <= 0) {
    if (!m_failed) Misuse("a key read where none follows");
    return {};
  }
  m_keyStart = PeekStart();
  m_keyOpen = true;
  return TakeName();
}

template <class D>
void qvl_CUtilKvtReaderOf<D>::EndKey() {
  Self()->Sync();
  if (m_emptyDepth > 0 || !m_keyOpen) return;
  while (!m_failed && qvl_CUtilKvtReaderOf::IsValueSlow() > 0) SkipValue();
  m_keyOpen = false;
}

template <class D>
int qvl_CUtilKvtReaderOf<D>::IsValueSlow() {
  Self()->Sync();
  if (m_failed || m_emptyDepth > 0 || !m_keyOpen) return 0;
  int item = PeekItem();
  return item >= qvl_KvtItemInt && item <= qvl_KvtItemOpen ? 1 : 0;
}

template <class D>
int qvl_CUtilKvtReaderOf<D>::PeekValueType() {
  Self()->Sync();
  return qvl_CUtilKvtReaderOf::IsValueSlow() > 0 ? TypeOfItem(PeekItem()) : qvl_KvtTypeNone;
}

template <class D>
void qvl_CUtilKvtReaderOf<D>::SkipValue() {
  switch (PeekItem()) {
    case qvl_KvtItemInt:
    case qvl_KvtItemFloat:
    case qvl_KvtItemStr:
      Consume();
      break;
    case qvl_KvtItemOpen: {
      if (!EnterDepth(PeekStart())) return;
      Consume();
      ++m_depth;
      m_outerKeys.push_back(m_keyStart);
      m_keyOpen = false;
      Self()->EndChunk();
      break;
    }
    default:
      break;
  }
}

template <class D>
int qvl_CUtilKvtReaderOf<D>::BeginValueRead() {
  Self()->Sync();
  if (m_failed || m_emptyDepth > 0) return kNoValueRead;
  if (!m_keyOpen) {
    Misuse("a value read outside a key");
    return kNoValueRead;
  }
  return PeekItem();
}

template <class D>
void qvl_CUtilKvtReaderOf<D>::RejectValue(int expected, int item) {
  if (item == kNoValueRead) return;
  if (item >= qvl_KvtItemInt && item <= qvl_KvtItemOpen) {
    TypeError(expected, TypeOfItem(item));
    SkipValue();
  } else if (!m_failed) {
    MissingValue(expected);
  }
}

template <class D>
float qvl_CUtilKvtReaderOf<D>::ReadFloatSlow() {
  int item = BeginValueRead();
  if (item == qvl_KvtItemFloat) {
    Consume();
    return m_float;
  }
  if (item == qvl_KvtItemInt) {
    Consume();
    return static_cast<float>(m_int);
  }
  RejectValue(qvl_KvtTypeFloat, item);
  return 0.0f;
}

template <class D>
std::int32_t qvl_CUtilKvtReaderOf<D>::ReadInt() {
  int item = BeginValueRead();
  if (item == qvl_KvtItemInt) {
    Consume();
    return m_int;
  }
  RejectValue(qvl_KvtTypeInt, item);
  return 0;
}

template <class D>
qvl_CUtilStr qvl_CUtilKvtReaderOf<D>::ReadStr() {
  int item = BeginValueRead();
  if (item == qvl_KvtItemStr) return TakeStr();
  RejectValue(qvl_KvtTypeStr, item);
  return {};
}

template <class D>
void qvl_CUtilKvtReaderOf<D>::SkipKeys() {
  if (m_keyOpen) Self()->EndKey();
  while (Self()->IsKey() > 0) {
    m_keyStart = PeekStart();
    TakeName();
    m_keyOpen = true;
    Self()->EndKey();
  }
}

template <class D>
void qvl_CUtilKvtReaderOf<D>::BeginChunk() {
  Self()->Sync();
  if (m_failed || m_emptyDepth > 0 || !m_keyOpen) {
    if (!m_failed && m_emptyDepth == 0) Misuse("a chunk entered outside a key");
    ++m_emptyDepth;
    return;
  }
  int item = PeekItem();
  if (item == qvl_KvtItemOpen) {
    if (!EnterDepth(PeekStart())) return;
    Consume();
    ++m_depth;
    m_outerKeys.push_back(m_keyStart);
    m_keyOpen = false;
    return;
  }
  RejectValue(qvl_KvtTypeChunk, item);
  // An empty chunk stands in for the missing one, so the caller's loops stay balanced.
  ++m_emptyDepth;
}

template <class D>
void qvl_CUtilKvtReaderOf<D>::EndChunk() {
  Self()->Sync();
  if (m_emptyDepth > 0) {
    --m_emptyDepth;
    m_keyOpen = true;
    return;
  }
  if (m_depth == 0) return;
  if (!m_failed) {
    SkipKeys();
    if (!m_failed && PeekItem() == qvl_KvtItemClose) Consume();
  }
  --m_depth;
  m_keyStart = m_outerKeys.back();
  m_outerKeys.pop_back();
  m_keyOpen = true;
}

template <class D>
void qvl_CUtilKvtReaderOf<D>::Finish() {
  Self()->Sync();
  if (m_failed || m_depth > 0 || m_emptyDepth > 0) return;
  SkipKeys();
  if (!m_failed) static_cast<D*>(this)->CheckEnd();
}
