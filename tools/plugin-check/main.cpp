// korvane-plugin-check: tells a plug-in author whether Korvane accepts an encryption
// plug-in, with the reason Korvane would give, and with --self-test whether the
// plug-in keeps the promises the actions rely on.

#include "actionlimits.h"
#include "pluginentries.h"
#include "pluginloader.h"
#include "selftest.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QTextStream>

#include <optional>

namespace {

enum ExitCode {
    ExitAccepted = 0,
    ExitRefused = 1,
    ExitSelfTestFailed = 2,
    ExitUsage = 3,
};

const char *const exportNames[KORVANE_PLUGIN_EXPORT_COUNT] = KORVANE_PLUGIN_EXPORT_NAMES;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Flushed line by line: a plug-in that crashes the process leaves the lines before it.
void printLine(const QString &line)
{
    out() << line << Qt::endl;
}

int usageError(const QString &reason)
{
    QTextStream(stderr) << "korvane-plugin-check: " << reason << Qt::endl;
    return ExitUsage;
}

QString extraHelp()
{
    return QStringLiteral(
               "\n"
               "The plug-in is loaded by Korvane's own loader: the library must load, and the\n"
               "nine exports are resolved in Korvane's order, getProofLevel first (and called at\n"
               "once), stopping at the first one missing. Output:\n"
               "  plugin: <path>\n"
               "  export <name>: found|missing      nine lines, in Korvane's order\n"
               "  proof level: 0x<hex> (<levels>)   getProofLevel's answer; bits above 2 are ignored\n"
               "  PASS load | FAIL load: <reason>   the reason is the line Korvane logs when it\n"
               "                                    refuses the plug-in\n"
               "\n")
        + selfTestHelp()
        + QStringLiteral("\n"
                         "Every check prints one line: PASS <check> [<input>], or FAIL|SKIP <check>\n"
                         "[<input>]: <reason>; then a summary line.\n"
                         "\n"
                         "Exit codes: 0 accepted (and every check passed); 1 Korvane refuses the plug-in;\n"
                         "2 a check failed; 3 bad command line or key file.\n");
}

QString levelNames(qint32 proofLevel)
{
    QStringList names;
    if (proofLevel & KORVANE_PROOF_BASIC)
        names << QStringLiteral("Basic");
    if (proofLevel & KORVANE_PROOF_MIDDLE)
        names << QStringLiteral("Middle");
    if (proofLevel & KORVANE_PROOF_HIGH)
        names << QStringLiteral("High");
    return names.isEmpty() ? QStringLiteral("no level") : names.join(QLatin1Char(' '));
}

// Which of the nine exports the library has. The loader stops at the first missing
// one, so a refused library is looked at once more to list them all.
void printExports(const QString &path, const PluginLoadResult &result)
{
    QLibrary library(path);
    const bool loaded = !result.accepted() && library.load();
    for (const char *name : exportNames) {
        const bool found = result.accepted() || (loaded && library.resolve(name));
        printLine(QStringLiteral("export %1: %2")
                      .arg(QLatin1String(name), found ? QStringLiteral("found") : QStringLiteral("missing")));
    }
    if (loaded)
        library.unload();
}

QString describe(const CheckResult &check)
{
    static const char *const outcomes[] = { "PASS", "FAIL", "SKIP" };
    QString line = QLatin1String(outcomes[int(check.outcome)]) + QLatin1Char(' ') + check.name;
    if (!check.subject.isEmpty())
        line += QLatin1Char(' ') + check.subject;
    if (!check.reason.isEmpty())
        line += QStringLiteral(": ") + check.reason;
    return line;
}

std::optional<QByteArray> readKeyFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the key file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray key = file.readAll();
    if (!isValidBasicKeySize(key.size())) {
        *error = QStringLiteral("the key file %1 holds %2 bytes; Korvane takes only a 32-byte AES key")
                     .arg(path)
                     .arg(key.size());
        return std::nullopt;
    }
    return key;
}

// What the command line asks for; exitCode set when the program is to end at once.
struct Request
{
    QString pluginPath; // absolute
    bool selfTest = false;
    std::optional<QByteArray> aesKey;
    std::optional<int> exitCode;
};

