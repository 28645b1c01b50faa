// A small binary encoding of the importer's model, so that a model read in a
// child process can be handed to the parent over a pipe and checked there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tool/animimport/tool_animimport_model.h"

// Appends values in a fixed little-endian layout: integers and counts as 4
// or 8 bytes, doubles as their 8 bytes, strings and lists as a count and the
// elements. Each model struct lists its fields once, in ModelFields below,
// for this writer and the reader alike.
class ModelOut {
 public:
  void operator()(std::uint32_t v) { Raw(&v, 4); }
  void operator()(std::int32_t v) { Raw(&v, 4); }
  void operator()(std::uint64_t v) { Raw(&v, 8); }
  void operator()(bool v) { (*this)(static_cast<std::uint32_t>(v)); }
  void operator()(double v) { Raw(&v, 8); }
  void operator()(Interp v) { (*this)(static_cast<std::uint32_t>(v)); }
  void operator()(const std::string& s) {
    (*this)(static_cast<std::uint64_t>(s.size()));
    m_out.append(s);
  }
  void operator()(const Vector3d& v) { Raw(&v.x, 8), Raw(&v.y, 8), Raw(&v.z, 8); }
  void operator()(const Quatd& q) { Raw(&q.x, 8), Raw(&q.y, 8), Raw(&q.z, 8), Raw(&q.w, 8); }
  void operator()(const std::vector<double>& v) {
    (*this)(static_cast<std::uint64_t>(v.size()));
    Raw(v.data(), v.size() * 8);
  }
  // A channel's key times, shared between channels as the reader shared them.
  void operator()(const std::shared_ptr<const std::vector<double>>& times);
  template <class T>
  void operator()(const std::vector<T>& list);

  std::string& Bytes() { return m_out; }

 private:
  void Raw(const void* p, std::size_t n) { m_out.append(static_cast<const char*>(p), n); }
  std::string m_out;
  std::unordered_map<const std::vector<double>*, std::uint32_t> m_timesIndex;
};

// Reads what ModelOut wrote. Every count and length is checked against the
// bytes left before anything is allocated for it; the first problem stops
// the reading (Ok() false, Problem() says what and at which offset), after
// which every value reads as zero or empty.
class ModelIn {
 public:
  explicit ModelIn(std::string_view data) : m_data(data) {}
  void operator()(std::uint32_t& v) { Raw(&v, 4); }
  void operator()(std::int32_t& v) { Raw(&v, 4); }
  void operator()(std::uint64_t& v) { Raw(&v, 8); }
  void operator()(bool& v);
  void operator()(double& v) { Raw(&v, 8); }
  void operator()(Interp& v);
  void operator()(std::string& s);
  void operator()(Vector3d& v) { Raw(&v.x, 8), Raw(&v.y, 8), Raw(&v.z, 8); }
  void operator()(Quatd& q) { Raw(&q.x, 8), Raw(&q.y, 8), Raw(&q.z, 8), Raw(&q.w, 8); }
  void operator()(std::vector<double>& v);
  void operator()(std::shared_ptr<const std::vector<double>>& times);
  template <class T>
  void operator()(std::vector<T>& list);

  bool Ok() const { return m_problem.empty(); }
  bool AtEnd() const { return m_pos == m_data.size(); }
  const std::string& Problem() const { return m_problem; }
  // Records a problem (the first one counts) at the current offset.
  void Fail(const std::string& what);

 private:
  void Raw(void* p, std::size_t n);
  // A count of elements of at least minBytes each that fit the bytes left; 0 after a failure.
  std::size_t Count(std::size_t minBytes);
  std::string_view m_data;
  std::size_t m_pos = 0;
  std::string m_problem;
  std::vector<std::shared_ptr<const std::vector<double>>> m_times;
};

// The fields of each struct of the model, in the order they are encoded: a
// new field of the model is one more line here. Io is ModelOut (with const
// structs) or ModelIn.
template <class Io, class C>
void ModelFields(Io& io, C& ch) requires std::is_same_v<std::remove_const_t<C>, Channel> {
  io(ch.times);
  io(ch.values);
  io(ch.interp);
}
template <class Io, class T>
void ModelFields(Io& io, T& t) requires std::is_same_v<std::remove_const_t<T>, NodeTrack> {
  io(t.node);
  ModelFields(io, t.transl);
  ModelFields(io, t.rot);
  ModelFields(io, t.scale);
}
template <class Io, class C>
void ModelFields(Io& io, C& clip) requires std::is_same_v<std::remove_const_t<C>, Clip> {
  io(clip.name);
  io(clip.tracks);
}
template <class Io, class N>
void ModelFields(Io& io, N& node) requires std::is_same_v<std::remove_const_t<N>, Node> {
  io(node.name);
  io(node.parent);
  io(node.transl);
  io(node.rot);
  io(node.scale);
  io(node.skinBone);
}
template <class Io, class M>
void ModelFields(Io& io, M& model) requires std::is_same_v<std::remove_const_t<M>, SourceModel> {
  io(model.nodes);
  io(model.clips);
  io(model.metersPerUnit);
}

template <class T>
void ModelOut::operator()(const std::vector<T>& list) {
  (*this)(static_cast<std::uint64_t>(list.size()));
  for (const T& e : list) ModelFields(*this, e);
}

template <class T>
void ModelIn::operator()(std::vector<T>& list) {
  // Every element takes at least 4 bytes; the list grows with what is read.
  const std::size_t cnt = Count(4);
  list.clear();
  for (std::size_t i = 0; i < cnt && Ok(); ++i) ModelFields(*this, list.emplace_back());
}

// Appends the encoding of model to out.
void EncodeModel(const SourceModel& model, ModelOut* out);

// Reads a model that EncodeModel wrote from in and checks what the rest of
// the importer relies on: every parent index names an earlier node (or is
// -1), every track a node, every channel a valid interpolation and as many
// values as its keys need (3 or 4 per key, three times that for a cubic
// spline), key times strictly ascending. False, with the problem in in, when
// the bytes or the model do not add up.
bool DecodeModel(ModelIn* in, SourceModel* model);
