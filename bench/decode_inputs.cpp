// Writes the captures that scripts/bench-decode.sh replays, each with the data folder and
// settings it is read with:
//
//   decode_inputs FOLDER [FRAMES] [METERS]
//
//   FOLDER/plain/   plain short-header telegrams of ten records, one meter after another
//   FOLDER/mode5/   the same in security mode 5, every meter its own key in meters.mrv
//   FOLDER/mix/     a walk's mix: plain telegrams, full frames and compact frames behind an
//                   extended link layer in counter mode, every meter its own key
//
// Each folder holds capture.cap (raw receiver bytes), palvero.ini and files/meters.mrv.
// Plain C++ and libcrypto only, so that the same inputs serve any build of the program.
#include "bench_bytes.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Key = std::array<uint8_t, 16>;
using bench::crc16;
using bench::hex;

// Energy, volume, power, flow, two temperatures, a difference, a date, a date and time, error flags.
const char kTenRecords[] = "0C 06 27 04 85 02 0C 14 27 04 85 02 0B 2D 70 01 00 0B 3B 28 01 00 0A 5A 87 04 "
                           "0A 5E 51 03 0A 62 36 01 02 6C 9F 2C 04 6D 1E 11 1F 3C 02 FD 17 00 00";
const char kHeaders[] = "0C 06 0C 14 0B 2D 0B 3B 0A 5A 0A 5E 0A 62 02 6C 04 6D 02 FD 17";
const char kFields[] = "27 04 85 02 27 04 85 02 70 01 00 28 01 00 87 04 51 03 36 01 9F 2C 1E 11 1F 3C 00 00";

std::string idText(int meter)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08d", meter);
    return text;
}

std::string keyText(int meter)
{
    return "00010203" + idText(meter) + "08090A0B0C0D0E0F";
}

Key keyOf(int meter)
{
    const Bytes b = hex(keyText(meter));
    Key k{};
    std::copy(b.begin(), b.end(), k.begin());
    return k;
}

// The link layer of meter `meter` (its number in BCD) up to and including the CI field.
Bytes linkLayer(int meter, uint8_t ci)
{
    Bytes f = {0x68, 0, 0x44, 0x2D, 0x2C};
    for (int i = 0; i < 4; ++i) {
        const int two = meter % 100;
        meter /= 100;
        f.push_back(static_cast<uint8_t>(two / 10 * 16 + two % 10));
    }
    f.insert(f.end(), {0x01, 0x04, ci});
    return f;
}

void close(Bytes& f)
{
    f.push_back(0x9A); // RSSI
    f.push_back(0x16);
    f[1] = static_cast<uint8_t>(f.size() - 3);
}

void cipher(const EVP_CIPHER* kind, const Key& key, const uint8_t* iv, uint8_t* data, size_t n)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    EVP_EncryptInit_ex(ctx, kind, nullptr, key.data(), iv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, data, &written, data, static_cast<int>(n));
    EVP_CIPHER_CTX_free(ctx);
}

Bytes shortHeader(int meter, bool mode5)
{
    Bytes f = linkLayer(meter, 0x7A);
    f.insert(f.end(), {0x2A, 0x00, static_cast<uint8_t>(mode5 ? 0x40 : 0x00), static_cast<uint8_t>(mode5 ? 0x05 : 0x00)});
    const size_t first = f.size();
    Bytes records = {0x2F, 0x2F};
    const Bytes ten = hex(kTenRecords);
    records.insert(records.end(), ten.begin(), ten.end());
    if (mode5)
        while (records.size() % 16)
            records.push_back(0x2F);
    f.insert(f.end(), records.begin(), records.end());
    if (mode5) {
        uint8_t iv[16];
        std::copy(f.begin() + 3, f.begin() + 11, iv);
        std::fill(iv + 8, iv + 16, f[12]);
        cipher(EVP_aes_128_cbc(), keyOf(meter), iv, f.data() + first, 64);
    }
    close(f);
    return f;
}

