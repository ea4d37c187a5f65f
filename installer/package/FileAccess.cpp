#include "package/FileAccess.h"

#include "platform/Files.h"

namespace CommonTools::FileAccess {

bool ReadAll(const std::wstring& path, std::string& bytes, std::wstring& error) {
  platform::DWORD rc = platform::ReadWholeFile(path, bytes);
  if (rc != platform::ERROR_SUCCESS) {
    error = platform::SystemErrorText(rc);
    return false;
  }
  return true;
}

bool WriteAll(const std::wstring& path, const std::string& bytes, std::wstring& error) {
  platform::DWORD rc = platform::WriteWholeFile(path, bytes);
  if (rc != platform::ERROR_SUCCESS) {
    error = platform::SystemErrorText(rc);
    return false;
  }
  return true;
}

bool CreateFolderTree(const std::wstring& folder) {
  platform::DWORD rc = platform::CreateDirectoryWithParents(folder);
  return rc == platform::ERROR_SUCCESS ||
         (rc == platform::ERROR_ALREADY_EXISTS && platform::PathIsDirectoryW(folder));
}

bool Exists(const std::wstring& path) { return platform::PathFileExistsW(path); }

}  // namespace CommonTools::FileAccess
