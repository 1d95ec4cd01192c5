// The progress line that stands in for the progress window.

#include "halvern-upload/ProgressFormat.h"
#include "tests/support/RecordingReporter.h"

#include <gtest/gtest.h>

namespace halvern::cli {
namespace {

TEST(ProgressFormat, Percent) {
    const struct {
        double value, maximum;
        int percent;
    } cases[] = {
        {0, 100, 0}, {49.9, 100, 49}, {50, 100, 50}, {100, 100, 100}, {120, 100, 100},
        {-5, 100, 0}, {5, 0, 0},      {1, 3, 33},    {32767, 32767, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(percent_done({c.value, c.maximum, 0, 0}), c.percent);
    }
}

TEST(ProgressFormat, Bytes) {
    const struct {
        std::int64_t bytes;
        const char* text;
    } cases[] = {{0, "0 B"}, {999, "999 B"}, {1000, "1.0 kB"}, {12345, "12.3 kB"}, {999949, "999.9 kB"},
                 {1500000, "1.5 MB"}};
    for (const auto& c : cases) EXPECT_EQ(format_bytes(c.bytes), QString::fromUtf8(c.text));
}

TEST(ProgressFormat, RateAndTimeLeft) {
    const struct {
        double value, maximum;
        std::int64_t bytes, elapsed_ms;
        const char* rate;
        const char* left;
    } cases[] = {
        {0, 100, 0, 0, "-", "--:--"},              // nothing yet
        {10, 100, 400, 50, "-", "--:--"},          // too early to tell
        {0, 100, 0, 5000, "0 B/s", "--:--"},       // time passes, nothing done
        {50, 100, 3840, 1000, "3.8 kB/s", "0:01"}, // half in one second
        {25, 100, 1000, 10000, "100 B/s", "0:30"},
        {1, 100, 100, 60000, "1 B/s", "1:39:00"},
        {100, 100, 5000, 2000, "2.5 kB/s", "0:00"},
        {10, 0, 100, 1000, "100 B/s", "--:--"},    // no range
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.elapsed_ms);
        const ProgressSample s{c.value, c.maximum, c.bytes, c.elapsed_ms};
        EXPECT_EQ(format_rate(s), QString::fromUtf8(c.rate));
        EXPECT_EQ(format_time_left(s), QString::fromUtf8(c.left));
    }
}

TEST(ProgressFormat, Lines) {
    const ProgressSample half{50, 100, 3840, 1000};
    EXPECT_EQ(progress_bar_line(half, 10), QStringLiteral("[#####.....]  50%  3.8 kB  3.8 kB/s  0:01 left"));
    EXPECT_EQ(progress_bar_line({0, 100, 0, 0}, 4), QStringLiteral("[....]   0%  0 B  -  --:-- left"));
    EXPECT_EQ(progress_bar_line({100, 100, 0, 0}, 4), QStringLiteral("[####] 100%  0 B  -  --:-- left"));
    EXPECT_EQ(progress_plain_line(half), QStringLiteral("Uploaded  50%, 3.8 kB, 3.8 kB/s, 0:01 left"));
}

TEST(ProgressFormat, PlainLineEveryTenth) {
    const struct {
        int printed, percent, due;
    } cases[] = {
        {-1, 0, -1},  {-1, 9, -1}, {-1, 10, 10}, {-1, 37, 30}, {30, 39, -1},
        {30, 40, 40}, {30, 95, 90}, {90, 100, 100}, {100, 100, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.percent);
        EXPECT_EQ(plain_line_due(c.printed, c.percent), c.due);
    }
}

}  // namespace
}  // namespace halvern::cli
