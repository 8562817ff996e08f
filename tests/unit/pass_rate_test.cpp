// Passes per hour over a sliding window, on virtual time.
#include "pass_rate.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using station::PassRate;
using std::chrono::seconds;

TEST(PassRate, CountsTheLastQuarterHourOrSinceTheStart) {
    // 24 sockets, a module each every 10 s (8640 an hour), the first 24 at
    // once after 7 s: measured from the start that read 12 000 an hour.
    const struct {
        int at;                      // seconds after the start
        std::optional<double> rate;  // an hour
    } cases[] = {
        {7, std::nullopt},  // the first minute says nothing yet
        {59, std::nullopt},
        {60, 24 * 6 * 3600.0 / 60},      // 6 rounds in 60 s: 8640
        {600, 24 * 60 * 3600.0 / 600},   // 60 rounds in 600 s
        {900, 24 * 90 * 3600.0 / 900},   // the window's length
        {7200, 24 * 90 * 3600.0 / 900},  // the last 15 minutes only
    };
    for (const auto& c : cases) {
        PassRate rate;
        const auto start = PassRate::Clock::time_point{} + seconds(1000);
        rate.Start(start);
        for (int t = 7; t <= c.at; t += 10) {
            for (int s = 0; s < 24; ++s) rate.AddPass(start + seconds(t));
        }
        const std::optional<double> got = rate.PerHour(start + seconds(c.at));
        ASSERT_EQ(got.has_value(), c.rate.has_value()) << c.at << " s";
        if (got) {
            EXPECT_NEAR(*got, *c.rate, 0.5) << c.at << " s";
        }
    }
    // A line that stopped: nothing passed in the last quarter hour.
    PassRate idle;
    idle.Start({});
    idle.AddPass(PassRate::Clock::time_point{} + seconds(30));
    EXPECT_EQ(idle.PerHour(PassRate::Clock::time_point{} + seconds(931)), 0.0);
}

}  // namespace
