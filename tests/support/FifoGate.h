#pragma once

#include <QFile>
#include <QString>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A FIFO that holds whatever reads it: a decode job given its path waits in
// open() or read() until the test releases it, and then reads an empty file.
class FifoGate
{
public:
    explicit FifoGate(const QString &path)
        : m_path(path)
        , m_made(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0)
    {}
    // Lets a reader still held go, never waiting for one to come.
    ~FifoGate()
    {
        if (!m_released && (m_writer >= 0 || openWriter()))
            ::close(m_writer);
    }
    FifoGate(const FifoGate &) = delete;
    FifoGate &operator=(const FifoGate &) = delete;

    bool isMade() const { return m_made; }
    const QString &path() const { return m_path; }

    // True once a reader holds the gate (only then does the writer end open).
    bool isHeld() { return m_writer >= 0 || openWriter(); }

    // The reader reads the end of the file; waits for one when none holds the gate.
    void release()
    {
        if (m_released)
            return;
        m_released = true;
        if (m_writer >= 0)
            ::close(m_writer);
        else
            QFile(m_path).open(QIODevice::WriteOnly); // opened and closed
    }

private:
    bool openWriter()
    {
        m_writer = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK);
        return m_writer >= 0;
    }

    QString m_path;
    bool m_made;
    int m_writer = -1;
    bool m_released = false;
};
