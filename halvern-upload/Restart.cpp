#include "halvern-upload/Restart.h"

#include <QElapsedTimer>

#include <algorithm>
#include <optional>

namespace halvern::cli {

bool runs_release(const QString& shown_version, const QString& release_version) {
    return !shown_version.isEmpty() && shown_version == release_version;
}

Outcome verify_restart(SerialConnection& connection, MessageChain& chain, const QString& release_version, int seconds,
                       int interval_ms, const RestartFace& face) {
    chain.show_status(1, QStringLiteral("Waiting up to %1 seconds for the projector to restart...").arg(seconds));
    face.begins();
    QElapsedTimer clock;
    clock.start();
    const qint64 deadline = static_cast<qint64>(seconds) * 1000;
    bool went_silent = false;
    std::optional<QString> latest;  // the version of the latest answer; none when the latest got none
    for (qint64 left = deadline; left > 0; left = deadline - clock.elapsed()) {
        if (face.sleep(static_cast<int>(std::min<qint64>(interval_ms, left))))
            return chain.end(Outcome::NoRestart,
                             QStringLiteral("Stopped on request while waiting for the projector to restart: the "
                                            "upload was confirmed, the version it runs was not checked."));
        CollectingReporter quiet;
        IdentityCapture identity;
        if (run_device_search(connection, quiet, identity).outcome != Outcome::DeviceFound) {
            went_silent = true;
            latest.reset();
            continue;
        }
        latest = identity.version;
        if (runs_release(identity.version, release_version) || went_silent) break;
    }
    if (latest && runs_release(*latest, release_version))
        return chain.end(Outcome::Verified, QStringLiteral("The projector restarted on version %1.").arg(*latest));
    if (latest)
        return chain.end(Outcome::WrongVersion,
                         QStringLiteral("The projector runs version %1 after the upload, not version %2 of the release.")
                             .arg(*latest, release_version));
    return chain.end(Outcome::NoRestart, QStringLiteral("The projector did not answer within %1 %2 after the upload.")
                                             .arg(seconds)
                                             .arg(seconds == 1 ? QStringLiteral("second") : QStringLiteral("seconds")));
}

}  // namespace halvern::cli
