#include "cipher_modes.h"
#include "compact_formats.h"
#include "crc16.h"
#include "reception.h"
#include "telegram_data.h"
#include "telegram_layers.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cmath>
#include <map>
#include <set>

namespace palvero {
namespace {

using test::fromHex;

struct Walk {
    MeterTable table{3};
    ReadingSettings settings;
    FixedFormats formats;
    test::TableKeys keys;
    Reception reception{table, settings, formats, &keys};
    Walk()
    {
        settings.AES128_5 = true;
        settings.UseDBMeters = true;
        table.fullDecodeMode = true;
    }
    // Through the whole reception, as from the receiver (only a first frame is listed).
    void hear(const std::string& hex) { reception.receive(test::receiverFrame(fromHex(hex))); }
    // Straight to the telegram processor, listed in the full-decode listing.
    void receive(const std::vector<uint8_t>& telegram)
    {
        table.fullDecodeMode = true;
        ReceiverFrame f = test::receiverFrame(telegram);
        reception.processor().process(f);
    }
    void receive(const std::string& hex) { receive(fromHex(hex)); }
    const std::string& lastListed() const
    {
        static const std::string none;
        return table.fullDecodeListing.size() >= 2 ? table.fullDecodeListing[table.fullDecodeListing.size() - 2]
                                                   : none;
    }
    const std::string& cell(int column, int row = 1) const { return table.cell(row, column); }
    bool decrypted(int row = 1) const { return table.flag(RowFlag::Decrypted, row); }
};

// The cell's value in the unit of the expected total, and one unit of its last digit there.
bool inUnit(const std::string& value, const std::string& unit, const std::string& wanted, double& number,
            double& lastDigit)
{
    static const std::map<std::string, double> toKwh = {{"Wh", 1e-3}, {"kWh", 1},        {"MWh", 1e3}, {"J", 1 / 3.6e6},
                                                        {"kJ", 1 / 3.6e3}, {"MJ", 1 / 3.6}, {"GJ", 1e3 / 3.6}};
    double factor = 0;
    if (wanted == "m3" && unit == "m3")
        factor = 1;
    else if (wanted == "kWh" && toKwh.count(unit))
        factor = toKwh.at(unit);
    if (factor == 0 || value.empty())
        return false;
    const size_t point = value.find('.');
    const int decimals = point == std::string::npos ? 0 : static_cast<int>(value.size() - point - 1);
    number = std::stod(value) * factor;
    lastDigit = std::pow(10.0, -decimals) * factor;
    return true;
}

// Telegrams whose total stays unread, and why (see the listing line). The compact frames
// whose full frame was never heard are read by their meter formats.
const std::map<std::string, std::string> kUnread = {
    {"4720068B", "Payload is encrypted (security mode 24)"}, // a reserved mode is no plain text
};

TEST(FurtherMeters, EveryCategoryGivesItsTotal)
{
    std::map<std::string, int> read, total;
    for (const auto& t : test::loadFurtherTelegrams(PALVERO_FURTHER_TELEGRAMS)) {
        if (t.category == "manufacturer CI")
            continue;
        Walk w;
        if (!t.key.empty())
            w.keys.keys[t.meterId] = t.key;
        for (const auto& hex : t.telegramsHex)
            w.hear(hex);
        const std::string name = t.source + " " + t.meterId + " (" + t.category + ")";
        ++total[t.category];
        ASSERT_EQ(w.cell(col::MeterId), t.meterId) << name;
        auto unread = kUnread.find(t.meterId);
        if (unread != kUnread.end()) {
            EXPECT_EQ(w.cell(col::MainValue), "") << name;
            w.receive(t.telegramsHex.back());
            EXPECT_EQ(w.lastListed().rfind(unread->second, 0), 0u) << name << ": " << w.lastListed();
            continue;
        }
        double value = 0, digit = 0;
        ASSERT_TRUE(inUnit(w.cell(col::MainValue), w.cell(col::Units), t.expectedUnit, value, digit))
            << name << ": \"" << w.cell(col::MainValue) << "\" " << w.cell(col::Units);
        // Both the cell and the expected total are rounded to their last digit.
        const size_t point = t.expectedTotal.find('.');
        const double expectedDigit =
            point == std::string::npos ? 1 : std::pow(10.0, -static_cast<double>(t.expectedTotal.size() - point - 1));
        EXPECT_LE(std::fabs(value - std::stod(t.expectedTotal)), std::max(digit, expectedDigit))
            << name << ": " << w.cell(col::MainValue) << " " << w.cell(col::Units);
        EXPECT_TRUE(w.decrypted()) << name;
        ++read[t.category];
    }
    const std::map<std::string, int> expectedRead = {{"AFL 0x90, mode 7", 5},
                                                     {"compact frame", 1},
                                                     {"device type without a main unit", 0},
                                                     {"energy in J units", 5},
                                                     {"extended link layer 0x8D", 21}};
    for (const auto& [category, count] : expectedRead) {
        EXPECT_EQ(read[category], count) << category << " of " << total[category];
    }
}

TEST(FurtherMeters, UnitsOfTheMainValue)
{
    struct Case {
        const char* meterId;
        const char* value;
        const char* units;
    } cases[] = {
        {"71727374", "16059.000", "MJ"},  // heat/cooling meter, energy in MJ
        {"05128041", "3378184.800", "kJ"}, // behind a short extended link layer
        {"85412440", "19.000", "GJ"},     // besides a kWh-free record set
        {"98499485", "6642.000", "MJ"},   // the first current energy record, with a VIFE
        {"00502420", "25.637", "m3"},     // radio converter 0x37: its volume
        {"62215006", "161720.000", "MJ"}, // behind an extended link layer
        {"78152801", "68457.000", "kWh"}, // a compact frame with the compiled-in format
    };
    std::map<std::string, test::FurtherTelegram> rows;
    for (const auto& t : test::loadFurtherTelegrams(PALVERO_FURTHER_TELEGRAMS))
        rows.emplace(t.meterId, t);
    for (const auto& c : cases) {
        Walk w;
        const auto& t = rows.at(c.meterId);
        w.receive(t.telegramsHex.back());
        EXPECT_EQ(w.cell(col::MainValue), c.value) << c.meterId;
        EXPECT_EQ(w.cell(col::Units), c.units) << c.meterId;
    }
}

TEST(Crc16, CheckValueAndPayloads)
{
    const std::string digits = "123456789";
    EXPECT_EQ(crc16En13757(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xC2B7);
    EXPECT_EQ(crc16En13757(nullptr, 0), 0xFFFF);
    // The payload CRC of a real meter's extended link layer: 0x6C57, sent as 57 6C.
    const auto payload = fromHex("78 02 FF 20 71 00 04 13 08 19 00 00 44 13 08 19 00 00 61 5B 7F 61 67 13");
    EXPECT_EQ(crc16En13757(payload.data(), payload.size()), 0x6C57);
}

TEST(ExtendedLinkLayer, CounterBlockFromTheLinkFields)
{
    // M 2D 2C, A 99 87 34 76 1B 16, CC 0x32 (repeated and hop bits set), SN D3 7C AC 21.
    const ReceiverFrame f = test::receiverFrame(fromHex("2A 44 2D 2C 99 87 34 76 1B 16 8D 32 91 D3 7C AC 21 57 6C"));
    const TelegramLayers l = readTelegramLayers(f, ReadingSettings{});
    ASSERT_TRUE(l.link.present());
    EXPECT_EQ(l.link.encryption, 1);
    const AesBlock expected = {0x2D, 0x2C, 0x99, 0x87, 0x34, 0x76, 0x1B, 0x16, 0x20, 0xD3, 0x7C, 0xAC, 0x21, 0, 0, 0};
    EXPECT_EQ(linkCounterBlock(f, l.link), expected);
}

TEST(TelegramLayers, OffsetsOfEachLayer)
{
    struct Case {
        const char* afterLink; // from the CI on
        int ellEnd, aflAt, aflEnd, counter, mac, macLength, messageLength, applicationCiAt, payload;
    } cases[] = {
        // Short extended link layer, AFL with MCL, MCR and an 8-byte MAC, mode 7 short header.
        {"8C 00 2A 90 0F 00 2C 25 B7 64 00 00 BA D0 D4 FB 90 7B 9B E1 7A FA 00 31 07 10 2F 2F", 14, 14, 31, 19, 23,
         8, -1, 31, 37},
        // AFL straight after the link layer with key information and a message length.
        {"90 0F 00 3E 24 01 02 03 04 05 06 07 08 09 0A 0B 0C 78 2F", -1, 11, 28, 18, 22, 4, 26, 28, 29},
        // Encrypted-capable extended link layer II with a compact frame.
        {"8D 20 91 D3 7C AC 20 00 00 79 12 C4", 20, -1, -1, -1, -1, 0, -1, 20, 21},
        // Extended link layer IV: a second address before the session number.
        {"8F 20 91 11 22 33 44 55 66 77 88 D3 7C AC 00 00 00 7B 01 00 00 00", 28, -1, -1, -1, -1, 0, -1, 28, 33},
    };
    for (const auto& c : cases) {
        ReceiverFrame f = test::receiverFrame(fromHex(std::string("00 44 2D 2C 78 56 34 12 01 07 ") + c.afterLink));
        // The payload CRC over whatever follows it, as the meter would send it.
        TelegramLayers l = readTelegramLayers(f, ReadingSettings{});
        if (l.link.hasPayloadCrc()) {
            const int end = l.dataEnd;
            const uint16_t crc =
                crc16En13757(f.data() + l.link.payloadCrc + 2, static_cast<size_t>(end - l.link.payloadCrc - 1));
            f[static_cast<size_t>(l.link.payloadCrc)] = static_cast<uint8_t>(crc);
            f[static_cast<size_t>(l.link.payloadCrc) + 1] = static_cast<uint8_t>(crc >> 8);
            l = readTelegramLayers(f, ReadingSettings{});
        }
        const std::string name = c.afterLink;
        EXPECT_TRUE(l.readable) << name;
        EXPECT_EQ(l.link.end, c.ellEnd) << name;
        EXPECT_EQ(l.auth.at, c.aflAt) << name;
        EXPECT_EQ(l.auth.end, c.aflEnd) << name;
        EXPECT_EQ(l.auth.messageCounter, c.counter) << name;
        EXPECT_EQ(l.auth.mac, c.mac) << name;
        EXPECT_EQ(l.auth.macLength, c.macLength) << name;
        EXPECT_EQ(l.auth.messageLength, c.messageLength) << name;
        EXPECT_EQ(l.applicationCiAt, c.applicationCiAt) << name;
        EXPECT_EQ(l.transport.payload, c.payload) << name;
        EXPECT_TRUE(l.hasFurtherLayers()) << name;
    }
    // Cut telegrams: every offset stays where it would be, nothing is read past the data.
    for (const char* cut : {"8D 20", "90", "90 0F 00 2C", "8C 00 2A 90 0F", "7B 01", "73 20 24"}) {
        const ReceiverFrame f = test::receiverFrame(fromHex(std::string("00 44 2D 2C 78 56 34 12 01 07 ") + cut));
        const TelegramLayers l = readTelegramLayers(f, ReadingSettings{});
        EXPECT_EQ(l.payloadLength(), 0) << cut;
    }
}

TEST(AesCmac, Rfc4493Vectors)
{
    const AesKey key = *parseKeyText("2B7E151628AED2A6ABF7158809CF4F3C");
    const auto message = fromHex("6BC1BEE22E409F96E93D7E117393172A AE2D8A571E03AC9C9EB76FAC45AF8E51"
                                 "30C81C46A35CE411E5FBC1191A0A52EF F69F2445DF4F9B17AD2B417BE66C3710");
    const struct {
        size_t length;
        const char* mac;
    } cases[] = {{0, "BB1D6929E95937287FA37D129B756746"},
                 {16, "070A16B46B4D4144F79BDD9DD04A287C"},
                 {40, "DFA66747DE9AE63030CA32611497C827"},
                 {64, "51F0BEBF7E3B9D92FC49741779363CFE"}};
    AesCmac cmac;
    for (const auto& c : cases) {
        const auto mac = cmac.mac(key, message.data(), c.length);
        ASSERT_TRUE(mac) << c.length;
        EXPECT_EQ(*mac, *parseKeyText(c.mac)) << c.length;
    }
}

TEST(SecurityMode7, KeyDerivationInput)
{
    // Message counter B7 64 00 00; link ID 33 44 33 44; a long header's ID wins over it.
    const std::string link = "00 44 A5 11 33 44 33 44 63 07 8C 00 2A 90 0F 00 2C 25 B7 64 00 00 BA D0 D4 FB 90 7B 9B E1 ";
    const ReceiverFrame shortHeader = test::receiverFrame(fromHex(link + "7A FA 00 31 07 10 2F 2F"));
    auto input = keyDerivationInput(shortHeader, readTelegramLayers(shortHeader, ReadingSettings{}));
    ASSERT_TRUE(input);
    EXPECT_EQ(*input, *parseKeyText("00B764000033443344070707070707" "07"));
    const ReceiverFrame longHeader =
        test::receiverFrame(fromHex(link + "72 78 56 34 12 A5 11 01 07 FA 00 31 07 10 2F 2F"));
    input = keyDerivationInput(longHeader, readTelegramLayers(longHeader, ReadingSettings{}));
    ASSERT_TRUE(input);
    EXPECT_EQ(*input, *parseKeyText("00B764000078563412070707070707" "07"));
    // Without an authentication layer there is no counter to derive from.
    const ReceiverFrame none = test::receiverFrame(fromHex("00 44 A5 11 33 44 33 44 63 07 7A FA 00 31 07 10 2F 2F"));
    EXPECT_FALSE(keyDerivationInput(none, readTelegramLayers(none, ReadingSettings{})));
}

const std::string kKey = "000102030405060708090A0B0C0D0E0F";
// Water meter 12345678: volume 12.345 m3 and a flow temperature.
const std::string kRecords = "04 13 39 30 00 00 02 5A E8 03";

// A meter's telegram behind an extended link layer II, its payload in AES-CTR under `key`
// with OpenSSL's own counter mode.
std::vector<uint8_t> counterModeTelegram(const std::string& key, const std::string& inner)
{
    std::vector<uint8_t> t = fromHex("00 44 2D 2C 78 56 34 12 01 07 8D 20 5A 11 22 33 20 00 00");
    const auto body = fromHex(inner);
    t.insert(t.end(), body.begin(), body.end());
    const uint16_t crc = crc16En13757(t.data() + 19, t.size() - 19);
    t[17] = static_cast<uint8_t>(crc);
    t[18] = static_cast<uint8_t>(crc >> 8);
    const uint8_t counter[16] = {0x2D, 0x2C, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07, 0x20, 0x11, 0x22, 0x33, 0x20};
    const AesKey k = *parseKeyText(key);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_ctr(), nullptr, k.data(), counter);
    EVP_EncryptUpdate(ctx, t.data() + 17, &n, t.data() + 17, static_cast<int>(t.size() - 17));
    EVP_CIPHER_CTX_free(ctx);
    return t;
}

TEST(ExtendedLinkLayer, CounterModeTelegramsReadOnlyWithTheirKey)
{
    // Long enough for a short last block of the counter mode.
    const std::string inner = "78 " + kRecords + " 02 5A E8 03 02 5A E8 03 02 5A E8 03";
    const auto telegram = counterModeTelegram(kKey, inner);
    struct Case {
        const char* name;
        std::string key;
        bool decrypt;
        bool read;
        const char* listing;
    } cases[] = {
        {"its key", kKey, true, true, "1. 12.345 m3, "},
        {"no key", "", true, false, "Payload is encrypted (extended link layer, AES-128 counter mode)"},
        {"a wrong key", "FF" + kKey.substr(2), true, false, "Payload is encrypted (extended link layer"},
        {"decryption off", kKey, false, false, "Payload is encrypted (extended link layer"},
    };
    for (const auto& c : cases) {
        Walk w;
        w.settings.AES128_5 = c.decrypt;
        w.keys.keys["12345678"] = c.key;
        w.table.setCell(1, col::MeterId, "12345678");
        w.table.setCell(1, col::No, "1");
        w.table.setCell(1, col::MainValue, "7.000");
        w.table.setCell(1, col::Units, "m3");
        ReceiverFrame f = test::receiverFrame(telegram);
        const ReceiverFrame before = f;
        w.reception.processor().process(f);
        EXPECT_EQ(w.cell(col::MainValue), c.read ? "12.345" : "7.000") << c.name;
        EXPECT_EQ(w.cell(col::Units), "m3") << c.name;
        EXPECT_EQ(w.cell(col::Medium), "Water") << c.name;
        EXPECT_EQ(w.decrypted(), c.read) << c.name;
        if (!c.read) {
            EXPECT_EQ(f, before) << c.name << ": the frame stays as received";
        }
        ASSERT_GE(w.table.fullDecodeListing.size(), 2u) << c.name;
        EXPECT_EQ(w.table.fullDecodeListing[1].rfind(c.listing, 0), 0u) << c.name << ": " << w.table.fullDecodeListing[1];
    }
}

TEST(ExtendedLinkLayer, RealCiphertextWithItsKey)
{
    for (const auto& t : test::loadFurtherTelegrams(PALVERO_FURTHER_TELEGRAMS)) {
        if (t.key.empty() || t.category != "extended link layer 0x8D")
            continue;
        Walk w;
        w.receive(t.telegramsHex.back());
        EXPECT_EQ(w.cell(col::MainValue), "") << "no key: no value";
        w.table.setCell(1, col::EncryptionKey, t.key);
        w.receive(t.telegramsHex.back());
        EXPECT_EQ(w.cell(col::MainValue), "6.408");
        EXPECT_TRUE(w.decrypted());
    }
}

// A telegram in security mode 7 behind a short extended link layer and an authentication
// layer, encrypted with the key derived for its message counter and a zero IV.
std::vector<uint8_t> modeSevenTelegram(const std::string& masterKey, uint8_t derivation)
{
    const std::vector<uint8_t> head = fromHex("00 44 A5 11 33 44 33 44 63 07 8C 00 2A 90 0F 00 2C 25 B7 64 00 00 "
                                              "00 00 00 00 00 00 00 00 7A FA 00 20 07");
    std::vector<uint8_t> plain = fromHex("2F 2F " + kRecords);
    while (plain.size() < 32)
        plain.push_back(0x2F);
    AesKey key = *parseKeyText(masterKey);
    if (derivation == 0x10) {
        const auto input = fromHex("00 B7 64 00 00 33 44 33 44 07 07 07 07 07 07 07");
        key = *AesCmac().mac(key, input.data(), input.size());
    }
    std::vector<uint8_t> cipher(plain.size());
    const uint8_t iv[16] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, cipher.data(), &n, plain.data(), static_cast<int>(plain.size()));
    EVP_CIPHER_CTX_free(ctx);
    std::vector<uint8_t> t = head;
    t.push_back(derivation);
    t.insert(t.end(), cipher.begin(), cipher.end());
    return t;
}

TEST(SecurityMode7, EncryptedTelegramsReadWithTheDerivedKey)
{
    struct Case {
        const char* name;
        uint8_t derivation;
        std::string key;
        bool read;
    } cases[] = {
        {"derived key", 0x10, kKey, true},
        {"the meter's key itself", 0x00, kKey, true},
        {"derived key, wrong key", 0x10, "FF" + kKey.substr(2), false},
        {"no key", 0x10, "", false},
        {"unknown derivation", 0x20, kKey, false},
    };
    for (const auto& c : cases) {
        Walk w;
        w.keys.keys["44334433"] = c.key;
        auto telegram = modeSevenTelegram(kKey, c.derivation);
        w.receive(telegram);
        EXPECT_EQ(w.cell(col::MainValue), c.read ? "12.345" : "") << c.name;
        EXPECT_EQ(w.decrypted(), c.read) << c.name;
        if (!c.read) {
            ASSERT_GE(w.table.fullDecodeListing.size(), 2u) << c.name;
            EXPECT_EQ(w.table.fullDecodeListing[1], "Payload is encrypted (security mode 7) and was not decoded")
                << c.name;
        }
    }
}

TEST(SecurityMode7, FragmentsAreNotDecoded)
{
    Walk w;
    // More fragments follow (FCL bit 0x4000): the transport layer is not whole here.
    w.receive("00 44 A5 11 33 44 33 44 63 07 90 02 01 40 7A FA 00 00 00 " + kRecords);
    EXPECT_EQ(w.cell(col::MainValue), "");
    ASSERT_GE(w.table.fullDecodeListing.size(), 2u);
    EXPECT_EQ(w.table.fullDecodeListing[1], "Fragment of a longer message (authentication layer), not decoded");
}

// The full frame of a multical21-like meter and the same reading as a compact frame.
const std::string kFull = "00 44 2D 2C 78 56 34 12 1B 16 78 02 FF 20 00 00 04 13 39 30 00 00 02 5A E8 03";
std::string compactOf(const std::string& headers, const std::string& fullRecords, const std::string& data)
{
    const auto h = fromHex(headers), r = fromHex(fullRecords);
    const uint16_t signature = crc16En13757(h.data(), h.size()), check = crc16En13757(r.data(), r.size());
    return "00 44 2D 2C 78 56 34 12 1B 16 79 " + hexByte(static_cast<uint8_t>(signature))
        + hexByte(static_cast<uint8_t>(signature >> 8)) + hexByte(static_cast<uint8_t>(check))
        + hexByte(static_cast<uint8_t>(check >> 8)) + " " + data;
}
const std::string kCompact = compactOf("02 FF 20 04 13 02 5A", "02 FF 20 00 00 04 13 39 30 00 00 02 5A E8 03",
                                       "00 00 39 30 00 00 E8 03");

TEST(CompactFrames, ReadWithTheFormatOfAFullFrameHeardBefore)
{
    Walk w;
    w.reception.processor().compactFormats() = CompactFormats(false);
    w.receive(kCompact);
    EXPECT_EQ(w.cell(col::MainValue), "");
    w.receive(kCompact);
    ASSERT_EQ(w.table.readerLog.size(), 1u) << "told once per meter";
    EXPECT_EQ(w.table.readerLog[0].rfind("Compact frame from meter 12345678: format ", 0), 0u) << w.table.readerLog[0];

    w.receive(kFull);
    EXPECT_EQ(w.cell(col::MainValue), "12.345");
    w.table.setCell(1, col::MainValue, "");
    w.receive(kCompact);
    EXPECT_EQ(w.cell(col::MainValue), "12.345") << w.lastListed() << " " << kCompact;
    EXPECT_EQ(w.reception.processor().decodedRecords().cell(2, DecodedRecords::Value), "100.000");

    // One data byte changed: the data check fails and the row keeps its value.
    std::string damaged = kCompact;
    damaged.replace(damaged.size() - 2, 2, "04");
    w.table.setCell(1, col::MainValue, "1.000");
    w.receive(damaged);
    EXPECT_EQ(w.cell(col::MainValue), "1.000");
    EXPECT_EQ(w.table.fullDecodeListing[w.table.fullDecodeListing.size() - 2].rfind(
                  "Compact frame whose data check fails for format ", 0),
              0u);
}

// A compact frame may send a billing-date volume before the current one: only the current
// one is the meter's total, and without one the row shows none.
TEST(CompactFrames, OnlyACurrentValueIsTheTotal)
{
    struct Case {
        const char* name;
        const char* headers;
        const char* records;
        const char* data;
        const char* value;
    } cases[] = {
        {"billing value first", "02 FF 20 44 13 04 13", "02 FF 20 00 08 44 13 00 00 00 00 04 13 1F 0F 00 00",
         "00 08 00 00 00 00 1F 0F 00 00", "3.871"},
        {"current value first", "02 FF 20 04 13 44 13", "02 FF 20 00 08 04 13 1F 0F 00 00 44 13 00 00 00 00",
         "00 08 1F 0F 00 00 00 00 00 00", "3.871"},
        {"a billing value alone", "02 FF 20 44 13", "02 FF 20 00 08 44 13 00 00 00 00", "00 08 00 00 00 00", ""},
    };
    for (const auto& c : cases) {
        Walk w;
        w.reception.processor().compactFormats() = CompactFormats(false);
        w.reception.processor().compactFormats().learn(fromHex(c.headers));
        w.receive(compactOf(c.headers, c.records, c.data));
        EXPECT_EQ(w.cell(col::MainValue), c.value) << c.name << ": " << w.lastListed();
    }
}

TEST(CompactFrames, RebuildingByFormat)
{
    struct Case {
        const char* name;
        const char* headers;
        const char* data;
        bool ok;
        const char* rebuilt;
    } cases[] = {
        {"fixed lengths", "04 13 02 5A", "39 30 00 00 E8 03", true, "04 13 39 30 00 00 02 5A E8 03"},
        {"extension chains", "84 10 FB 8D 3C 01 FD 17", "01 02 03 04 05", true,
         "84 10 FB 8D 3C 01 02 03 04 01 FD 17 05"},
        {"a variable-length text", "0D FD 11 01 13", "03 41 42 43 07", true, "0D FD 11 03 41 42 43 01 13 07"},
        {"extra bytes are left out", "01 13", "07 2F 2F", true, "01 13 07"},
        {"data run out", "04 13 02 5A", "39 30 00 00 E8", false, ""},
        {"a chain cut in the format", "04 93", "39 30 00 00", false, ""},
    };
    for (const auto& c : cases) {
        const auto data = fromHex(c.data);
        std::vector<uint8_t> out;
        EXPECT_EQ(rebuildCompactRecords(fromHex(c.headers), data.data(), data.size(), out), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(out, fromHex(c.rebuilt)) << c.name;
        }
    }
}

TEST(CompactFrames, LearnedFormatsAreKeptBesideTheMetersFile)
{
    test::TempDir dir;
    {
        Walk w;
        w.reception.processor().compactFormats() = CompactFormats(false);
        w.reception.keepCompactFormatsIn(dir.path());
        EXPECT_FALSE(std::filesystem::exists(dir / kCompactFormatsFileName)) << "created only when needed";
        w.receive(kFull);
        w.receive(kFull);
    }
    const std::string text = test::readFile(dir / kCompactFormatsFileName);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    test::writeFile(dir / kCompactFormatsFileName, text + "not a format\n1234 04 13\n\n");

    // The next walk reads the compact frame at once.
    Walk next;
    next.reception.processor().compactFormats() = CompactFormats(false);
    next.reception.keepCompactFormatsIn(dir.path());
    EXPECT_EQ(next.reception.processor().compactFormats().skippedLines(), 2);
    next.receive(kCompact);
    EXPECT_EQ(next.cell(col::MainValue), "12.345");

    // A data folder that is not there is not created; the reader log says so once.
    Walk lost;
    lost.reception.processor().compactFormats() = CompactFormats(false);
    lost.reception.keepCompactFormatsIn(dir / "missing");
    lost.receive(kFull);
    lost.receive("00 44 2D 2C 78 56 34 13 1B 16 78 04 13 39 30 00 00");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    ASSERT_EQ(lost.table.readerLog.size(), 1u);
    EXPECT_EQ(lost.table.readerLog[0].rfind("Compact frame formats cannot be saved to ", 0), 0u);
    lost.receive(kCompact);
    EXPECT_EQ(lost.cell(col::MainValue), "12.345") << "the format serves this walk all the same";
}

TEST(CompactFrames, FullFramesThatNameNoFormat)
{
    // A format is learned from whole records only: not from manufacturer data, a unit
    // text or a record cut by the end of the telegram.
    for (const char* records : {"04 13 39 30 00 00 0F 01 02", "04 13 39 30 00 00 02 7C 01 61 05 00", "04 13 39 30 00"}) {
        Walk w;
        w.reception.processor().compactFormats() = CompactFormats(false);
        w.receive(std::string("00 44 2D 2C 78 56 34 12 1B 16 78 ") + records);
        EXPECT_EQ(w.reception.processor().compactFormats().size(), 0u) << records;
    }
}

TEST(MainValue, OtherScalesAndDevicesWithoutAMainUnit)
{
    struct Case {
        const char* name;
        const char* telegram; // from the C field on
        const char* value;
        const char* units;
    } cases[] = {
        {"kWh device: MJ of storage 1 is skipped for the current one",
         "44 2D 2C 78 56 34 12 01 04 7A 01 00 00 00 44 0E 05 00 00 00 04 0E 09 00 00 00", "9.000", "MJ"},
        {"kWh device: a maximum is no reading", "44 2D 2C 78 56 34 12 01 04 7A 01 00 00 00 14 0E 05 00 00 00 04 FB 09 03 00 00 00",
         "3.000", "GJ"},
        {"kWh device: a tariff is no total", "44 2D 2C 78 56 34 12 01 04 7A 01 00 00 00 84 10 0E 05 00 00 00", "", ""},
        {"kWh device: its own unit first", "44 2D 2C 78 56 34 12 01 04 7A 01 00 00 00 04 0E 05 00 00 00 04 06 07 00 00 00",
         "7.000", "kWh"},
        {"radio converter behind an authentication layer: volume before energy",
         "44 2D 2C 78 56 34 12 01 37 90 02 00 00 7A 01 00 00 00 04 06 07 00 00 00 04 13 39 30 00 00", "12.345", "m3"},
        {"radio converter: energy when there is no volume",
         "44 2D 2C 78 56 34 12 01 37 90 02 00 00 7A 01 00 00 00 04 0E 05 00 00 00", "5.000", "MJ"},
        {"bus device in the older layers keeps no main value",
         "44 2D 2C 78 56 34 12 01 0E 8C 04 F4 7A BE 04 00 00 04 13 39 30 00 00", "", ""},
    };
    for (const auto& c : cases) {
        Walk w;
        w.receive(std::string("00 ") + c.telegram);
        EXPECT_EQ(w.cell(col::MainValue), c.value) << c.name;
        EXPECT_EQ(w.cell(col::Units), c.units) << c.name;
    }
}

} // namespace
} // namespace palvero
