#include "host/controller_roster.h"

#include <gtest/gtest.h>

namespace tavoro::host {
namespace {

// The holder and the repetitions still due after each event, from a started session with primary P
// and viewers A and B attached.
TEST(ControllerRoster, HolderStateMachine)
{
    struct Row {
        const char* event;
        std::string who;
        bool changes;
        std::string holder;
        int ticks;
    };
    const std::vector<Row> rows{
        {"request", "X", false, "P", 5}, // not attached
        {"request", "", false, "P", 5},
        {"request", "A", true, "A", 3},
        {"release", "P", false, "A", 3}, // not the holder
        {"request", "B", true, "B", 3},  // the latest request wins
        {"remove", "B", true, "P", 3},   // the holder left: back to the primary
        {"request", "A", true, "A", 3},
        {"release", "A", true, "none", 3},
        {"remove", "A", false, "none", 3},
        {"remove", "A", false, "none", 3}, // unknown by now
    };
    ControllerRoster roster({"P", "p-call"});
    roster.started();
    ASSERT_EQ(roster.attach("A", "a-call"), ControllerRoster::Attach::added);
    ASSERT_EQ(roster.attach("B", "b-call"), ControllerRoster::Attach::added);
    for (const auto& row : rows) {
        const std::string event = row.event;
        bool changed = false;
        if (event == "request") {
            changed = roster.requestControl(row.who);
        } else if (event == "release") {
            changed = roster.releaseControl(row.who);
        } else {
            changed = roster.remove(row.who).holderChanged;
        }
        EXPECT_EQ(changed, row.changes) << event << " " << row.who;
        EXPECT_EQ(roster.holder(), row.holder) << event << " " << row.who;
        int ticks = 0;
        for (ControllerRoster copy = roster; copy.takeStateTick();) {
            ++ticks;
        }
        EXPECT_EQ(ticks, row.ticks) << event << " " << row.who;
    }
}

TEST(ControllerRoster, AttachPromoteAndClear)
{
    ControllerRoster roster({"P", "p1"});
    roster.started();
    EXPECT_EQ(roster.attach("A", "a1"), ControllerRoster::Attach::added);
    EXPECT_EQ(roster.attach("A", "a2"), ControllerRoster::Attach::refreshed);
    EXPECT_EQ(roster.attach("B", "b1"), ControllerRoster::Attach::added);
    EXPECT_EQ(roster.attach("C", "c1"), ControllerRoster::Attach::added);
    EXPECT_EQ(roster.attach("D", "d1"), ControllerRoster::Attach::full);
    EXPECT_EQ(roster.targets(), (std::vector<ControllerTarget>{{"P", "p1"}, {"A", "a2"}, {"B", "b1"}, {"C", "c1"}}));

    EXPECT_EQ(roster.promote(), "P");
    EXPECT_EQ(roster.primary(), (ControllerTarget{"A", "a2"}));
    EXPECT_EQ(roster.holder(), "A") << "control follows a primary that held it";
    roster.requestControl("C");
    EXPECT_EQ(roster.promote(), "A");
    EXPECT_EQ(roster.holder(), "C");

    EXPECT_EQ(roster.clear(), (std::vector<ControllerTarget>{{"C", "c1"}}));
    EXPECT_EQ(roster.holder(), "none");
    EXPECT_FALSE(roster.promote());
}

} // namespace
} // namespace tavoro::host
