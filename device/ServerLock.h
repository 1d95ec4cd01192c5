#pragma once
// Only one program at a time on one serial device server, whichever user runs it: a lock file
// per server address ("ADDRESS:PORT", device/PortResolver.h) held with flock.
//
// Where: /run/lock when every user may create files there (sticky and writable by all, as on
// Debian), otherwise /tmp under the same condition. The choice depends on the directories
// alone, never on the user or the environment, so that every program on the machine meets at
// the same file. With neither, a network port cannot be opened.
//
// Files are created readable by all (0644) whatever the umask, and opened read-only, which is
// all flock needs: a file another user created serves everyone. The holder removes the file
// when it lets go, while still holding the lock; a program that opened the file just before
// takes the lock on a file that is gone, sees that the path no longer leads to it, and starts
// again. Another user's file cannot be removed in a sticky directory and simply stays.

#include <QString>

namespace halvern {

class ServerLock {
public:
    enum class Outcome { kTaken, kHeldHere, kInUse, kOtherUser, kNoDirectory };

    ServerLock() = default;
    ServerLock(const ServerLock&) = delete;
    ServerLock& operator=(const ServerLock&) = delete;
    ~ServerLock() { release(); }

    // Takes the lock of key without waiting. On a refusal, why() says in a few words what
    // holds it ("in use by another program (lock file /run/lock/...)").
    Outcome take(const QString& key);
    void release();
    QString why() const { return why_; }

    // The lock directory as above; empty when there is none.
    static QString directory();
    static QString file_name(const QString& key);

private:
    QString key_;
    QString path_;
    int fd_ = -1;
    QString why_;
};

}  // namespace halvern
