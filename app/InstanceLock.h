#pragma once
#include <QString>

// The lock that lets one resident run per program folder: an flock(2) on a file in the folder.
// The system drops it when its process ends, however it ends, so nothing left in the file
// (a process id, garbage, a copy made with `cp -a` while the original runs) can keep a
// later start out. The file says which process holds it and which folder it guards, for
// people; the program never reads it.
class InstanceLock {
public:
    enum class Outcome {
        Taken,
        HeldByAnother, // a live process holds it
        Failed,        // it cannot be had: the folder cannot be written, or it locks nothing
    };

    // `path` is the lock file; `guarded` the folder it stands for.
    InstanceLock(QString path, QString guarded);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Never waits. Something in the file's place that is not a regular file of ours (a
    // folder, a link, a FIFO, another user's file) is removed and said once on stderr;
    // on Failed, `why` says what stands in the way.
    Outcome Take(QString* why = nullptr);
    // Removes the file and lets go; nothing happens when it is not held.
    void Release();

    bool IsHeld() const { return fd_ >= 0; }
    QString Path() const { return path_; }

private:
    bool clearStranger(const QString& what, QString* why);

    QString path_;
    QString guarded_;
    int fd_ = -1;
};
