#include "telegram_data.h"
#include "telegram_decryption.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <map>

namespace palvero {
namespace {

using test::fromHex;

const std::string kKeyText = "000102030405060708090A0B0C0D0E0F";

// OpenSSL's own CBC for the full blocks, and the final partial block combined with the
// encryption of the last cipher block: the counterpart of what the reader decrypts.
std::vector<uint8_t> encryptLikeAMeter(const AesKey& key, const AesBlock& iv, const std::vector<uint8_t>& plain)
{
    const size_t full = plain.size() / 16 * 16;
    std::vector<uint8_t> out(plain.size());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data());
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    if (full > 0)
        EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), static_cast<int>(full));
    EVP_CIPHER_CTX_free(ctx);
    if (full < plain.size()) {
        AesBlock chain = iv;
        if (full > 0)
            std::copy(out.begin() + static_cast<long>(full) - 16, out.begin() + static_cast<long>(full), chain.begin());
        AesBlock stream{};
        ctx = EVP_CIPHER_CTX_new();
        EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key.data(), nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, stream.data(), &n, chain.data(), 16);
        EVP_CIPHER_CTX_free(ctx);
        for (size_t i = full; i < plain.size(); ++i)
            out[i] = plain[i] ^ stream[i - full];
    }
    return out;
}

std::vector<uint8_t> samplePlain(size_t n)
{
    std::vector<uint8_t> p(n);
    for (size_t i = 0; i < n; ++i)
        p[i] = i < 2 ? 0x2F : static_cast<uint8_t>(i * 7 + 3);
    return p;
}

TEST(AesCbc, ThirtySevenBytesDecryptLikeTheIndependentComputation)
{
    const AesKey key = *parseKeyText(kKeyText);
    const AesBlock iv = {0x2D, 0x2C, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07, 9, 9, 9, 9, 9, 9, 9, 9};
    for (size_t n : {37u, 5u, 16u, 32u, 48u, 1u, 0u}) {
        const auto plain = samplePlain(n);
        auto data = encryptLikeAMeter(key, iv, plain);
        if (n >= 16) {
            EXPECT_NE(data, plain);
        }
        AesCbc aes;
        ASSERT_TRUE(aes.decrypt(key, iv, data.data(), data.size())) << n;
        EXPECT_EQ(data, plain) << n << " bytes";
    }
}

TEST(AesCbc, OneCipherServesChangingKeys)
{
    // The reader re-keys one context per meter; a stale key schedule for either
    // direction would garble the next meter.
    const AesKey a = *parseKeyText(kKeyText);
    const AesKey b = *parseKeyText("F0E0D0C0B0A090807060504030201000");
    const AesBlock iv = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    AesCbc aes;
    for (const AesKey* key : {&a, &b, &b, &a, &b}) {
        for (size_t n : {21u, 32u}) {
            const auto plain = samplePlain(n);
            auto data = encryptLikeAMeter(*key, iv, plain);
            ASSERT_TRUE(aes.decrypt(*key, iv, data.data(), data.size()));
            EXPECT_EQ(data, plain) << n;
        }
    }
}

TEST(AesCbc, KnownAnswerFromFips197)
{
    // FIPS-197 C.1: one block in CBC with a zero IV is the plain AES block.
    const AesKey key = *parseKeyText("000102030405060708090a0b0c0d0e0f");
    auto data = fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    AesCbc aes;
    ASSERT_TRUE(aes.decrypt(key, AesBlock{}, data.data(), data.size()));
    EXPECT_EQ(data, fromHex("00112233445566778899aabbccddeeff"));
}

TEST(KeyText, OnlyThirtyTwoHexDigitsMakeAKey)
{
    EXPECT_TRUE(parseKeyText(kKeyText).has_value());
    EXPECT_TRUE(parseKeyText("000102030405060708090a0b0c0d0e0f").has_value());
    EXPECT_FALSE(parseKeyText(kKeyText.substr(0, 31)).has_value());
    EXPECT_FALSE(parseKeyText(kKeyText + "0").has_value());
    EXPECT_FALSE(parseKeyText("0001020304050607 8090A0B0C0D0E0F").has_value());
    EXPECT_FALSE(parseKeyText("000102030405060708090A0B0C0D0E0G").has_value());
    EXPECT_FALSE(parseKeyText("").has_value());
}