Request readCommandLine()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Loads a Korvane encryption plug-in as Korvane does and tells whether Korvane accepts it."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption selfTestOption(QStringLiteral("self-test"),
        QStringLiteral(
            "Also call the plug-in as the Basic and Middle actions do and check what Korvane relies on."));
    const QCommandLineOption keyOption(QStringLiteral("key"),
        QStringLiteral(
            "With --self-test: add the 32 bytes of <file> as \"AESKEY\" in every Basic run, as when "
            "the operator chose an AES key file."),
        QStringLiteral("file"));
    parser.addOption(selfTestOption);
    parser.addOption(keyOption);
    parser.addPositionalArgument(QStringLiteral("plugin"), QStringLiteral("The plug-in library to check."));

    Request request;
    const auto endWith = [&request](int exitCode) {
        request.exitCode = exitCode;
        return request;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return endWith(usageError(parser.errorText()));
    if (parser.isSet(helpOption)) {
        out() << parser.helpText() << extraHelp() << Qt::flush;
        return endWith(ExitAccepted);
    }
    if (parser.positionalArguments().size() != 1)
        return endWith(usageError(QStringLiteral("give exactly one plug-in path (see --help)")));
    if (parser.isSet(keyOption) && !parser.isSet(selfTestOption))
        return endWith(usageError(QStringLiteral("--key is used only with --self-test")));

    // Korvane is given the plug-in by a file dialog or its configuration, both naming
    // an existing file; an absolute path keeps the library search path out of it.
    const QFileInfo pluginFile(parser.positionalArguments().constFirst());
    if (!pluginFile.isFile())
        return endWith(usageError(QStringLiteral("no such file: %1").arg(pluginFile.filePath())));
    request.pluginPath = pluginFile.absoluteFilePath();
    request.selfTest = parser.isSet(selfTestOption);
    if (parser.isSet(keyOption)) {
        QString error;
        request.aesKey = readKeyFile(parser.value(keyOption), &error);
        if (!request.aesKey)
            return endWith(usageError(error));
    }
    return request;
}

// Loads the plug-in as Korvane does and prints what Korvane would find: true when it
// accepts the plug-in.
bool checkLoad(const QString &path, QLibrary &kept, PluginLoadResult &result)
{
    printLine(QStringLiteral("plugin: %1").arg(path));
    result = loadPluginLibrary(path, kept);
    if (result.kind == PluginLoadResult::Kind::LoadFailed) {
        // The loader does not keep the system's reason; a second attempt fetches it.
        QLibrary failed(path);
        failed.load();
        printLine(QStringLiteral("FAIL load: %1 (%2)").arg(result.logLine, failed.errorString()));
        return false;
    }

    printExports(path, result);
    if (result.kind == PluginLoadResult::Kind::MissingExport
        && result.missingExport == QLatin1String(exportNames[0]))
        printLine(QStringLiteral("proof level: not asked, getProofLevel is missing"));
    else
        printLine(QStringLiteral("proof level: 0x%1 (%2)")
                      .arg(quint32(result.proofLevel), 8, 16, QLatin1Char('0'))
                      .arg(levelNames(result.proofLevel)));
    if (!result.accepted()) {
        printLine(QStringLiteral("FAIL load: %1").arg(result.logLine));
        return false;
    }
    printLine(QStringLiteral("PASS load"));
    return true;
}

// Runs and prints every check of the self-test: true when none failed.
bool selfTest(qint32 proofLevel, const std::optional<QByteArray> &aesKey)
{
    int counts[3] = {};
    runSelfTest(pluginEntryTable(), proofLevel, aesKey, [&](const CheckResult &check) {
        ++counts[int(check.outcome)];
        printLine(describe(check));
    });
    const int failed = counts[int(CheckResult::Outcome::Fail)];
    printLine(QStringLiteral("self-test: %1 passed, %2 failed, %3 skipped")
                  .arg(counts[int(CheckResult::Outcome::Pass)])
                  .arg(failed)
                  .arg(counts[int(CheckResult::Outcome::Skip)]));
    return failed == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvane-plugin-check"));

    const Request request = readCommandLine();
    if (request.exitCode)
        return *request.exitCode;
    QLibrary kept;
    PluginLoadResult result;
    if (!checkLoad(request.pluginPath, kept, result))
        return ExitRefused;
    if (!request.selfTest)
        return ExitAccepted;
    return selfTest(result.proofLevel, request.aesKey) ? ExitAccepted : ExitSelfTestFailed;
}
