// "&Find Device": decoding the identity block (the search's roads are driven on the main window).

#include "upload/DeviceSearch.h"

#include "tests/support/RecordingReporter.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace halvern;

namespace {

DeviceReply identity(const char* model, std::size_t model_length, const char* version) {
    DeviceReply r{};
    std::memcpy(&r[19], model, model_length);
    std::memcpy(&r[35], version, 4);
    return r;
}

}  // namespace

TEST(DeviceSearch, IdentityIsDecodedAsShown) {
    struct Case { const char* model; std::size_t length; const char* version; QString shown_model, shown_version; } cases[] = {
        {"PJ-9000   \0\0\0", 13, "0105", "PJ-9000", "01.05"},
        {"PJ\0-9\0000", 7, "1234", "PJ-90", "12.34"},  // zero bytes close up
        {"  X  ", 5, "AB12", "X", "AB.12"},               // not a number: unchanged
    };
    for (const Case& c : cases) {
        const DeviceReply r = identity(c.model, c.length, c.version);
        EXPECT_EQ(decode_model(r), c.shown_model);
        EXPECT_EQ(decode_version(r), c.shown_version);
    }
}
