#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QUrl>

CommandLine::CommandLine(const QStringList &arguments, const QString &workingDirectory)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Kelvane: 浏览、评星和归档照片"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("启动时打开的文件夹"),
                                 QStringLiteral("[FOLDER]"));
    if (!parser.parse(arguments)) {
        m_action = Action::fail;
        m_output = endedLine(parser.errorText()) + endedLine(parser.helpText());
        return;
    }
    if (parser.isSet(help)) {
        m_action = Action::showHelp;
        m_output = endedLine(parser.helpText());
        return;
    }
    if (parser.isSet(version)) {
        m_action = Action::showVersion;
        m_output = QCoreApplication::applicationName() + QLatin1Char(' ') +
                   QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        m_action = Action::fail;
        m_output = QStringLiteral("只能打开一个文件夹\n") + endedLine(parser.helpText());
        return;
    }
    if (!positional.isEmpty() && !positional.first().isEmpty())
        m_path = absolutePath(positional.first(), workingDirectory);
}

QString CommandLine::endedLine(QString text)
{
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return text;
}

QString CommandLine::absolutePath(const QString &argument, const QString &workingDirectory)
{
    if (argument.startsWith(QLatin1String("file:"))) {
        const QUrl url(argument);
        if (url.isLocalFile())
            return QDir::cleanPath(url.toLocalFile());
    }
    return QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(argument));
}
