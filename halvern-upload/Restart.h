#pragma once
// The projector's version before and after an upload: whether it already runs the release
// (--skip-current leaves it alone), and the wait after the reset message for the projector
// to restart and tell the version it came back on (--verify).

#include "common/Outcome.h"
#include "device/SerialConnection.h"
#include "halvern-upload/PortRun.h"
#include "upload/DeviceSearch.h"
#include "upload/MessageChain.h"

#include <QString>

#include <functional>

namespace halvern::cli {

// Whether the O/S version a projector shows ("01.05", as the device search formats it) is
// the release's version as its line in the release list shows it ("01.05"): the two texts
// as shown, alike. A projector that showed no version runs no release.
bool runs_release(const QString& shown_version, const QString& release_version);

// How the wait for the restart is shown and cut short.
struct RestartFace {
    std::function<void()> begins = [] {};  // the upload is confirmed; the wait starts
    std::function<bool(int ms)> sleep;     // waits; true when the wait is to end now (a stop on request)
};

// After a confirmed upload: every interval_ms the port is opened and the projector asked for
// its identity (the device search, its own lines kept quiet), for up to seconds. Verified as
// soon as it answers on release_version. An answer on another version is WrongVersion once
// the projector has been silent since the upload (it restarted), or when the time is up (it
// may not have gone down yet at the first answers). NoRestart when nothing answered at the
// end, or when the face stopped the wait. Each ending has a status line of its own.
Outcome verify_restart(SerialConnection& connection, MessageChain& chain, const QString& release_version, int seconds,
                       int interval_ms, const RestartFace& face);

}  // namespace halvern::cli
