#include "testing/TempFolder.h"

#include "platform/HostIo.h"

namespace tltest {

TempFolder::TempFolder(const std::string& prefix) : m_path(platform::hostio::MakeTempDir(prefix)) {}

TempFolder::~TempFolder() {
  if (!m_path.empty()) platform::hostio::RemoveTree(m_path);
}

}  // namespace tltest
