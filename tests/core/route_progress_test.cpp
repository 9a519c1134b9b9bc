// Route progress: which known meters the table has read, and why the others are not.

#include "route_progress.h"

#include <gtest/gtest.h>

using namespace palvero;

namespace {

struct Row {
    const char* name;
    const char* value;
    const char* key;
    bool decrypted;
    RouteState expected;
};

TEST(RouteProgressTest, RowStates)
{
    const Row cases[] = {
        {"read", "1.000", "", true, RouteState::Read},
        {"read with key", "1.000", "00112233445566778899AABBCCDDEEFF", true, RouteState::Read},
        {"exception is no value", "Exception", "", true, RouteState::NoValue},
        {"no value", "", "", true, RouteState::NoValue},
        {"no key", "", "", false, RouteState::NoKey},
        {"old value, not decrypted, no key", "1.000", "", false, RouteState::NoKey},
        {"wrong key", "", "00112233445566778899AABBCCDDEEFF", false, RouteState::NotDecrypted},
    };
    for (const Row& c : cases) {
        MeterTable t;
        t.setCell(1, col::MeterId, "12345678");
        t.setCell(1, col::MainValue, c.value);
        t.setCell(1, col::EncryptionKey, c.key);
        t.setFlag(RowFlag::Decrypted, 1, c.decrypted);
        EXPECT_EQ(meterRowState(t, 1), c.expected) << c.name;
    }
}

TEST(RouteProgressTest, FollowsTheTable)
{
    MeterTable t;
    RouteProgress route(t);
    std::vector<int> changed;
    int recounts = 0;
    route.onMeterChanged = [&](int i) { changed.push_back(i); };
    route.onRecounted = [&] { ++recounts; };
    route.setRoute({"10000001", "", "20000002", "10000001", "30000003"});
    EXPECT_EQ(route.knownCount(), 3);
    EXPECT_EQ(route.panelText(), "Read 0 of 3 known meters");
    EXPECT_EQ(recounts, 1);

    // Heard encrypted without a key, then read.
    t.setCell(1, col::MeterId, "20000002");
    t.setCell(1, col::Time, "10:00:00");
    t.setCell(1, col::Date, "04.05.2026");
    t.notifyRowUpdated(1);
    EXPECT_EQ(changed, std::vector<int>{1});
    EXPECT_EQ(route.meters()[1].state, RouteState::NoKey);
    EXPECT_EQ(route.meters()[1].lastHeard, "10:00:00 04.05.2026");
    EXPECT_STREQ(routeStateText(route.meters()[1].state), "no key");

    t.setCell(1, col::MainValue, "1.000");
    t.setFlag(RowFlag::Decrypted, 1, true);
    t.notifyRowUpdated(1);
    EXPECT_EQ(route.panelText(), "Read 1 of 3 known meters");
    EXPECT_EQ(changed.size(), 2u);

    // The same state again changes nothing; a meter off the route is not counted.
    t.notifyRowUpdated(1);
    const int other = t.appendRow();
    t.setCell(other, col::MeterId, "99999999");
    t.notifyRowUpdated(other);
    EXPECT_EQ(changed.size(), 2u);

    t.clearData();
    EXPECT_EQ(route.panelText(), "Read 0 of 3 known meters");
    EXPECT_EQ(route.meters()[1].state, RouteState::NotHeard);
}

} // namespace
