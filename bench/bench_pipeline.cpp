// Figures for the reading pipeline: decoding a typical telegram, and the whole receive
// path with many meters in the table, plain and encrypted.
#include "bench_bytes.h"
#include "reception.h"
#include "record_parser.h"
#include "telegram_decryption.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using bench::hex;
using palvero::ReceiverFrame;

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

// Feeds the frames in turn, one receive event each, for as long as the benchmark runs.
void receiveInTurn(benchmark::State& state, palvero::Reception& reception,
                   const std::vector<std::vector<uint8_t>>& frames)
{
    size_t next = 0;
    for (auto _ : state) {
        reception.receive(frames[next]);
        if (++next == frames.size())
            next = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

int rowsWithMainValue(const palvero::MeterTable& table)
{
    int read = 0;
    for (int row = 1; row <= table.dataRowCount(); ++row)
        read += !table.cell(row, palvero::col::MainValue).empty();
    return read;
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

    receiveInTurn(state, reception, frames);
    if (table.dataRowCount() != meters || !table.flag(palvero::RowFlag::Decrypted, table.lastReadRow))
        state.SkipWithError("frames were not all read");
}
BENCHMARK(BM_ReceivePath)->ArgsProduct({{1, 1000, 10000}, {0, 1}})->ArgNames({"meters", "mode5"});


// The ten records as a compact frame: signature over the DIF/VIF bytes, data check over
// the full records, then the data fields alone.
std::vector<uint8_t> compactTenRecords()
{
    const auto full = hex(kTenRecords);
    const std::vector<uint8_t> headers = hex("0C 06 0C 14 0B 2D 0B 3B 0A 5A 0A 5E 0A 62 02 6C 04 6D 02 FD 17");
    const std::vector<uint8_t> data = hex("27 04 85 02 27 04 85 02 70 01 00 28 01 00 87 04 51 03 36 01 9F 2C "
                                          "1E 11 1F 3C 00 00");
    const uint16_t signature = bench::crc16(headers.data(), headers.size());
    const uint16_t check = bench::crc16(full.data(), full.size());
    std::vector<uint8_t> out = {static_cast<uint8_t>(signature), static_cast<uint8_t>(signature >> 8),
                                static_cast<uint8_t>(check), static_cast<uint8_t>(check >> 8)};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A Kamstrup-style frame behind an extended link layer (CI 0x8D) with its payload in AES-CTR.
ReceiverFrame extendedLinkFrame(uint32_t id, uint8_t innerCi, const std::vector<uint8_t>& records,
                                const palvero::AesKey& key)
{
    ReceiverFrame f = frameFor(id, {});
    f.resize(11); // up to the CI field
    const uint8_t sn[4] = {0x11, 0x22, 0x33, 0x20}; // bits 29-31 of the session number: AES-CTR
    f.insert(f.end(), {0x8D, 0x20, 0x2A, sn[0], sn[1], sn[2], sn[3], 0x00, 0x00, innerCi});
    f.insert(f.end(), records.begin(), records.end());
    const size_t payload = 18; // the payload CRC
    const uint16_t crc = bench::crc16(f.data() + payload + 2, f.size() - payload - 2);
    f[payload] = static_cast<uint8_t>(crc);
    f[payload + 1] = static_cast<uint8_t>(crc >> 8);
    uint8_t counter[16] = {};
    std::copy(f.begin() + 3, f.begin() + 11, counter);
    counter[8] = 0x20;
    std::copy(sn, sn + 4, counter + 9);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_ctr(), nullptr, key.data(), counter);
    EVP_EncryptUpdate(ctx, f.data() + payload, &written, f.data() + payload, static_cast<int>(f.size() - payload));
    EVP_CIPHER_CTX_free(ctx);
    f.push_back(0x9A);
    f.push_back(0x16);
    f[1] = static_cast<uint8_t>(f.size() - 3);
    return f;
}

// A walk's mix: a third plain short-header telegrams, a third full frames behind an
// encrypted extended link layer and a third compact frames behind one, every meter with
// its own key. The table already holds every meter and has heard one full frame.
void BM_ReceivePathExtendedLinkMix(benchmark::State& state)
{
    const int meters = static_cast<int>(state.range(0));
    auto keyOf = [](uint32_t id) { return *palvero::parseKeyText(MeterKeys::keyTextFor(idText(id))); };
    const auto full = hex(kTenRecords);
    const auto compact = compactTenRecords();
    auto frameOf = [&](int i) {
        const uint32_t id = idOf(i);
        switch (i % 3) {
        case 0:
            return frameFor(id, full);
        case 1:
            return extendedLinkFrame(id, 0x78, full, keyOf(id));
        default:
            return extendedLinkFrame(id, 0x79, compact, keyOf(id));
        }
    };

    palvero::ReadingSettings s;
    s.AES128_5 = true;
    s.UseDBMeters = true;
    s.Count = 3;
    palvero::SystemFormats formats;
    palvero::MeterTable table(3);
    MeterKeys keys;
    palvero::Reception reception(table, s, formats, &keys);
    reception.receive(extendedLinkFrame(idOf(meters + 1), 0x78, full, keyOf(idOf(meters + 1))));
    for (int i = 0; i < meters; ++i)
        reception.receive(frameOf(i));

    std::vector<std::vector<uint8_t>> frames;
    const int distinct = std::min(meters, 4096);
    for (int i = 0; i < distinct; ++i)
        frames.push_back(frameOf(i * (meters / distinct)));
    receiveInTurn(state, reception, frames);
    const int read = rowsWithMainValue(table);
    state.counters["rows read"] = read;
}
BENCHMARK(BM_ReceivePathExtendedLinkMix)->Arg(10000)->ArgName("meters");

// Telegrams that only a meter format reads: a water meter's own layout (CI 0x78 of QDS,
// the compiled-in format) and a heat meter's compact frame whose full frame was never
// heard, each meter its own; every frame gives a main value.
void BM_ReceivePathMeterFormats(benchmark::State& state)
{
    const int meters = static_cast<int>(state.range(0));
    const std::vector<uint8_t> telegrams[] = {
        hex("49449344153119611D06780DFF5F350082EC0000F10007C113FFFF69000000FFFF000000005F316800000000800080008000"
            "80008000800080008000800080008006002F046D1C0A4132"),
        hex("25442D2C1376946730048D20E9F1A70B20154D79E7F1887F8E0100000000CA0900FFFF010000"),
    };
    auto frameOf = [&](int i) {
        const auto& t = telegrams[i % 2];
        ReceiverFrame f = {0x68, 0};
        f.insert(f.end(), t.begin() + 1, t.end());
        const uint32_t id = idOf(i);
        for (int b = 0; b < 4; ++b) {
            const uint32_t byte = (id >> (8 * b)) & 0xFF;
            f[static_cast<size_t>(5 + b)] = static_cast<uint8_t>(byte / 10 * 16 + byte % 10);
        }
        f.push_back(0x9A);
        f.push_back(0x16);
        f[1] = static_cast<uint8_t>(f.size() - 3);
        return f;
    };
    palvero::ReadingSettings s;
    s.AES128_5 = true;
    s.Count = 3;
    palvero::SystemFormats formats;
    palvero::MeterTable table(3);
    palvero::Reception reception(table, s, formats, nullptr);
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < meters; ++i) {
        frames.push_back(frameOf(i));
        reception.receive(frames.back());
    }
    frames.resize(static_cast<size_t>(std::min(meters, 4096)));
    receiveInTurn(state, reception, frames);
    const int read = rowsWithMainValue(table);
    if (read != meters)
        state.SkipWithError("every meter should be read by its format");
}
BENCHMARK(BM_ReceivePathMeterFormats)->Arg(10000)->ArgName("meters");

} // namespace

BENCHMARK_MAIN();
