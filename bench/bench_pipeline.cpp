// Figures for the reading pipeline: decoding a typical telegram, and the whole receive
// path with many meters in the table, plain and encrypted.
#include "reception.h"
#include "record_parser.h"
#include "telegram_decryption.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using palvero::ReceiverFrame;

std::vector<uint8_t> hex(const std::string& text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

// A heat meter telegram with ten records: energy, volume, power, flow, two temperatures,
// a temperature difference, a date, a date and time, an error flag word.
const std::string kTenRecords = "0C 06 27 04 85 02 0C 14 27 04 85 02 0B 2D 70 01 00 0B 3B 28 01 00 0A 5A 87 04 "
                                "0A 5E 51 03 0A 62 36 01 02 6C 9F 2C 04 6D 1E 11 1F 3C 02 FD 17 00 00";

ReceiverFrame frameFor(uint32_t id, const std::vector<uint8_t>& afterCi, uint8_t cfgLow = 0x00, uint8_t cfgHigh = 0x00)
{
    ReceiverFrame f = {0x68, 0, 0x44, 0x2D, 0x2C};
    for (int i = 0; i < 4; ++i) {
        uint32_t byte = (id >> (8 * i)) & 0xFF;
        f.push_back(static_cast<uint8_t>(byte / 10 * 16 + byte % 10)); // BCD of two decimal digits
    }
    f.insert(f.end(), {0x01, 0x04, 0x7A, 0x2A, 0x00, cfgLow, cfgHigh});
    f.insert(f.end(), afterCi.begin(), afterCi.end());
    f.push_back(0x9A);
    f.push_back(0x16);
    f[1] = static_cast<uint8_t>(f.size() - 3);
    return f;
}

uint32_t idOf(int i)
{
    // Two decimal digits per byte keep the identification a valid BCD number.
    return static_cast<uint32_t>((i % 100) | ((i / 100 % 100) << 8) | ((i / 10000 % 100) << 16));
}

void encryptPayload(ReceiverFrame& f, const palvero::AesKey& key)
{
    // Mode 5: IV from M, ID, version, type and the access number.
    palvero::AesBlock iv{};
    for (int i = 0; i < 8; ++i)
        iv[static_cast<size_t>(i)] = f[static_cast<size_t>(3 + i)];
    std::fill(iv.begin() + 8, iv.end(), f[12]);
    const size_t first = 16, n = (f.size() - 2 - first) / 16 * 16;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data());
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, f.data() + first, &written, f.data() + first, static_cast<int>(n));
    EVP_CIPHER_CTX_free(ctx);
}

void BM_DecodeTenRecordTelegram(benchmark::State& state)
{
    const ReceiverFrame f = frameFor(12345678, hex(kTenRecords));
    palvero::ReadingSettings s;
    palvero::DecodedRecords records;
    for (auto _ : state) {
        palvero::decodeTelegram(f, s, '.', records);
        benchmark::DoNotOptimize(records.rowCount());
    }
    if (records.recordCount() != 10)
        state.SkipWithError("the telegram should hold ten records");
    state.SetItemsProcessed(state.iterations() * records.recordCount());
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * records.recordCount()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeTenRecordTelegram);

// Each meter its own key, as the meters file gives them.
struct MeterKeys : palvero::MeterKeySource {
    palvero::MeterKeyLookup findMeterKey(const std::string& id) override
    {
        return {1, true, keyTextFor(id)};
    }
    static std::string keyTextFor(const std::string& id) { return "00010203" + id + "08090A0B0C0D0E0F"; }
};

std::string idText(uint32_t id)
{
    // The frame carries every byte in BCD, two decimal digits each.
    std::string bcd;
    for (int i = 3; i >= 0; --i) {
        uint32_t byte = (id >> (8 * i)) & 0xFF;
        char two[4];
        std::snprintf(two, sizeof two, "%02u", byte);
        bcd += two;
    }
    return bcd;
}

// Frames of `meters` different meters fed as receive events into a table that already
// holds every one of them; arg 1 selects mode 5 telegrams, each meter with its own key.
void BM_ReceivePath(benchmark::State& state)
{
    const int meters = static_cast<int>(state.range(0));
    const bool encrypted = state.range(1) != 0;
    auto keyOf = [](uint32_t id) { return *palvero::parseKeyText(MeterKeys::keyTextFor(idText(id))); };

    std::vector<uint8_t> records = {0x2F, 0x2F};
    auto ten = hex(kTenRecords);
    records.insert(records.end(), ten.begin(), ten.end());
    while (records.size() % 16)
        records.push_back(0x2F);

    std::vector<std::vector<uint8_t>> frames;
    const int distinct = std::min(meters, 4096);
    for (int i = 0; i < distinct; ++i) {
        const uint32_t id = idOf(i * (meters / distinct));
        ReceiverFrame f = frameFor(id, records, encrypted ? 0x40 : 0x00, encrypted ? 0x05 : 0x00);
        if (encrypted)
            encryptPayload(f, keyOf(id));
        frames.push_back(f);
    }

    palvero::ReadingSettings s;
    s.AES128_5 = true;
    s.UseDBMeters = true;
    s.Count = 3;
    palvero::SystemFormats formats;
    palvero::MeterTable table(3);
    MeterKeys keys;
    palvero::Reception reception(table, s, formats, &keys);
    for (int i = 0; i < meters; ++i) {
        ReceiverFrame f = frameFor(idOf(i), records, encrypted ? 0x40 : 0x00, encrypted ? 0x05 : 0x00);
        if (encrypted)
            encryptPayload(f, keyOf(idOf(i)));
        reception.receive(f);
    }
    if (table.dataRowCount() != meters)
        state.SkipWithError("the table should hold every meter");

    size_t next = 0;
    for (auto _ : state) {
        reception.receive(frames[next]);
        if (++next == frames.size())
            next = 0;
    }
    if (table.dataRowCount() != meters || !table.flag(palvero::RowFlag::Decrypted, table.lastReadRow))
        state.SkipWithError("frames were not all read");
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceivePath)->ArgsProduct({{1, 1000, 10000}, {0, 1}})->ArgNames({"meters", "mode5"});

} // namespace

BENCHMARK_MAIN();
