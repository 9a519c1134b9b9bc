#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace palvero {

// The single-byte code page in which cells, data files and CSV files hold their text. The
// bytes stay what they are; the code page only says which character each byte stands for.
enum class CodePage : std::uint8_t { Windows1251, Windows1252 };

inline constexpr char kWindows1251Name[] = "Windows-1251";
inline constexpr char kWindows1252Name[] = "Windows-1252";

// "Windows-1251" or "Windows-1252", without regard to case; anything else is none.
std::optional<CodePage> codePageNamed(std::string_view name);
const char* codePageName(CodePage page);

// The code page of the languages written in Cyrillic (Bulgarian, Russian, Serbian,
// Macedonian, Ukrainian), given as an ISO 639 code ("bg", "ru_RU.UTF-8" and the like
// count by their first letters); Windows-1252 for every other language.
CodePage codePageForLanguage(std::string_view language);

// The character a byte stands for. Every byte has one: the few bytes a code page leaves
// undefined stand for the control character of the same number, so that any byte shown
// and typed back is the same byte.
char32_t codePageCharacter(CodePage page, std::uint8_t byte);

// The byte of a character; none when the code page cannot hold it.
std::optional<std::uint8_t> codePageByte(CodePage page, char32_t character);

// UTF-8 text as single-byte text. False when the text holds a character the code page
// cannot hold, or bytes that are no UTF-8; `unheld` then tells the first such character
// (U+FFFD for bytes that are no UTF-8) and `out` holds the text before it.
bool utf8ToCodePage(std::string_view utf8, CodePage page, std::string& out, char32_t* unheld = nullptr);

// Single-byte text as UTF-8, for messages and status texts that quote a cell.
std::string codePageToUtf8(std::string_view bytes, CodePage page);

// The character of UTF-8 text at `at`, moving `at` past it; U+FFFD, one byte taken, for
// bytes that are no UTF-8 (a cut, over-long or surrogate sequence).
char32_t decodeUtf8(std::string_view utf8, std::size_t& at);

// One character as UTF-8.
std::string utf8Of(char32_t character);

} // namespace palvero
