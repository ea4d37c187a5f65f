#include "xml/XmlEncoding.h"

#include "xml/XmlText.h"

#include <cstring>

using MorlaneText::EqualsNoCase;
using MorlaneText::FromUtf8;

namespace MorlaneXml {

std::string DeclaredEncoding(const char* data, std::size_t size) {
  if (size < 6 || std::strncmp(data, "<?xml", 5) != 0) return std::string();
  const std::size_t limit = size < 1024 ? size : 1024;
  const std::string head(data, limit);
  const std::size_t close = head.find("?>");
  const std::string decl = head.substr(0, close == std::string::npos ? head.size() : close);
  const std::size_t key = decl.find("encoding");
  if (key == std::string::npos) return std::string();
  std::size_t i = key + 8;
  while (i < decl.size() &&
         (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' || decl[i] == '\n'))
    ++i;
  if (i >= decl.size() || decl[i] != '=') return std::string();
  ++i;
  while (i < decl.size() &&
         (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' || decl[i] == '\n'))
    ++i;
  if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return std::string();
  const char quote = decl[i];
  const std::size_t endQuote = decl.find(quote, i + 1);
  if (endQuote == std::string::npos) return std::string();
  return decl.substr(i + 1, endQuote - i - 1);
}

bool IsUtf16Name(const std::wstring& encoding) {
  return EqualsNoCase(encoding, L"UTF-16") || EqualsNoCase(encoding, L"UCS-2") ||
         EqualsNoCase(encoding, L"UNICODE") || EqualsNoCase(encoding, L"UTF-16LE");
}

bool IsUtf8Name(const std::wstring& encoding) {
  return EqualsNoCase(encoding, L"UTF-8") || EqualsNoCase(encoding, L"UTF8");
}

Decoding DecodeBytes(const unsigned char* b, std::size_t size, std::string& text,
                     std::string& reason) {
  if (b[0] == 0xFF && b[1] == 0xFE) {
    text = MorlaneText::Utf16ToUtf8(b + 2, size - 2, false);
  } else if (b[0] == 0xFE && b[1] == 0xFF) {
    text = MorlaneText::Utf16ToUtf8(b + 2, size - 2, true);
  } else if (b[0] != 0 && b[1] == 0) {
    text = MorlaneText::Utf16ToUtf8(b, size, false);
  } else if (b[0] == 0 && b[1] != 0) {
    text = MorlaneText::Utf16ToUtf8(b, size, true);
  } else if (size > 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    return Decoding::AsIs;
  } else {
    const char* chars = reinterpret_cast<const char*>(b);
    const std::string declared = DeclaredEncoding(chars, size);
    const std::string_view bytes(chars, size);
    if (!declared.empty() && !IsUtf8Name(FromUtf8(declared)) && !IsUtf16Name(FromUtf8(declared))) {
      if (!MorlaneText::ConvertToUtf8(bytes, declared, text)) {
        reason = "System does not support the specified encoding '" + declared + "'.";
        return Decoding::Failed;
      }
    } else if (MorlaneText::IsValidUtf8(bytes)) {
      return Decoding::AsIs;
    } else {
      // Not UTF-8 although nothing else is declared: the ANSI code page.
      MorlaneText::ConvertToUtf8(bytes, "windows-1252", text);
    }
  }
  return Decoding::Converted;
}

std::string DecodedText(const unsigned char* b, std::size_t size) {
  std::string text, reason;
  if (DecodeBytes(b, size, text, reason) == Decoding::AsIs)
    text.assign(reinterpret_cast<const char*>(b), size);
  return text;
}

}  // namespace MorlaneXml
