#pragma once
// The JSON that the commands print (info --json, recognize --json): text built member by
// member, in one of two layouts per container: one member a line, indented two spaces a level,
// or all on one line separated by ", ". Strings are copied byte for byte (UTF-8 as the model
// gives it) with '"', '\' and every control character escaped; numbers are the commands' own
// (to the nanometre, at most ten digits) and a number that is not finite is written null.

#include <string>
#include <vector>

namespace morlane {

// A length or an angle as the commands print it, in text and JSON alike: rounded to 1e-6, no
// "-0", at most ten significant digits; "null" when it is not finite.
std::string Number(double v);

// s as a JSON string, quotes included.
std::string JsonString(const std::string& s);

class JsonWriter {
 public:
  enum class Layout { Lines, Inline };

  // A container opens where a value may stand: at the top, in an array, or after Key.
  JsonWriter& BeginObject(Layout layout);
  JsonWriter& BeginArray(Layout layout);
  // Closes the innermost container; an empty one reads "{}" or "[]" in either layout.
  JsonWriter& End();
  // The name of the next member of the innermost object.
  JsonWriter& Key(const std::string& name);

  JsonWriter& String(const std::string& s);
  JsonWriter& Number(double v);  // null when not finite
  JsonWriter& Integer(long long v);
  JsonWriter& Bool(bool v);
  JsonWriter& Null();
  // Several numbers as an array on one line.
  JsonWriter& Numbers(const double* values, size_t count);

  // The text written so far; every container must be closed. Throws std::logic_error when one
  // is open or a member was misplaced (a value without its key in an object, a key elsewhere).
  const std::string& Text() const;

 private:
  struct Level {
    bool object;
    Layout layout;
    bool empty = true;
    bool keyed = false;  // an object's key is written and waits for its value
  };
  void BeforeValue();
  // The separator before a member of level, and on lines the line break and indent.
  void Separate(Level& level);
  void NewLine(size_t depth);
  JsonWriter& Raw(const std::string& text);
  JsonWriter& Begin(bool object, Layout layout);

  std::string m_out;
  std::vector<Level> m_levels;
  bool m_done = false;  // the top value is complete
};

}  // namespace morlane
