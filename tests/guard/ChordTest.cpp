#include "Chord.h"

#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include <vector>

using namespace owguard;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds Hold{3000};
constexpr unsigned Unplug = 0; // a step with this code unplugs its device

struct Step {
    int ms, device;
    unsigned code;
    int value;
};

void play(Chord& chord, const std::vector<Step>& steps)
{
    for (const auto& step : steps) {
        if (step.code == Unplug)
            chord.forget(step.device, milliseconds(step.ms));
        else
            chord.key(step.device, step.code, step.value, milliseconds(step.ms));
    }
}

TEST(Chord, CompletesOnlyForBothCtrlOrBothSuperHeldThroughTheHold)
{
    constexpr int Never = -1;
    const struct {
        const char* name;
        std::vector<Step> steps;
        int completesAtMs;
    } rows[] = {
        {"both ctrl", {{0, 1, KEY_LEFTCTRL, 1}, {100, 1, KEY_RIGHTCTRL, 1}}, 3100},
        {"both super", {{0, 1, KEY_RIGHTMETA, 1}, {0, 1, KEY_LEFTMETA, 1}}, 3000},
        {"one ctrl only", {{0, 1, KEY_LEFTCTRL, 1}}, Never},
        {"ctrl and super mixed", {{0, 1, KEY_LEFTCTRL, 1}, {0, 1, KEY_RIGHTMETA, 1}}, Never},
        {"ctrl and super mixed the other way", {{0, 1, KEY_RIGHTCTRL, 1}, {0, 1, KEY_LEFTMETA, 1}}, Never},
        {"both ctrl on two keyboards", {{0, 1, KEY_LEFTCTRL, 1}, {50, 2, KEY_RIGHTCTRL, 1}}, 3050},
        {"autorepeat changes nothing",
         {{0, 1, KEY_LEFTCTRL, 1}, {0, 1, KEY_RIGHTCTRL, 1}, {500, 1, KEY_LEFTCTRL, 2}, {900, 1, KEY_RIGHTCTRL, 2}}, 3000},
        {"autorepeat of a key held from before the lock is no press",
         {{0, 1, KEY_LEFTCTRL, 1}, {600, 1, KEY_RIGHTCTRL, 2}}, Never},
        {"a key held from before the lock counts once pressed again",
         {{0, 1, KEY_LEFTCTRL, 1}, {200, 1, KEY_RIGHTCTRL, 0}, {1000, 1, KEY_RIGHTCTRL, 1}}, 4000},
        {"a release starts the hold over",
         {{0, 1, KEY_LEFTCTRL, 1}, {0, 1, KEY_RIGHTCTRL, 1}, {2000, 1, KEY_LEFTCTRL, 0}, {2500, 1, KEY_LEFTCTRL, 1}}, 5500},
        {"other keys beside the chord do not matter",
         {{0, 1, KEY_A, 1}, {0, 1, KEY_LEFTCTRL, 1}, {10, 1, KEY_RIGHTCTRL, 1}, {700, 1, KEY_A, 0}, {800, 1, KEY_LEFTSHIFT, 1}}, 3010},
        {"a key still held on the other keyboard keeps the chord",
         {{0, 1, KEY_LEFTCTRL, 1}, {0, 2, KEY_LEFTCTRL, 1}, {0, 2, KEY_RIGHTCTRL, 1}, {1000, 1, KEY_LEFTCTRL, 0}}, 3000},
        {"unplugging a keyboard lets go of its keys",
         {{0, 1, KEY_LEFTCTRL, 1}, {0, 2, KEY_RIGHTCTRL, 1}, {1000, 2, Unplug, 0}}, Never},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Chord chord(Hold);
        play(chord, row.steps);
        if (row.completesAtMs == Never) {
            EXPECT_FALSE(chord.complete(milliseconds(60'000)));
        } else {
            EXPECT_FALSE(chord.complete(milliseconds(row.completesAtMs - 1)));
            EXPECT_TRUE(chord.complete(milliseconds(row.completesAtMs)));
            EXPECT_LE(*chord.wakeAt(), milliseconds(row.completesAtMs));
        }
    }
}

// Polls the chord every millisecond, as often as any loop could, and keeps what it reports.
std::vector<std::pair<int, double>> pollReports(Chord& chord, const std::vector<Step>& steps, int untilMs)
{
    std::vector<std::pair<int, double>> reports;
    auto next = steps.begin();
    for (int ms = 0; ms <= untilMs; ++ms) {
        for (; next != steps.end() && next->ms == ms; ++next)
            play(chord, {*next});
        if (const auto fraction = chord.report(milliseconds(ms)))
            reports.emplace_back(ms, *fraction);
    }
    return reports;
}

TEST(Chord, ReportsARisingFractionAtMostThirtyTimesASecondAndZeroOnceWhenBroken)
{
    std::vector<Step> bouncing = {{0, 1, KEY_RIGHTCTRL, 1}}; // the chord made and broken every 7 ms
    for (int ms = 0; ms < 2000; ms += 7)
        bouncing.insert(bouncing.end(), {{ms, 1, KEY_LEFTCTRL, 1}, {ms + 3, 1, KEY_LEFTCTRL, 0}});
    const struct {
        const char* name;
        std::vector<Step> steps;
        double highest;
        size_t atLeast; // a bar that moves smoothly
    } rows[] = {
        {"held, then let go", {{0, 1, KEY_LEFTMETA, 1}, {0, 1, KEY_RIGHTMETA, 1}, {2400, 1, KEY_RIGHTMETA, 0}}, 0.8, 24},
        {"bouncing", bouncing, 0.0, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Chord chord(Hold);
        const auto reports = pollReports(chord, row.steps, 5000);
        ASSERT_GE(reports.size(), row.atLeast);
        for (auto report = reports.begin(); report != reports.end(); ++report) {
            const auto inASecond = std::count_if(report, reports.end(), [&](const auto& r) { return r.first < report->first + 1000; });
            EXPECT_LE(inASecond, 30) << "from " << report->first << " ms";
            EXPECT_TRUE(report->second >= 0.0 && report->second <= 1.0);
            EXPECT_TRUE(row.highest == 0 || report == reports.end() - 1 || report->second == report->first / 3000.0)
                << "held for " << report->first << " ms";
        }
        EXPECT_EQ(reports.back().second, 0.0);
        EXPECT_TRUE(row.highest == 0 || reports.end()[-2].second != 0) << "one zero when broken, not more";
        EXPECT_NEAR(std::max_element(reports.begin(), reports.end(), [](auto& a, auto& b) { return a.second < b.second; })->second,
                    row.highest, 0.05);
        EXPECT_FALSE(chord.wakeAt()) << "nothing left to report";
    }
}

} // namespace
