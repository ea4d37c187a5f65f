// The settings tree over pugixml. Keeps what the installer relies on from the platform parser:
// the XML declaration is the document's first node (so the root is the node after it);
// comments and non-blank text are nodes, blank text between elements is not kept; child names
// compare without case, attribute names exactly; files are read in any declared encoding and
// written UTF-16 with a byte-order mark, indented. Paths are Windows paths of the machine.
#pragma once

#include "package/LogSink.h"
#include "package/Settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace CommonTools {

// The most bytes of a settings file Load reads unless told otherwise: an install script with the
// texts of all its languages stays far below it.
inline constexpr std::uint64_t kMaxSettingsFileBytes = 32u << 20;

// The parsed document with a count of the changes made to any element's children (see the .cpp).
struct XmlTree;

class CXmlSettings : public ISettings {
 public:
  CXmlSettings();
  ~CXmlSettings() override;

  // A file larger than the read limit is not read (LastError says so).
  bool Load(const std::wstring& path) override;
  bool Save(const std::wstring& path) override;
  // The most bytes Load reads: kMaxSettingsFileBytes unless set lower (or higher) here.
  void SetReadLimit(std::uint64_t maxBytes) { m_readLimit = maxBytes; }
  bool GetRoot(SettingsNodePtr& node) override;
  bool CreateRoot(const std::wstring& name, SettingsNodePtr& node) override;

  // Parsing and writing without files (used by Load and Save, and by tests).
  bool LoadFromBytes(const std::string& bytes);
  std::string SaveToBytes() const;

  const std::wstring& GetPath() const { return m_path; }
  // Why the last Load failed: "line L, column C: reason" or a file error; empty after success.
  const std::wstring& LastError() const { return m_error; }

  // Where the loaded text stands, for tools that point at a node of the script: the text as
  // parsed (UTF-8) and the byte offset of a node of this document in it ("<" of an element),
  // -1 when unknown (a node made after loading, or of another document).
  const std::string& SourceText() const;
  long SourceOffset(const SettingsNodePtr& node) const;
  // The document's element (which GetRoot finds only when the declaration stands before it).
  bool GetDocumentElement(SettingsNodePtr& node);

 private:
  std::shared_ptr<XmlTree> m_doc;
  std::wstring m_path;
  std::wstring m_error;
  std::uint64_t m_readLimit;
};

// Text helpers shared by the package code.
std::string ToUtf8(const std::wstring& s);
std::wstring FromUtf8(const std::string& s);
bool EqualNoCase(const std::wstring& a, const std::wstring& b);

// Converts a whole XML file's bytes to UTF-8 (byte-order marks, UTF-16 either byte order, the
// encoding named by the declaration). False with a reason when it cannot.
bool XmlBytesToUtf8(const std::string& bytes, std::string& utf8, std::wstring& error);

}  // namespace CommonTools
