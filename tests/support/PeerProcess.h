#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Another process of a test's own (a small program of the test folder),
// driven a command a line, each answered by one line.
class PeerProcess
{
public:
    PeerProcess(const QString &program, const QStringList &arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, arguments);
    }

    bool waitForStarted() { return m_process.waitForStarted(); }
    QString errorString() const { return m_process.errorString(); }

    // Sends `command` without waiting for its answer; true once written.
    bool send(const QString &command)
    {
        m_process.write(command.toUtf8() + '\n');
        return m_process.waitForBytesWritten();
    }
    // The next line of answer, "<no answer>" after a minute without one.
    QString answer()
    {
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(60000))
                return QStringLiteral("<no answer>");
        }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    QString ask(const QString &command) { return send(command) ? answer() : QString(); }

    // Ends the input and waits for the process: true when it ended well.
    bool finish()
    {
        m_process.closeWriteChannel();
        return m_process.waitForFinished() && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
};
