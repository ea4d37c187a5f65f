#include "JsonWriter.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace morlane {

// Lengths to the micrometre and finer (boxes carry the kernel's tolerance of 1e-7), angles
// alike.
std::string Number(double v) {
  if (!std::isfinite(v)) return "null";
  v = std::round(v * 1e6) / 1e6;
  if (v == 0) v = 0;  // no "-0"
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void JsonWriter::BeforeValue() {
  if (m_done) throw std::logic_error("JSON: a second value at the top");
  if (m_levels.empty()) return;
  Level& level = m_levels.back();
  if (level.object) {
    if (!level.keyed) throw std::logic_error("JSON: a member without its name");
    level.keyed = false;
    return;
  }
  Separate(level);
}

void JsonWriter::Separate(Level& level) {
  if (!level.empty) m_out += level.layout == Layout::Inline ? ", " : ",";
  if (level.layout == Layout::Lines) NewLine(m_levels.size());
  level.empty = false;
}

void JsonWriter::NewLine(size_t depth) {
  m_out += '\n';
  m_out.append(2 * depth, ' ');
}

JsonWriter& JsonWriter::Raw(const std::string& text) {
  BeforeValue();
  m_out += text;
  if (m_levels.empty()) m_done = true;
  return *this;
}

JsonWriter& JsonWriter::Begin(bool object, Layout layout) {
  BeforeValue();
  // Inside a container on one line, everything stays on that line.
  if (!m_levels.empty() && m_levels.back().layout == Layout::Inline) layout = Layout::Inline;
  m_out += object ? '{' : '[';
  m_levels.push_back({object, layout});
  return *this;
}

JsonWriter& JsonWriter::BeginObject(Layout layout) { return Begin(true, layout); }
JsonWriter& JsonWriter::BeginArray(Layout layout) { return Begin(false, layout); }

JsonWriter& JsonWriter::End() {
  if (m_levels.empty()) throw std::logic_error("JSON: nothing to close");
  const Level level = m_levels.back();
  if (level.keyed) throw std::logic_error("JSON: a name without its value");
  m_levels.pop_back();
  if (!level.empty && level.layout == Layout::Lines) NewLine(m_levels.size());
  m_out += level.object ? '}' : ']';
  if (m_levels.empty()) m_done = true;
  return *this;
}

JsonWriter& JsonWriter::Key(const std::string& name) {
  if (m_levels.empty() || !m_levels.back().object || m_levels.back().keyed)
    throw std::logic_error("JSON: a name outside an object: " + name);
  Level& level = m_levels.back();
  Separate(level);
  level.keyed = true;
  m_out += JsonString(name);
  m_out += ": ";
  return *this;
}

JsonWriter& JsonWriter::String(const std::string& s) { return Raw(JsonString(s)); }
JsonWriter& JsonWriter::Number(double v) { return Raw(morlane::Number(v)); }
JsonWriter& JsonWriter::Integer(long long v) { return Raw(std::to_string(v)); }
JsonWriter& JsonWriter::Bool(bool v) { return Raw(v ? "true" : "false"); }
JsonWriter& JsonWriter::Null() { return Raw("null"); }

JsonWriter& JsonWriter::Numbers(const double* values, size_t count) {
  BeginArray(Layout::Inline);
  for (size_t i = 0; i < count; ++i) Number(values[i]);
  return End();
}

const std::string& JsonWriter::Text() const {
  if (!m_levels.empty() || !m_done) throw std::logic_error("JSON: the value is not complete");
  return m_out;
}

}  // namespace morlane
