#include "key_text.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using Status = KeyText::Status;

TEST(KeyText, PastedKeysKeepTheirDigitsAndEverythingElseSaysWhy)
{
    const std::string key = "00112233445566778899aaBBccDDeeFF";
    const struct {
        std::string text;
        Status status;
        std::string digits;
        std::string problem;
    } cases[] = {
        {key, Status::Key, key, ""},
        {"0x" + key, Status::Key, key, ""},
        {"0X" + key, Status::Key, key, ""},
        {"00 11 22 33 44 55 66 77 88 99 aa BB cc DD ee FF", Status::Key, key, ""},
        {"0011-2233-4455-6677-8899-aaBB-ccDD-eeFF", Status::Key, key, ""},
        {"\t 0x 00112233 44556677\r\n8899aaBB ccDDeeFF \n", Status::Key, key, ""},
        {"00112233\xA0" "44556677\xA0" "8899aaBB\xA0" "ccDDeeFF", Status::Key, key, ""},
        {"", Status::Empty, "", "No key: a key is 32 hexadecimal digits"},
        {" - \t", Status::Empty, "", "No key: a key is 32 hexadecimal digits"},
        {"0x", Status::Empty, "", "No key: a key is 32 hexadecimal digits"},
        {"12AB", Status::Short, "12AB", "Only 4 hexadecimal digits: a key has 32"},
        {key + "0", Status::Long, key + "0", "33 hexadecimal digits: a key has 32"},
        // "0x" only leads a key: inside it would hide a wrong count.
        {"0011 0x22", Status::NotHex, "00110", "\"x\" is not a hexadecimal digit: a key is 32 digits 0-9 and A-F"},
        {key.substr(0, 31) + "G", Status::NotHex, key.substr(0, 31),
         "\"G\" is not a hexadecimal digit: a key is 32 digits 0-9 and A-F"},
        {"00112233:44", Status::NotHex, "00112233", "\":\" is not a hexadecimal digit: a key is 32 digits 0-9 and A-F"},
        {std::string("0011\x01", 5), Status::NotHex, "0011",
         "byte 01 is not a hexadecimal digit: a key is 32 digits 0-9 and A-F"},
        {"\xE9", Status::NotHex, "", "byte E9 is not a hexadecimal digit: a key is 32 digits 0-9 and A-F"},
    };
    for (const auto& c : cases) {
        const KeyText read = readKeyText(c.text);
        EXPECT_EQ(read.status, c.status) << c.text;
        EXPECT_EQ(read.digits, c.digits) << c.text;
        EXPECT_EQ(read.ok(), c.status == Status::Key) << c.text;
        EXPECT_EQ(keyProblemText(read), c.problem) << c.text;
    }
}

} // namespace
} // namespace palvero
