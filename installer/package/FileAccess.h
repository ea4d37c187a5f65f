// The few file operations the package code needs, over the machine layer (Windows paths).
#pragma once

#include <string>

namespace CommonTools::FileAccess {

// The whole file. False with the system's text for the error when it cannot be read.
bool ReadAll(const std::wstring& path, std::string& bytes, std::wstring& error);
// Creates or truncates the file and writes the bytes.
bool WriteAll(const std::wstring& path, const std::string& bytes, std::wstring& error);
// Creates the folder with every missing parent; true when it exists afterwards.
bool CreateFolderTree(const std::wstring& folder);
bool Exists(const std::wstring& path);

}  // namespace CommonTools::FileAccess
