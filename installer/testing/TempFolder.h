// A host folder of its own for one test (made with mkdtemp under /tmp), removed with all it
// holds when the object goes. Removal never follows a link out of the folder.
#pragma once

#include <string>

namespace tltest {

class TempFolder {
 public:
  // `prefix` names the folder ("/tmp/<prefix>XXXXXX") so that a left-over says whose it was.
  explicit TempFolder(const std::string& prefix = "tl-test-");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder's absolute host path; empty when it could not be made.
  const std::string& Path() const { return m_path; }
  // `Path() + "/" + relative`.
  std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }

 private:
  std::string m_path;
};

}  // namespace tltest
