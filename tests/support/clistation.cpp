#include "clistation.h"

#include "pluginjournal.h"
#include "testenvironment.h"
#include "testplugins.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>

namespace {

const QString journalName = QStringLiteral("plugin.jsonl");

} // namespace

QStringList linesOf(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes).remove('\r').split('\n', Qt::SkipEmptyParts);
}

bool readUntil(QProcess &process, QStringList &lines, const QString &awaited)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const bool running = process.state() != QProcess::NotRunning;
        while (process.canReadLine()) {
            lines += linesOf(process.readLine());
            if (!lines.isEmpty() && lines.constLast().startsWith(awaited))
                return true;
        }
        if (!running || clock.hasExpired(30000))
            return false;
        process.waitForReadyRead(1000);
    }
}

CliRun finishRun(QProcess &process, const QStringList &out)
{
    CliRun run;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    run.out = out + linesOf(process.readAllStandardOutput());
    run.err = linesOf(process.readAllStandardError());
    return run;
}

CliRun runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return finishRun(process);
}

CliStation::CliStation(const QString &program, const QString &directory)
    : directory(directory)
    , program(QFileInfo(program).absoluteFilePath())
    , testBench(QDir(directory).filePath(QStringLiteral("bench")))
{
    const QFileInfo built(this->program);
    // The device library journals its calls into the bench folder even before a board comes.
    if (!QDir(directory).mkpath(QStringLiteral("work/runtime")) || !QDir(directory).mkpath(QStringLiteral("bench")))
        return;
    const QString target = filePath(built.fileName());
    if (QFile::copy(built.filePath(), target))
        copy = target;
}

QString CliStation::filePath(const QString &name) const
{
    return QDir(directory).filePath(name);
}

QString CliStation::writeFile(const QString &name, const QByteArray &content) const
{
    QFile file(filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

void CliStation::writeConfig(QJsonObject config) const
{
    if (!config.contains(QStringLiteral("DLL")))
        config.insert(QStringLiteral("DLL"), QFileInfo(QString::fromUtf8(TestPlugins::recordingPlugin)).absoluteFilePath());
    writeFile(QStringLiteral("config.json"), QJsonDocument(config).toJson());
}

void CliStation::prepare(QProcess &process, const QString &executable, const QStringList &arguments) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZVSIM_BENCH"), filePath(QStringLiteral("bench")));
    environment.insert(QStringLiteral("KORVANE_TEST_PLUGIN_JOURNAL"), filePath(journalName));
    const QString work = filePath(QStringLiteral("work"));
#ifdef Q_OS_UNIX
    // A private runtime directory keeps Qt's warning about a missing one off stderr.
    QDir(work).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(work + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), work + "/runtime");
#else
    // The copy finds Qt, the device library and the platform plug-in in the build's folder.
    const QString bin = QDir::toNativeSeparators(QFileInfo(program).absolutePath());
    environment.insert(QStringLiteral("PATH"), bin + ';' + environment.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("QT_PLUGIN_PATH"), bin);
#endif
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(work);
    process.setProgram(executable);
    process.setArguments(arguments);
}

std::unique_ptr<QProcess> CliStation::start(const QStringList &arguments) const
{
    auto process = std::make_unique<QProcess>();
    prepare(*process, copy, arguments);
    process->start(QIODevice::ReadOnly | QIODevice::Text);
    return process;
}

CliRun CliStation::run(const QStringList &arguments) const
{
    return finishRun(*start(arguments));
}

QByteArray CliStation::log() const
{
    QByteArray log;
    const QDir logs(filePath(QStringLiteral("log")));
    for (const QFileInfo &file : logs.entryInfoList({ QStringLiteral("App*.log") }, QDir::Files))
        log += readFile(file.filePath());
    return log;
}

QStringList CliStation::pluginCalls() const
{
    QStringList calls = PluginJournal(filePath(journalName)).calls();
    calls.removeAll(QStringLiteral("getProofLevel"));
    return calls;
}
