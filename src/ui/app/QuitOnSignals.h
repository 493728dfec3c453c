#pragma once

#include <QObject>
#include <array>
#include <csignal>
#include <memory>

class QSocketNotifier;

// SIGTERM (logout, shutdown, `kill`), SIGINT (Ctrl+C in a terminal) and
// SIGHUP (the terminal went away) quit the application as closing its window
// does, so the ratings and sidecars still being written reach the disk. The
// first such signal asks the application to quit (every window is closed
// first); a second one leaves the event loops even if a window refused.
//
// The handlers only write the signal's number into a socket pair; the reading
// happens here, on the thread that created the object (the UI thread), when
// its event loop runs. One object per process; destroying it restores the
// handlers it replaced.
class QuitOnSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitOnSignals(QObject *parent = nullptr);
    ~QuitOnSignals() override;

    QuitOnSignals(const QuitOnSignals &) = delete;
    QuitOnSignals &operator=(const QuitOnSignals &) = delete;

    static constexpr std::array<int, 3> handledSignals{SIGTERM, SIGINT, SIGHUP};

private:
    void readSignals();

    int m_readEnd = -1;
    int m_writeEnd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::array<struct sigaction, handledSignals.size()> m_previous{};
    int m_received = 0;
};
