#pragma once

#include <QString>
#include <QStringList>

// The program's command line: `kelvane [FOLDER]`, --help and --version.
// Needs a QCoreApplication for the help text's program name.
class CommandLine
{
public:
    enum class Action { start, showHelp, showVersion, fail };

    // `arguments` starts with the program name; a relative FOLDER is taken
    // from `workingDirectory`, a file: URL (as file managers pass) as its path.
    CommandLine(const QStringList &arguments, const QString &workingDirectory);

    Action action() const { return m_action; }
    // The absolute, cleaned path given, or empty when none was.
    const QString &path() const { return m_path; }
    // What to print for showHelp, showVersion and fail.
    const QString &output() const { return m_output; }

private:
    // Qt's translated help text may lack its final line break.
    static QString endedLine(QString text);
    static QString absolutePath(const QString &argument, const QString &workingDirectory);

    Action m_action = Action::start;
    QString m_path;
    QString m_output;
};
