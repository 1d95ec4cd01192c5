// The progress line that stands in for the progress window.

#include "halvern-upload/ProgressFormat.h"
#include "tests/support/RecordingReporter.h"

#include <gtest/gtest.h>

namespace halvern::cli {
namespace {

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
    EXPECT_EQ(progress_bar_line({100, 100, 1000, 0}, 4), QStringLiteral("[####] 100%  1.0 kB  -  --:-- left"));
    EXPECT_EQ(percent_done({130, 100, 0, 0}), 100);  // a value past the maximum never reads above 100%
    EXPECT_EQ(progress_plain_line(half), QStringLiteral("Uploaded  50%, 3.8 kB, 3.8 kB/s, 0:01 left"));
}

}  // namespace
}  // namespace halvern::cli
