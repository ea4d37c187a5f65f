#include "xml/XmlEncoding.h"

#include "xml/XmlText.h"

#include <cstdio>
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

namespace {

std::string InvalidByte(unsigned char byte, const std::string& encoding) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte);
  return std::string("An invalid character was found in text content (byte ") + hex + " is not " +
         encoding + ", the document's encoding).";
}

}  // namespace

Decoding DecodeBytes(const unsigned char* b, std::size_t size, std::string& text,
                     std::string& reason, std::size_t& errorAt) {
  errorAt = 0;
  if (b[0] == 0xFF && b[1] == 0xFE) {
    text = MorlaneText::Utf16ToUtf8(b + 2, size - 2, false);
  } else if (b[0] == 0xFE && b[1] == 0xFF) {
    text = MorlaneText::Utf16ToUtf8(b + 2, size - 2, true);
  } else if (b[0] != 0 && b[1] == 0) {
    text = MorlaneText::Utf16ToUtf8(b, size, false);
  } else if (b[0] == 0 && b[1] != 0) {
    text = MorlaneText::Utf16ToUtf8(b, size, true);
  } else {
    const char* chars = reinterpret_cast<const char*>(b);
    const std::string_view bytes(chars, size);
    const bool mark = size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
    const std::string declared = DeclaredEncoding(chars + (mark ? 3 : 0), size - (mark ? 3 : 0));
    const bool declaredUtf8 = !declared.empty() && IsUtf8Name(FromUtf8(declared));
    if (!mark && !declared.empty() && !declaredUtf8 && !IsUtf16Name(FromUtf8(declared))) {
      std::size_t invalid = 0;
      if (!MorlaneText::ConvertToUtf8(bytes, declared, text, &invalid)) {
        if (invalid == std::string_view::npos) {
          reason = "System does not support the specified encoding '" + declared + "'.";
        } else {
          reason = InvalidByte(b[invalid], declared);
          errorAt = invalid;
        }
        return Decoding::Failed;
      }
    } else {
      const std::size_t invalid = MorlaneText::InvalidUtf8At(bytes);
      if (invalid == std::string_view::npos) return Decoding::AsIs;
      if (mark || declaredUtf8) {
        // Said to be UTF-8 and is not: refused where it goes wrong, never guessed (a guess
        // would be written back garbled by the next save).
        reason = InvalidByte(b[invalid], "UTF-8");
        errorAt = invalid;
        return Decoding::Failed;
      }
      // Not UTF-8 although nothing says it is: the ANSI code page, as files of the old writer
      // without a declaration are.
      MorlaneText::ConvertToUtf8(bytes, "windows-1252", text);
    }
  }
  return Decoding::Converted;
}

std::string DecodedText(const unsigned char* b, std::size_t size) {
  std::string text, reason;
  std::size_t errorAt = 0;
  const Decoding d = DecodeBytes(b, size, text, reason, errorAt);
  if (d == Decoding::AsIs || d == Decoding::Failed)
    text.assign(reinterpret_cast<const char*>(b), size);
  return text;
}

}  // namespace MorlaneXml
