#pragma once

#include <QString>

// An exclusive advisory lock (flock) on a small lock file, held for the
// object's lifetime; blocks until every other holder has let go. It guards a
// read-modify-write of a file that several processes share. Without a usable
// lock file (a read-only folder) nothing is locked and the caller goes on:
// the write that follows then fails on its own.
class AdvisoryFileLock
{
public:
    explicit AdvisoryFileLock(const QString &lockFilePath);
    ~AdvisoryFileLock();

    AdvisoryFileLock(const AdvisoryFileLock &) = delete;
    AdvisoryFileLock &operator=(const AdvisoryFileLock &) = delete;

    bool isLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
