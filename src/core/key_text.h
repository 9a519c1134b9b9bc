#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace palvero {

// An AES-128 key as an operator types or pastes it: 32 hexadecimal digits, perhaps
// grouped with spaces, tabs or dashes and led by "0x", as key sheets and e-mails give
// them. The reader keeps the digits as written (case unchanged) and says what is wrong
// with anything else; it never guesses a key from text that holds other characters.
struct KeyText {
    enum class Status {
        Key,    // exactly 32 hex digits
        Empty,  // nothing but blanks
        Short,  // fewer than 32 hex digits, nothing else wrong
        Long,   // more than 32 hex digits
        NotHex, // a character that is neither a hex digit nor a separator
    };
    static constexpr std::size_t kDigits = 32;

    Status status = Status::Empty;
    std::string digits; // the hex digits found, in order
    char bad = 0;       // NotHex: the first character that is not allowed

    bool ok() const { return status == Status::Key; }
};

KeyText readKeyText(std::string_view text);

// What the operator is told beside a key field that refuses the text; empty for a key.
std::string keyProblemText(const KeyText& key);

} // namespace palvero
