// A telegram of a meter the table knows is read without a single allocation: every buffer
// it needs has grown on an earlier telegram. Counted with the program's own operator new,
// which is why this test is a program of its own.
#include "reception.h"
#include "telegram_data.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
// Apart, so that a debugger can stop where a counted allocation is made.
__attribute__((noinline)) void countAllocation()
{
    ++g_allocations;
}
} // namespace

void* operator new(std::size_t n)
{
    if (g_counting)
        countAllocation();
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace palvero {
namespace {

// Every real telegram of the project's tables, as the receiver delivers them, with keys.
TEST(Allocations, AKnownMeterIsReadWithoutAllocating)
{
    test::TableKeys keys;
    std::vector<ReceiverFrame> frames;
    for (const auto& t : test::loadRealTelegrams(PALVERO_TELEGRAMS)) {
        frames.push_back(test::receiverFrame(test::fromHex(t.telegramHex)));
        keys.keys[t.meterId] = t.key;
    }
    for (const auto& t : test::loadFurtherTelegrams(PALVERO_FURTHER_TELEGRAMS)) {
        for (const auto& hex : t.telegramsHex)
            frames.push_back(test::receiverFrame(test::fromHex(hex)));
        keys.keys[t.meterId] = t.key;
    }
    ASSERT_GE(frames.size(), 60u);

    const struct {
        const char* name;
        bool notes;
        bool removeUnit;
        int count;
    } cases[] = {{"three values", false, false, 3}, {"notes, sixteen values without units", true, true, 16}};
    for (const auto& c : cases) {
        ReadingSettings s;
        s.AES128_5 = true;
        s.UseDBMeters = true;
        s.UseNotes = c.notes;
        s.RemoveUnit = c.removeUnit;
        s.Count = c.count;
        FixedFormats formats;
        MeterTable table(c.count);
        Reception reception(table, s, formats, &keys);
        // Twice before counting: the second round lets every buffer reach its size.
        for (int round = 0; round < 2; ++round)
            for (const auto& f : frames)
                reception.receive(f);
        const size_t logLines = table.readerLog.size();
        g_allocations = 0;
        g_counting = true;
        for (const auto& f : frames)
            reception.receive(f);
        g_counting = false;
        EXPECT_EQ(g_allocations.load(), 0) << c.name;
        EXPECT_EQ(table.readerLog.size(), logLines) << c.name;
    }
}

} // namespace
} // namespace palvero
