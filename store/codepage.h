#pragma once
// Single-byte code pages of dBase files (cp437, cp850, cp1252) to and from
// UTF-8. Small own tables: the table layer stays free of Qt.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zuna::store {

enum class CodePage { cp437, cp850, cp1252 };

// Code page named by the language driver byte (header byte 29) of a dBase
// file: 0x00/0x01 cp437, 0x02 cp850, 0x03/0x57 and anything else cp1252.
CodePage code_page_of_driver(uint8_t driver);

// Decodes bytes of the code page into UTF-8 (every byte has a character).
std::string to_utf8(std::string_view bytes, CodePage cp);

// Encodes UTF-8 into the code page; nullopt when the text is not valid UTF-8
// or holds a character the code page does not have.
std::optional<std::string> from_utf8(std::string_view utf8, CodePage cp);

// The first character of utf8 that the code page lacks, as UTF-8; empty
// when there is none (or the text is not valid UTF-8).
std::string missing_character(std::string_view utf8, CodePage cp);

// "437", "850" or "1252", for messages.
const char* code_page_name(CodePage cp);

// One byte of the code page as a Unicode code point.
char32_t code_point(uint8_t byte, CodePage cp);

// Appends a code point as UTF-8.
void append_utf8(std::string& out, char32_t c);

} // namespace zuna::store
