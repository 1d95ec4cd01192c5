#include "halvern-upload/PortRun.h"

#include <QTime>

#include <pthread.h>
#include <signal.h>

namespace halvern::cli {

QString RunClock::time_of_day() const {
    const QTime t = clock_.time_of_day ? clock_.time_of_day() : QTime::currentTime();
    return t.toString(QStringLiteral("HH:mm:ss"));
}

std::vector<Message> shown_messages(const std::vector<Message>& chain, bool with_questions) {
    std::vector<Message> shown;
    for (const Message& m : chain)
        if ((m.kind != Message::Status || !m.text.isEmpty()) && (with_questions || m.kind != Message::Question))
            shown.push_back(m);
    return shown;
}

void say_why_not_opened(Outcome outcome, const DeviceLibrary& library, Reporter& reporter) {
    if (exit_status(outcome) != kExitPortNotOpened) return;
    if (const QString why = library.open_failure(); !why.isEmpty())
        reporter.message_box(QStringLiteral("halvern-upload: ") + why);
}

std::unique_ptr<QThread> start_port_thread(std::function<void()> body) {
    std::unique_ptr<QThread> thread(QThread::create([body = std::move(body)] {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, s);
        pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
        body();
    }));
    thread->start();
    return thread;
}

}  // namespace halvern::cli
