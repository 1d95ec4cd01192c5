// The answer to a fleet question on standard input, and a Ctrl-C that must end it however it
// comes: before the read begins, or while it waits on another thread's signal.
#include "halvern-upload/Console.h"
#include "halvern-upload/Interrupt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <thread>
#include <unistd.h>

namespace halvern::cli {
namespace {

// Standard input is a pipe of the test's for the lifetime of the object.
class PipedInput {
public:
    PipedInput() {
        EXPECT_EQ(::pipe(ends_), 0);
        saved_ = ::dup(0);
        ::dup2(ends_[0], 0);
    }
    ~PipedInput() {
        ::dup2(saved_, 0);
        for (int fd : {ends_[0], ends_[1], saved_}) ::close(fd);
    }
    void type(const char* text) { EXPECT_GT(::write(ends_[1], text, std::strlen(text)), 0); }

private:
    int ends_[2] = {-1, -1};
    int saved_ = -1;
};

TEST(Console, CtrlCEndsAFleetAnswerWhenEverItComes) {
    interrupt::take();
    PipedInput input;
    StdConsole console;
    console.set_interrupt_ends_answer(true);

    input.type("yes\n");
    EXPECT_EQ(console.read_answer(), std::optional<QString>(QStringLiteral("yes")));

    interrupt::raise_flag();  // before the read begins: nothing typed is waited for
    EXPECT_EQ(console.read_answer(), std::nullopt);
    EXPECT_TRUE(interrupt::take());

    // From another thread while the read waits, as when the signal reaches a port's thread.
    auto answer = std::async(std::launch::async, [&] { return console.read_answer(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    interrupt::raise_flag();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(answer.get(), std::nullopt);
    EXPECT_TRUE(interrupt::take());
}

}  // namespace
}  // namespace halvern::cli
