#include "frame_assembler.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

namespace palvero {
namespace {

using test::fromHex;

struct Harness {
    MeterTable table;
    std::vector<ReceiverFrame> frames;
    std::vector<bool> fullDecodeSeen;
    FrameAssembler assembler{table, [this](ReceiverFrame& f) {
                                 frames.push_back(f);
                                 fullDecodeSeen.push_back(table.fullDecodeMode);
                             }};
    void feed(const std::string& hex) { assembler.receive(fromHex(hex)); }
};

// A plausible telegram frame: L counts C .. RSSI.
ReceiverFrame makeFrame(uint8_t id, size_t payload, uint8_t rssi = 0x9A)
{
    ReceiverFrame f = {0x68, 0, 0x44, 0x2D, 0x2C, id, 0x56, 0x34, 0x12, 0x01, 0x07, 0x7A};
    for (size_t i = 0; i < payload; ++i)
        f.push_back(static_cast<uint8_t>(0x20 + i % 0x40)); // no 0x68 or 0x16 inside
    f.push_back(rssi);
    f.push_back(0x16);
    f[1] = static_cast<uint8_t>(f.size() - 3);
    return f;
}

TEST(FrameAssembler, LeadingBytesAreDroppedWithTheFrame)
{
    Harness h;
    h.feed("00 11 68 04 44 AA BB CC 16");
    ASSERT_EQ(h.frames.size(), 1u);
    EXPECT_EQ(h.frames[0], fromHex("68 04 44 AA BB CC 16"));
    EXPECT_EQ(h.assembler.pendingBytes(), 0u);
}

TEST(FrameAssembler, SplitFrameIsHandedOnWhenItsStopByteArrives)
{
    Harness h;
    h.feed("68 04 44");
    h.feed("AA BB");
    EXPECT_TRUE(h.frames.empty());
    h.feed("CC 16");
    ASSERT_EQ(h.frames.size(), 1u);
}

TEST(FrameAssembler, EveryCompleteFrameOfAChunkIsHandedOnAtOnce)
{
    Harness h;
    h.feed("68 04 44 AA BB CC 16 68 03 44 01 02 16 68 02");
    ASSERT_EQ(h.frames.size(), 2u);
    EXPECT_EQ(h.frames[1], fromHex("68 03 44 01 02 16"));
    EXPECT_EQ(h.assembler.pendingBytes(), 2u);
}

TEST(FrameAssembler, WrongStopByteDropsOnlyThatStartByte)
{
    Harness h;
    // 68 05 claims a stop byte where 0x55 stands; the real frame starts right after.
    h.feed("68 05 00 55 55 55 55 68 04 44 AA BB CC 16");
    ASSERT_EQ(h.frames.size(), 1u);
    EXPECT_EQ(h.frames[0], fromHex("68 04 44 AA BB CC 16"));
}

TEST(FrameAssembler, FullDecodeModeIsClearedBeforeEveryFrame)
{
    Harness h;
    h.table.fullDecodeMode = true;
    h.feed("68 04 44 AA BB CC 16");
    ASSERT_EQ(h.fullDecodeSeen.size(), 1u);
    EXPECT_FALSE(h.fullDecodeSeen[0]);
}

TEST(FrameAssembler, BytesWithoutStartByteAreNotKept)
{
    Harness h;
    std::vector<uint8_t> junk(2000, 0x55);
    h.assembler.receive(junk);
    EXPECT_EQ(h.assembler.pendingBytes(), 0u);
    h.feed("68 04 44 AA BB CC 16");
    EXPECT_EQ(h.frames.size(), 1u);
}

TEST(FrameAssembler, ErrorWhileHandlingAFrameIsLoggedAndEmptiesTheState)
{
    MeterTable table;
    int calls = 0;
    FrameAssembler a(table, [&](ReceiverFrame&) {
        ++calls;
        throw std::runtime_error("Range check error");
    });
    a.receive(fromHex("68 04 44 AA BB CC 16 68 03"));
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(table.readerLog.size(), 1u);
    EXPECT_EQ(table.readerLog[0], "Exception receiving - Range check error");
    EXPECT_EQ(a.pendingBytes(), 0u);
}

// A capture with stray bytes and corrupted frames between good ones, fed in every chunk
// size from 1 to 300 and in random chunks: exactly the good frames come out, in order.
TEST(FrameAssembler, CaptureInAnyChunkingYieldsExactlyItsFrames)
{
    std::vector<ReceiverFrame> good;
    std::vector<uint8_t> stream;
    std::mt19937 rng(7);
    for (int i = 0; i < 60; ++i) {
        ReceiverFrame f = makeFrame(static_cast<uint8_t>(i), 10 + static_cast<size_t>(rng() % 200),
                                    static_cast<uint8_t>(rng()));
        good.push_back(f);
        stream.insert(stream.end(), f.begin(), f.end());
        switch (i % 4) {
        case 1: // stray bytes, no start byte among them
            stream.insert(stream.end(), {0x00, 0x11, 0xFF});
            break;
        case 2: // a stray start byte whose stop position is not 0x16
            stream.insert(stream.end(), {0x68, 0x03, 0x01, 0x02, 0x03, 0x04});
            break;
        case 3: { // a frame whose stop byte was corrupted
            ReceiverFrame bad = makeFrame(0xEE, 30);
            bad.back() = 0x17;
            stream.insert(stream.end(), bad.begin(), bad.end());
            break;
        }
        default:
            break;
        }
    }

    auto run = [&](auto nextChunk) {
        Harness h;
        size_t at = 0;
        while (at < stream.size()) {
            size_t n = std::min(nextChunk(), stream.size() - at);
            h.assembler.receive(stream.data() + at, n);
            at += n;
        }
        return h.frames;
    };

    for (size_t chunk : {1u, 2u, 3u, 7u, 64u, 255u, 300u, 1024u, 100000u})
        EXPECT_EQ(run([&] { return chunk; }), good) << "chunk " << chunk;
    EXPECT_EQ(run([&] { return size_t{1} + rng() % 97; }), good);
}

TEST(ReceiverFrame, RssiAndEndOfTelegramDataByProtocolAndReceiver)
{
    ReadingSettings plain;            // v2 with RSSI
    ReadingSettings v1crc;
    v1crc.V1 = true;
    v1crc.V2 = false;
    v1crc.Protocol = "MORVANE with CRC";
    ReadingSettings v2crc = plain;    // the CRC bytes belong to the v1 receiver only
    v2crc.Protocol = "MORVANE with CRC";
    ReadingSettings v1noRssi = v1crc;
    v1noRssi.RSSI = false;
    ReadingSettings v2noRssi = plain;
    v2noRssi.RSSI_v2 = false;

    const ReceiverFrame crcFrame = fromHex("68 0D 44 2D 2C 78 56 34 12 01 07 7A 00 9A 12 34 16");
    const ReceiverFrame plainFrame = fromHex("68 0B 44 2D 2C 78 56 34 12 01 07 7A 00 9A 16");
    const size_t n = crcFrame.size();

    EXPECT_EQ(rssiText(crcFrame, v1crc), "-77");
    EXPECT_EQ(rssiText(plainFrame, plain), "-77");
    EXPECT_EQ(rssiText(plainFrame, v2crc), "-77");
    EXPECT_EQ(rssiText(fromHex("68 0B 44 2D 2C 78 56 34 12 01 07 7A 00 00 16"), plain), "-0");

    struct Case {
        const ReadingSettings* s;
        int end;
    } cases[] = {
        {&plain, static_cast<int>(n) - 3},
        {&v2noRssi, static_cast<int>(n) - 2},
        {&v1crc, static_cast<int>(n) - 5},
        {&v1noRssi, static_cast<int>(n) - 4},
        {&v2crc, static_cast<int>(n) - 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(telegramDataEnd(n, *c.s), c.end);
}

} // namespace
} // namespace palvero
