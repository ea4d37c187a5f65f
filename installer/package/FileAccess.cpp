#include "package/FileAccess.h"

#include "platform/Files.h"

namespace CommonTools::FileAccess {

bool ReadAll(const std::wstring& path, std::string& bytes, std::wstring& error,
             std::uint64_t maxBytes) {
  platform::DWORD rc = platform::ReadWholeFile(path, bytes, maxBytes);
  if (rc == platform::ERROR_SUCCESS) return true;
  const platform::DWORD attrs = platform::GetFileAttributesW(path);
  if (rc == platform::ERROR_FILE_TOO_LARGE)
    error = L"it is larger than " + std::to_wstring(maxBytes) + L" bytes";
  else if (attrs != platform::INVALID_FILE_ATTRIBUTES &&
           (attrs & platform::FILE_ATTRIBUTE_DIRECTORY))
    error = L"it is a folder, not a file";
  else if (attrs != platform::INVALID_FILE_ATTRIBUTES && (attrs & platform::FILE_ATTRIBUTE_DEVICE))
    error = L"it is not a regular file";
  else
    error = platform::SystemErrorText(rc);
  return false;
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
