#pragma once
// How the bytes of an XML file become UTF-8 text: byte-order marks, UTF-16 without a mark, the
// encoding its declaration names. Internal to the viewer library.

#include <cstddef>
#include <string>

namespace MorlaneXml {

// The value of the pseudo-attribute encoding of a declaration at the start of an ASCII-compatible
// text; empty when there is none.
std::string DeclaredEncoding(const char* data, std::size_t size);

bool IsUtf16Name(const std::wstring& encoding);
bool IsUtf8Name(const std::wstring& encoding);

// How the bytes of a file become UTF-8 text.
enum class Decoding { Failed, AsIs, Converted };

// UTF-16 (with or without a mark, either byte order), UTF-8 with a mark, else the declared
// encoding, else UTF-8 when the bytes are UTF-8, else the ANSI code page. AsIs: the bytes are
// UTF-8 already (a mark is left in place); Converted: text holds them as UTF-8; Failed: reason
// says why, errorAt is the offset of the byte the encoding (said to be UTF-8 by a mark or
// declared) does not define. size is at least 2.
Decoding DecodeBytes(const unsigned char* b, std::size_t size, std::string& text,
                     std::string& reason, std::size_t& errorAt);

// The bytes as UTF-8 text, whatever DecodeBytes decided (used to show the source of an error).
std::string DecodedText(const unsigned char* b, std::size_t size);

}  // namespace MorlaneXml
