#pragma once
// Special files for the tests of the file readers (FIFOs, links to devices) and a watchdog
// that ends the test program should a reader block on one, so a fault shows as a failure
// within seconds instead of a hung suite.

#include <QDir>
#include <QFile>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace halvern::test {

// Ends the program (exit status 1, a line on stderr naming what hung) unless it is destroyed
// within the limit.
class Watchdog {
public:
    explicit Watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(10))
        : what_(std::move(what)), thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "watchdog: %s did not return within %lld s\n", what_.c_str(),
                               static_cast<long long>(limit.count()));
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

// A FIFO at directory/name; its path.
inline QString make_fifo(const QString& directory, const QString& name) {
    const QString path = QDir(directory).filePath(name);
    ::mkfifo(QFile::encodeName(path).constData(), 0600);
    return path;
}

// A symbolic link directory/name pointing at target; its path.
inline QString make_link(const QString& directory, const QString& name, const QString& target) {
    const QString path = QDir(directory).filePath(name);
    QFile::link(target, path);
    return path;
}

}  // namespace halvern::test