TEST(EncryptionDescription, TextsByModeAndBlockCount)
{
    struct Case {
        uint8_t low, high;
        const char* text;
    } cases[] = {
        {0x00, 0x00, "Not encrypted "},
        {0x20, 0x05, "AES-128, Mode 5 (Dedicated IV). 2 blocks to decrypt. "},
        {0xB0, 0x04, "AES-128, Mode 4 (Zero IV).  11 blocks to decrypt. "},
        {0xF0, 0x05, "AES-128, Mode 5 (Dedicated IV).  15 blocks to decrypt. "},
        {0x90, 0x05, "AES-128, Mode 5 (Dedicated IV). 9 blocks to decrypt. "},
        {0x00, 0x05, "AES-128, Mode 5 (Dedicated IV). "},
        {0x30, 0x00, "Not encrypted 3 blocks to decrypt. "},
        {0x30, 0x07, "3 blocks to decrypt. "},
        {0x01, 0x07, ""},
        {0x00, 0x25, "AES-128, Mode 5 (Dedicated IV). "},
        {0x20, 0x10, "2 blocks to decrypt. "}, // reserved modes 16 and 21 are no known mode
        {0x00, 0x15, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(encryptionDescription(c.low, c.high), c.text) << int(c.low) << " " << int(c.high);
}

struct FakeKeys : MeterKeySource {
    std::map<std::string, std::string> keys;
    int lookups = 0;
    MeterKeyLookup findMeterKey(const std::string& id) override
    {
        ++lookups;
        auto it = keys.find(id);
        if (it == keys.end())
            return {};
        return {0, true, it->second};
    }
};

// A CI 0x7A telegram of meter 12345678 (KAM, water) with the given configuration word and
// records encrypted under kKeyText with the mode's IV.
struct EncryptedTelegram {
    ReceiverFrame frame;
    std::vector<uint8_t> plain;
    static constexpr size_t kPayload = 16;
};

EncryptedTelegram shortHeaderTelegram(uint8_t low, uint8_t high, size_t payloadLength = 37, bool encrypt = true)
{
    EncryptedTelegram t;
    t.plain = samplePlain(payloadLength);
    const uint8_t access = 0x5A;
    AesBlock iv{};
    if ((high & 0x1F) == 5)
        iv = {0x2D, 0x2C, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07, access, access, access, access, access, access, access,
              access};
    auto body = encrypt ? encryptLikeAMeter(*parseKeyText(kKeyText), iv, t.plain) : t.plain;
    std::vector<uint8_t> telegram = fromHex("00 44 2D 2C 78 56 34 12 01 07 7A");
    telegram.insert(telegram.end(), {access, 0x00, low, high});
    telegram.insert(telegram.end(), body.begin(), body.end());
    t.frame = test::receiverFrame(telegram);
    return t;
}

std::vector<uint8_t> payloadOf(const ReceiverFrame& f, size_t from, size_t n)
{
    return std::vector<uint8_t>(f.begin() + static_cast<long>(from), f.begin() + static_cast<long>(from + n));
}

struct DecryptionHarness {
    MeterTable table;
    ReadingSettings settings;
    FakeKeys keys;
    TelegramDecryption decryption{table, settings, &keys};
    DecryptionHarness()
    {
        settings.AES128_5 = true;
        table.setCell(1, col::MeterId, "12345678");
    }
    bool decrypted() const { return table.flag(RowFlag::Decrypted, 1); }
};

TEST(TelegramDecryption, ModesAndKeys)
{
    struct Case {
        const char* name;
        uint8_t low, high;
        bool encrypt;
        std::string rowKey;
        bool expectPlain;
        bool expectFlag;
    } cases[] = {
        {"no configuration", 0x00, 0x00, false, "", true, true},
        {"mode 0", 0x30, 0x00, false, "", true, true},
        {"mode 7 stays encrypted", 0x30, 0x07, true, kKeyText, false, false},
        {"mode 5 with the row key", 0x30, 0x05, true, kKeyText, true, true},
        {"mode 4 with the row key", 0x30, 0x04, true, kKeyText, true, true},
        {"mode 5 already plain", 0x30, 0x05, false, "", true, true},
        {"mode 5 without key", 0x30, 0x05, true, "", false, false},
        {"mode 5 with a short key", 0x30, 0x05, true, kKeyText.substr(1), false, false},
        {"mode 5 with a wrong key", 0x30, 0x05, true, "FF0102030405060708090A0B0C0D0E0F", false, false},
        // The mode has five bits: reserved modes are not mode 0 or 5 in disguise.
        {"mode 16 stays encrypted", 0x30, 0x10, false, kKeyText, false, false},
        {"mode 21 stays encrypted", 0x30, 0x15, true, kKeyText, false, false},
    };
    for (const auto& c : cases) {
        DecryptionHarness h;
        h.table.setCell(1, col::EncryptionKey, c.rowKey);
        auto t = shortHeaderTelegram(c.low, c.high, 37, c.encrypt);
        const auto before = t.frame;
        h.decryption.decrypt(1, "12345678", t.frame);
        EXPECT_EQ(h.decrypted(), c.expectFlag) << c.name;
        if (c.expectPlain) {
            EXPECT_EQ(payloadOf(t.frame, 16, 37), t.plain) << c.name;
        } else if (c.rowKey.size() != 32) {
            EXPECT_EQ(t.frame, before) << c.name << ": the frame stays as received";
        }
        EXPECT_EQ(t.frame.size(), before.size());
        EXPECT_EQ(t.frame.back(), 0x16);
        EXPECT_EQ(t.frame[t.frame.size() - 2], 0x9A) << "the RSSI byte is not payload";
    }
}

// Meters may follow their encrypted blocks with plain records: only the counted blocks are
// decrypted when they fit in the payload, and the whole payload otherwise.
TEST(TelegramDecryption, OnlyTheCountedBlocksAreDecrypted)
{
    struct Case {
        uint8_t low;
        size_t encrypted; // bytes the meter encrypted; the rest of the 37 stays plain
    } cases[] = {{0x10, 16}, {0x20, 32}, {0x30, 37}, {0xF0, 37}, {0x00 | 0x01, 37}};
    for (const auto& c : cases) {
        DecryptionHarness h;
        h.table.setCell(1, col::EncryptionKey, kKeyText);
        auto t = shortHeaderTelegram(c.low, 0x05, 37, false);
        const AesBlock iv = {0x2D, 0x2C, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A,
                             0x5A, 0x5A};
        const std::vector<uint8_t> head(t.plain.begin(), t.plain.begin() + static_cast<long>(c.encrypted));
        const auto cipher = encryptLikeAMeter(*parseKeyText(kKeyText), iv, head);
        std::copy(cipher.begin(), cipher.end(), t.frame.begin() + EncryptedTelegram::kPayload);
        h.decryption.decrypt(1, "12345678", t.frame);
        EXPECT_TRUE(h.decrypted()) << int(c.low);
        EXPECT_EQ(payloadOf(t.frame, 16, 37), t.plain) << int(c.low);
    }
}

// A real water meter sends two encrypted blocks and then plain records.
TEST(TelegramDecryption, RealMeterWithPlainRecordsAfterItsEncryptedBlocks)
{
    for (const auto& t : test::loadRealTelegrams(PALVERO_TELEGRAMS)) {
        if (t.source != "waterstarm" || t.key.empty())
            continue;
        ReceiverFrame f = test::receiverFrame(fromHex(t.telegramHex));
        const auto tail = payloadOf(f, 16 + 32, f.size() - 2 - 16 - 32);
        DecryptionHarness h;
        h.table.setCell(1, col::EncryptionKey, t.key);
        h.decryption.decrypt(1, t.meterId, f);
        EXPECT_TRUE(h.decrypted());
        EXPECT_EQ(payloadOf(f, 16 + 32, tail.size()), tail) << "the plain records after the blocks stay as sent";
        return;
    }
    FAIL() << "no encrypted waterstarm telegram in the table";
}

TEST(TelegramDecryption, MasterKeyWinsOverTheRowKey)
{
    DecryptionHarness h;
    h.settings.UseMaster = true;
    h.settings.MasterKey = kKeyText;
    h.table.setCell(1, col::EncryptionKey, "FF0102030405060708090A0B0C0D0E0F");
    auto t = shortHeaderTelegram(0x30, 0x05);
    h.decryption.decrypt(1, "12345678", t.frame);
    EXPECT_TRUE(h.decrypted());
    EXPECT_EQ(h.keys.lookups, 0);
}

TEST(TelegramDecryption, DatabaseKeyIsCopiedIntoAnEmptyRowOnly)
{
    DecryptionHarness h;
    h.settings.UseDBMeters = true;
    h.keys.keys["12345678"] = kKeyText;
    // A row added for this telegram has no meter ID yet: the telegram's ID is looked up.
    h.table.setCell(1, col::MeterId, "");
    auto t = shortHeaderTelegram(0x30, 0x05);
    h.decryption.decrypt(1, "12345678", t.frame);
    EXPECT_TRUE(h.decrypted());
    EXPECT_EQ(h.table.cell(1, col::EncryptionKey), kKeyText);
    EXPECT_EQ(h.keys.lookups, 1);

    // The key now stays with the row, whatever the database holds.
    h.keys.keys["12345678"] = "FF0102030405060708090A0B0C0D0E0F";
    auto again = shortHeaderTelegram(0x30, 0x05);
    h.decryption.decrypt(1, "12345678", again.frame);
    EXPECT_TRUE(h.decrypted());
    EXPECT_EQ(h.keys.lookups, 1);

    DecryptionHarness off;
    off.keys.keys["12345678"] = kKeyText;
    auto t3 = shortHeaderTelegram(0x30, 0x05);
    off.decryption.decrypt(1, "12345678", t3.frame);
    EXPECT_FALSE(off.decrypted());
    EXPECT_EQ(off.keys.lookups, 0);
}

// The IV of a meter behind a converter comes from its long header; an extended link
// layer with a second address is read like the short one.
TEST(TelegramDecryption, LongHeaderAndExtendedLinkLayers)
{
    const AesKey key = *parseKeyText(kKeyText);
    const auto plain = samplePlain(21);
    // Meter 87654321 of manufacturer 0x1C08, version 0x33, water (0x07), access 0x42.
    const AesBlock meterIv = {0x08, 0x1C, 0x21, 0x43, 0x65, 0x87, 0x33, 0x07, 0x42, 0x42, 0x42, 0x42, 0x42, 0x42,
                              0x42, 0x42};
    const auto body = encryptLikeAMeter(key, meterIv, plain);
    const std::string longHeader = "21 43 65 87 08 1C 33 07 42 00 30 05";
    const std::string link = "00 44 2D 2C 78 56 34 12 01 31 ";
    struct Case {
        std::string header;
        size_t payload;
    } cases[] = {
        {"72 " + longHeader, 24},
        {"8C 20 01 72 " + longHeader, 27},
        {"8E 20 01 11 22 33 44 55 66 77 88 72 " + longHeader, 35},
    };
    for (const auto& c : cases) {
        auto telegram = fromHex(link + c.header);
        telegram.insert(telegram.end(), body.begin(), body.end());
        DecryptionHarness h;
        h.table.setCell(1, col::EncryptionKey, kKeyText);
        ReceiverFrame f = test::receiverFrame(telegram);
        h.decryption.decrypt(1, "12345678", f);
        EXPECT_TRUE(h.decrypted()) << c.header;
        EXPECT_EQ(payloadOf(f, c.payload, plain.size()), plain) << c.header;
    }

    // 0x8E with a short inner header: access number 23, configuration 25-26, payload 27.
    const AesBlock linkIv = {0x2D, 0x2C, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07, 0x42, 0x42, 0x42, 0x42, 0x42, 0x42,
                             0x42, 0x42};
    const auto shortBody = encryptLikeAMeter(key, linkIv, plain);
    auto telegram = fromHex("00 44 2D 2C 78 56 34 12 01 07 8E 20 01 11 22 33 44 55 66 77 88 7A 42 00 20 05");
    telegram.insert(telegram.end(), shortBody.begin(), shortBody.end());
    DecryptionHarness h;
    h.table.setCell(1, col::EncryptionKey, kKeyText);
    ReceiverFrame f = test::receiverFrame(telegram);
    h.decryption.decrypt(1, "12345678", f);
    EXPECT_TRUE(h.decrypted());
    EXPECT_EQ(payloadOf(f, 27, plain.size()), plain);

    // Without a key the 0x8E telegram is not taken for plain text.
    DecryptionHarness none;
    ReceiverFrame g = test::receiverFrame(telegram);
    none.decryption.decrypt(1, "12345678", g);
    EXPECT_FALSE(none.decrypted());
}

TEST(TelegramDecryption, CrcProtocolKeepsTheTrailerOutOfThePayload)
{
    DecryptionHarness h;
    h.settings.V1 = true;
    h.settings.V2 = false;
    h.settings.Protocol = "MORVANE with CRC";
    h.table.setCell(1, col::EncryptionKey, kKeyText);
    auto t = shortHeaderTelegram(0x30, 0x05, 37);
    // Rebuild with CRC bytes after the RSSI byte.
    std::vector<uint8_t> telegram(t.frame.begin() + 1, t.frame.end() - 2); // from the L field, no trailer
    ReceiverFrame f = test::receiverFrame(telegram, 0x9A, true);
    h.decryption.decrypt(1, "12345678", f);
    EXPECT_TRUE(h.decrypted());
    EXPECT_EQ(payloadOf(f, 16, 37), t.plain);
    EXPECT_EQ(payloadOf(f, f.size() - 4, 4), fromHex("9A 12 34 16"));
}

} // namespace
} // namespace palvero
