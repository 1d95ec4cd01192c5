// Waiting for the driver's output queue: sleeps sized by the line, never a poll every
// millisecond, and a line that does not move its bytes fails at the deadline.

#include "device/SerialLine.h"

#include <gtest/gtest.h>

#include <deque>
#include <thread>
#include <vector>

using namespace halvern;
using std::chrono::microseconds;

TEST(SerialLine, OutputQueueWaitSleepsAsLongAsTheQueuedBytesTake) {
    struct Case {
        const char* what;
        std::deque<int> queue;           // what the driver says at each look
        std::int32_t baud;
        std::vector<long> sleeps_us;     // the sleeps asked for
    } cases[] = {
        {"empty queue", {0}, 38400, {}},
        {"driver cannot say", {-1}, 38400, {}},
        {"1,000 bytes that leave in one go", {1000, 0}, 38400, {260416}},
        {"a queue that drains in steps", {100, 40, 0}, 38400, {26041, 10416}},
        {"one byte: at least a tenth of a millisecond", {1, 0}, 115200, {100}},
        {"at 9,600 baud", {96, 0}, 9600, {100000}},
    };
    for (const Case& c : cases) {
        std::deque<int> queue = c.queue;
        std::vector<long> sleeps;
        const auto result = wait_for_output_queue(
            [&] {
                const int n = queue.front();
                if (queue.size() > 1) queue.pop_front();
                return n;
            },
            c.baud, QDeadlineTimer(10000), [&](microseconds t) { sleeps.push_back(static_cast<long>(t.count())); });
        EXPECT_EQ(result, kOk) << c.what;
        EXPECT_EQ(sleeps, c.sleeps_us) << c.what;
    }
}

TEST(SerialLine, OutputQueueThatNeverEmptiesFailsAtTheDeadline) {
    // 100 bytes stuck in the queue at 38,400 baud: each look comes 26 ms after the one
    // before, so a 60 ms deadline sees a handful of looks, not sixty.
    int looks = 0;
    const auto result = wait_for_output_queue(
        [&] {
            ++looks;
            return 100;
        },
        38400, QDeadlineTimer(60), [](microseconds t) { std::this_thread::sleep_for(t); });
    EXPECT_EQ(result, kWriteFault);
    EXPECT_GE(looks, 2);
    EXPECT_LE(looks, 5);
}