// Behind an extended link layer (CI 0x8D) in counter mode: the ten records in full (inner
// CI 0x78) or as a compact frame (0x79).
Bytes extendedLink(int meter, bool compact)
{
    Bytes f = linkLayer(meter, 0x8D);
    const uint8_t sn[4] = {0x11, 0x22, 0x33, 0x20};
    f.insert(f.end(), {0x20, 0x2A, sn[0], sn[1], sn[2], sn[3], 0x00, 0x00, static_cast<uint8_t>(compact ? 0x79 : 0x78)});
    if (compact) {
        const Bytes headers = hex(kHeaders), full = hex(kTenRecords), fields = hex(kFields);
        const uint16_t signature = crc16(headers.data(), headers.size()), check = crc16(full.data(), full.size());
        f.insert(f.end(), {static_cast<uint8_t>(signature), static_cast<uint8_t>(signature >> 8),
                           static_cast<uint8_t>(check), static_cast<uint8_t>(check >> 8)});
        f.insert(f.end(), fields.begin(), fields.end());
    } else {
        const Bytes full = hex(kTenRecords);
        f.insert(f.end(), full.begin(), full.end());
    }
    const size_t crcAt = 18;
    const uint16_t crc = crc16(f.data() + crcAt + 2, f.size() - crcAt - 2);
    f[crcAt] = static_cast<uint8_t>(crc);
    f[crcAt + 1] = static_cast<uint8_t>(crc >> 8);
    uint8_t counter[16] = {};
    std::copy(f.begin() + 3, f.begin() + 11, counter);
    counter[8] = 0x20;
    std::copy(sn, sn + 4, counter + 9);
    cipher(EVP_aes_128_ctr(), keyOf(meter), counter, f.data() + crcAt, f.size() - crcAt);
    close(f);
    return f;
}

bool writeFolder(const std::filesystem::path& folder, long frames, int meters, bool keys, Bytes (*frameOf)(int, long))
{
    std::filesystem::create_directories(folder / "files");
    std::ofstream(folder / "files" / "db.mrv", std::ios::binary);
    {
        std::ofstream ini(folder / "palvero.ini", std::ios::binary);
        ini << "[Misc]\r\nUseDBMeters=1\r\n[Wireless]\r\nAES128_5=1\r\nV2=1\r\nRSSI_v2=1\r\n[Titles]\r\nCount=3\r\n";
    }
    {
        std::ofstream mrv(folder / "files" / "meters.mrv", std::ios::binary);
        for (int m = 0; keys && m < meters; ++m) {
            const std::string id = idText(m), key = keyText(m);
            mrv << char(8) << id << char(32) << key;
        }
    }
    std::ofstream cap(folder / "capture.cap", std::ios::binary);
    for (long i = 0; i < frames; ++i) {
        const Bytes f = frameOf(static_cast<int>(i % meters), i);
        cap.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
    }
    return static_cast<bool>(cap);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: decode_inputs FOLDER [FRAMES] [METERS]\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const long frames = argc > 2 ? std::atol(argv[2]) : 1000000;
    const int meters = argc > 3 ? std::atoi(argv[3]) : 10000;
    if (frames < 1 || meters < 1 || meters > 99999999) {
        std::fprintf(stderr, "decode_inputs: FRAMES and METERS must be whole numbers above 0\n");
        return 2;
    }
    bool ok = writeFolder(folder / "plain", frames, meters, false, [](int m, long) { return shortHeader(m, false); });
    ok = writeFolder(folder / "mode5", frames, meters, true, [](int m, long) { return shortHeader(m, true); }) && ok;
    // A third of the meters plain, a third behind the extended link layer in full, a third
    // in compact frames, whose format the full frames teach.
    ok = writeFolder(folder / "mix", frames, meters, true, [](int m, long) {
             switch (m % 3) {
             case 0:
                 return shortHeader(m, false);
             case 1:
                 return extendedLink(m, false);
             default:
                 return extendedLink(m, true);
             }
         }) && ok;
    if (!ok) {
        std::fprintf(stderr, "decode_inputs: cannot write into %s\n", folder.string().c_str());
        return 1;
    }
    return 0;
}
