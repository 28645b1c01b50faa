// The model's binary encoding for the pipe between a reader's child process
// and the importer, and the checks of what is read back.
#include "tool/animimport/tool_animimport_modelio.h"

#include <cmath>
#include <cstring>

void ModelOut::operator()(const std::shared_ptr<const std::vector<double>>& times) {
  // 0: no keys; 1: a new list follows; 2 + i: the list written i-th before.
  if (!times) return (*this)(std::uint32_t{0});
  const auto [it, added] = m_timesIndex.emplace(times.get(), static_cast<std::uint32_t>(m_timesIndex.size()));
  if (!added) return (*this)(std::uint32_t{2} + it->second);
  (*this)(std::uint32_t{1});
  (*this)(*times);
}

void ModelIn::Fail(const std::string& what) {
  if (m_problem.empty()) m_problem = what + " at byte " + std::to_string(m_pos);
}

void ModelIn::Raw(void* p, std::size_t n) {
  if (!Ok() || n > m_data.size() - m_pos) {
    Fail("the data ends early");
    std::memset(p, 0, n);
    return;
  }
  std::memcpy(p, m_data.data() + m_pos, n);
  m_pos += n;
}

std::size_t ModelIn::Count(std::size_t minBytes) {
  std::uint64_t cnt = 0;
  (*this)(cnt);
  if (!Ok()) return 0;
  if (cnt > (m_data.size() - m_pos) / minBytes) {
    Fail("a count of " + std::to_string(cnt) + " does not fit the bytes left");
    return 0;
  }
  return static_cast<std::size_t>(cnt);
}

void ModelIn::operator()(bool& v) {
  std::uint32_t u = 0;
  (*this)(u);
  if (u > 1) Fail("a truth value of " + std::to_string(u));
  v = u == 1;
}

void ModelIn::operator()(Interp& v) {
  std::uint32_t u = 0;
  (*this)(u);
  if (u > static_cast<std::uint32_t>(Interp::kCubicSpline)) Fail("an interpolation " + std::to_string(u));
  v = Ok() ? static_cast<Interp>(u) : Interp::kLinear;
}

void ModelIn::operator()(std::string& s) {
  const std::size_t n = Count(1);
  s.assign(m_data.data() + m_pos, n);
  m_pos += n;
}

void ModelIn::operator()(std::vector<double>& v) {
  const std::size_t n = Count(8);
  v.resize(n);
  if (n) std::memcpy(v.data(), m_data.data() + m_pos, n * 8);
  m_pos += n * 8;
}

void ModelIn::operator()(std::shared_ptr<const std::vector<double>>& times) {
  std::uint32_t tag = 0;
  (*this)(tag);
  times.reset();
  if (tag == 0 || !Ok()) return;
  if (tag == 1) {
    auto list = std::make_shared<std::vector<double>>();
    (*this)(*list);
    m_times.push_back(list);
    times = std::move(list);
  } else if (tag - 2 < m_times.size()) {
    times = m_times[tag - 2];
  } else {
    Fail("a reference to key times " + std::to_string(tag - 2) + " of " + std::to_string(m_times.size()));
  }
}

void EncodeModel(const SourceModel& model, ModelOut* out) {
  ModelFields(*out, model);
}

namespace {

bool CheckChannel(ModelIn* in, const Channel& ch, std::size_t width, const std::string& where) {
  const std::size_t keys = ch.KeyCnt();
  const std::size_t per = width * (ch.interp == Interp::kCubicSpline ? 3 : 1);
  if (keys == 0 ? !ch.values.empty() : ch.values.size() / per != keys || ch.values.size() % per != 0) {
    in->Fail(where + " has " + std::to_string(ch.values.size()) + " values for " + std::to_string(keys) +
             " keys");
    return false;
  }
  for (std::size_t k = 1; k < keys; ++k) {
    if (!((*ch.times)[k] > (*ch.times)[k - 1])) {
      in->Fail(where + " has key times that do not ascend at key " + std::to_string(k));
      return false;
    }
  }
  return true;
}

}  // namespace

bool DecodeModel(ModelIn* in, SourceModel* model) {
  ModelFields(*in, *model);
  if (in->Ok() && !in->AtEnd()) in->Fail("bytes follow the model");
  if (in->Ok() && !(model->metersPerUnit >= 0.0 && std::isfinite(model->metersPerUnit)))
    in->Fail("the unit is not a finite number of at least 0");
  const int nodes = static_cast<int>(model->nodes.size());
  for (int i = 0; i < nodes && in->Ok(); ++i) {
    const int p = model->nodes[i].parent;
    if (p < -1 || p >= i) in->Fail("node " + std::to_string(i) + " names a parent " + std::to_string(p));
  }
  for (std::size_t c = 0; c < model->clips.size() && in->Ok(); ++c) {
    for (const NodeTrack& t : model->clips[c].tracks) {
      const std::string where = "clip " + std::to_string(c) + ", node " + std::to_string(t.node);
      if (t.node < 0 || t.node >= nodes) {
        in->Fail("a track of clip " + std::to_string(c) + " names a node " + std::to_string(t.node));
        break;
      }
      if (!CheckChannel(in, t.transl, 3, where + " translation") ||
          !CheckChannel(in, t.rot, 4, where + " rotation") || !CheckChannel(in, t.scale, 3, where + " scale"))
        break;
    }
  }
  return in->Ok();
}
