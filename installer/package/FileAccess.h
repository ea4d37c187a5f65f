// The few file operations the package code needs, over the machine layer (Windows paths).
#pragma once

#include <cstdint>
#include <string>

namespace CommonTools::FileAccess {

// The whole file, when it is a file of at most `maxBytes`. False with the reason when it cannot
// be read: the system's text for the error, or "it is a folder, not a file", "it is not a
// regular file", "it is larger than N bytes".
bool ReadAll(const std::wstring& path, std::string& bytes, std::wstring& error,
             std::uint64_t maxBytes = UINT64_MAX);
// Creates or truncates the file and writes the bytes.
bool WriteAll(const std::wstring& path, const std::string& bytes, std::wstring& error);
// Creates the folder with every missing parent; true when it exists afterwards.
bool CreateFolderTree(const std::wstring& folder);
bool Exists(const std::wstring& path);

}  // namespace CommonTools::FileAccess
