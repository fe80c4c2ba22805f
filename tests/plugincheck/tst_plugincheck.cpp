#include "pluginjournal.h"
#include "testenvironment.h"
#include "testplugins.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

struct Check
{
    QString outcome;
    QString name;
    int length; // -1 for a line about a whole level
    QString reason;
};

// What one run of the checker printed, taken apart.
struct CheckerRun
{
    int exitCode = -1;
    QStringList lines;
    QString errors;
    QStringList exports; // "name found" or "name missing", in the order printed
    QList<Check> checks; // the self-test's
    QString proofLine;
};

CheckerRun runChecker(const QStringList &arguments, const QString &variable = QString())
{
    QProcess process;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    if (!variable.isEmpty())
        variables.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(variables);
    process.start(QStringLiteral(KORVANE_PLUGIN_CHECK), arguments);

    CheckerRun run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    run.lines
        = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);

    static const QRegularExpression exportLine(QStringLiteral("^export (\\w+): (found|missing)$"));
    static const QRegularExpression checkLine(
        QStringLiteral("^(PASS|FAIL|SKIP) ((?:basic|middle|high)[a-z-]*)(?: length=(\\d+))?(?:: (.*))?$"));
    for (const QString &line : std::as_const(run.lines)) {
        if (const auto match = exportLine.match(line); match.hasMatch())
            run.exports.append(match.captured(1) + QLatin1Char(' ') + match.captured(2));
        else if (const auto check = checkLine.match(line); check.hasMatch())
            run.checks.append({ check.captured(1), check.captured(2),
                check.captured(3).isEmpty() ? -1 : check.captured(3).toInt(), check.captured(4) });
        else if (line.startsWith(QStringLiteral("proof level:")))
            run.proofLine = line;
    }
    return run;
}

// The nine exports in the tool's order, one of them missing.
QStringList exportList(const QString &missing = QString())
{
    QStringList list;
    for (const TestPlugins::MissingExportPlugin &plugin : TestPlugins::missingExportPlugins) {
        const QString name = QString::fromUtf8(plugin.exportName);
        list.append(name + (name == missing ? QStringLiteral(" missing") : QStringLiteral(" found")));
    }
    return list;
}

} // namespace

class PluginCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void referencePluginPasses_data();
    void referencePluginPasses();
    void callsThePluginAsTheActionsDo();
    void refusedPluginsGiveTheToolsReason_data();
    void refusedPluginsGiveTheToolsReason();
    void faultyPluginsFailTheirCheck_data();
    void faultyPluginsFailTheirCheck();
    void levelsNotAnnouncedAreSkipped();
    void badCommandLinesAreRefused_data();
    void badCommandLinesAreRefused();

private:
    TestEnvironment environment;
};

void PluginCheckTest::referencePluginPasses_data()
{
    QTest::addColumn<bool>("withKey");
    QTest::newRow("demo key") << false;
    QTest::newRow("key file") << true;
}

void PluginCheckTest::referencePluginPasses()
{
    QFETCH(bool, withKey);
    QStringList arguments
        = { QStringLiteral("--self-test"), QString::fromUtf8(TestPlugins::referencePlugin) };
    if (withKey)
        arguments << QStringLiteral("--key")
                  << environment.writeFile(QStringLiteral("aes.key"), QByteArray(32, 'B'));

    const CheckerRun run = runChecker(arguments);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.exports, exportList());
    QCOMPARE(run.proofLine, QStringLiteral("proof level: 0x00000007 (Basic Middle High)"));
    QVERIFY(run.lines.contains(QStringLiteral("PASS load")));

    QSet<int> basicLengths;
    QSet<QString> kinds;
    int passed = 0;
    for (const Check &check : run.checks) {
        QVERIFY2(check.outcome != QLatin1String("FAIL"), qPrintable(check.name + ": " + check.reason));
        if (check.name.startsWith(QLatin1String("basic-")))
            basicLengths.insert(check.length);
        kinds.insert(check.name.section(QLatin1Char('-'), 1));
        passed += check.outcome == QLatin1String("PASS");
    }
    // Every CPU id length the OTP area holds, and the five checks.
    QCOMPARE(basicLengths.size(), 17);
    QVERIFY(basicLengths.contains(0) && basicLengths.contains(16));
    QCOMPARE(kinds.size(), 6); // "" for the skipped High Level
    QCOMPARE(run.lines.constLast(), QStringLiteral("self-test: %1 passed, 0 failed, 1 skipped").arg(passed));

    // --help explains each of them.
    const QString help = runChecker({ QStringLiteral("--help") }).lines.join(QLatin1Char('\n'));
    for (const QString &kind : std::as_const(kinds))
        QVERIFY2(kind.isEmpty() || help.contains(QStringLiteral("<level>-") + kind), qPrintable(kind));
}

void PluginCheckTest::callsThePluginAsTheActionsDo()
{
    const QByteArray key
        = QByteArray::fromHex("00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
    const QString keyPath = environment.writeFile(QStringLiteral("aes.key"), key);
    PluginJournal journal(environment.filePath(QStringLiteral("journal.jsonl")));

    const CheckerRun run = runChecker({ QStringLiteral("--self-test"), QStringLiteral("--key"), keyPath,
        QString::fromUtf8(TestPlugins::recordingPlugin) });
    QCOMPARE(run.exitCode, 0);

    bool ok = false;
    const QList<PluginJournalEntry> entries = journal.entries(&ok);
    QVERIFY(ok && !entries.isEmpty());
    // Asked once, when loaded; then only the calls the actions make, in their order.
    QCOMPARE(entries.first().call, QStringLiteral("getProofLevel"));
    QSet<qint64> basicLengths;
    QSet<qint64> middleLengths;
    for (qsizetype i = 1; i < entries.size();) {
        const PluginJournalEntry &plaintext = entries.at(i);
        QCOMPARE(plaintext.call + plaintext.name, QStringLiteral("addBufferParamPLAINTEXT"));
        QVERIFY(i + 1 < entries.size());
        if (entries.at(i + 1).name == QLatin1String("AESKEY")) {
            QCOMPARE(entries.at(i + 1).data, key);
            QCOMPARE(entries.at(i + 2).call, QStringLiteral("doBasicEncrypt"));
            QCOMPARE(entries.at(i + 2).size, 16);
            QVERIFY(plaintext.size <= 16);
            basicLengths.insert(plaintext.size);
            i += 3;
        } else {
            QCOMPARE(entries.at(i + 1).call, QStringLiteral("doMiddleEncrypt"));
            QCOMPARE(entries.at(i + 1).size, plaintext.size);
            middleLengths.insert(plaintext.size);
            i += 2;
        }
    }
    QCOMPARE(basicLengths.size(), 17);
    QVERIFY(middleLengths.contains(0) && middleLengths.contains(65535) && middleLengths.size() >= 4);
}

void PluginCheckTest::refusedPluginsGiveTheToolsReason_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("missing");
    for (const TestPlugins::MissingExportPlugin &plugin : TestPlugins::missingExportPlugins)
        QTest::newRow(plugin.exportName)
            << QString::fromUtf8(plugin.path) << QString::fromUtf8(plugin.exportName);
    QTest::newRow("not a library") << environment.writeFile(QStringLiteral("notes.so"), "not a library\n")
                                   << QString();
}

void PluginCheckTest::refusedPluginsGiveTheToolsReason()
{
    QFETCH(QString, path);
    QFETCH(QString, missing);

    const CheckerRun run = runChecker({ QStringLiteral("--self-test"), path });
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.checks.isEmpty());
    if (missing.isEmpty()) {
        // The system's reason follows the tool's.
        QVERIFY2(run.lines.constLast().startsWith(QStringLiteral("FAIL load: loading dll failed (")),
            qPrintable(run.lines.constLast()));
        QVERIFY(run.exports.isEmpty());
        return;
    }
    // All nine are listed, although the tool stops at the missing one.
    QCOMPARE(run.exports, exportList(missing));
    QCOMPARE(run.lines.constLast(), QStringLiteral("FAIL load: Not found %1 in the dll").arg(missing));
    QCOMPARE(run.proofLine,
        missing == QLatin1String("getProofLevel")
            ? QStringLiteral("proof level: not asked, getProofLevel is missing")
            : QStringLiteral("proof level: 0x00000007 (Basic Middle High)"));
}

void PluginCheckTest::faultyPluginsFailTheirCheck_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("variable");
    // name@length: the check fails for every input at least that long, and no other check fails.
    QTest::addColumn<QStringList>("failures");
    QTest::addColumn<QString>("reason");

    const QString recording = QString::fromUtf8(TestPlugins::recordingPlugin);
    QTest::newRow("basic encrypt fails")
        << recording << "KORVANE_TEST_FAIL_ENCRYPT=basic" << QStringList { "basic-encrypt@0" }
        << "doBasicEncrypt returned 0 in run 1 of 5 (getErrorCode: 1); Korvane ends the action with -2";
    QTest::newRow("middle encrypt fails")
        << recording << "KORVANE_TEST_FAIL_ENCRYPT=middle" << QStringList { "middle-encrypt@0" }
        << "doMiddleEncrypt returned 0 in run 1 of 5 (getErrorCode: 1); Korvane ends the action with -6";
    QTest::newRow("one byte past the area")
        << QString::fromUtf8(TestPlugins::overrunPlugin) << QString()
        << QStringList { "basic-guards@0", "middle-guards@0" }
        << "run 1 wrote outside the 16-byte output area: offset 16 (c3 -> a5), 1 byte(s) changed";
    QTest::newRow("last byte left") << QString::fromUtf8(TestPlugins::shortPlugin) << QString()
                                    << QStringList { "basic-fill@16", "middle-fill@1" }
                                    << "byte 15 of the 16 that reach the board was not written";
    QTest::newRow("parameters kept") << QString::fromUtf8(TestPlugins::borrowPlugin) << QString()
                                     << QStringList { "basic-copies@1", "middle-copies@1" }
                                     << "keep copies of the parameters";
    QTest::newRow("no repeat") << QString::fromUtf8(TestPlugins::driftPlugin) << QString()
                               << QStringList { "basic-repeat@1", "middle-repeat@1" }
                               << "the same input gave other bytes the second time";
}

void PluginCheckTest::faultyPluginsFailTheirCheck()
{
    QFETCH(QString, path);
    QFETCH(QString, variable);
    QFETCH(QStringList, failures);
    QFETCH(QString, reason);

    const CheckerRun run = runChecker({ QStringLiteral("--self-test"), path }, variable);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.lines.contains(QStringLiteral("PASS load")));

    QHash<QString, int> failsFrom;
    for (const QString &failure : failures)
        failsFrom.insert(
            failure.section(QLatin1Char('@'), 0, 0), failure.section(QLatin1Char('@'), 1).toInt());
    QSet<QString> failed;
    bool reasonSeen = false;
    for (const Check &check : run.checks) {
        const bool expected = failsFrom.contains(check.name) && check.length >= failsFrom.value(check.name);
        QVERIFY2((check.outcome == QLatin1String("FAIL")) == expected,
            qPrintable(
                QStringLiteral("%1 length=%2: %3").arg(check.name).arg(check.length).arg(check.reason)));
        if (expected) {
            failed.insert(check.name);
            reasonSeen = reasonSeen || check.reason.contains(reason);
        }
    }
    QCOMPARE(failed, QSet<QString>(failsFrom.keyBegin(), failsFrom.keyEnd()));
    QVERIFY2(reasonSeen, qPrintable(run.lines.join(QLatin1Char('\n'))));
}

void PluginCheckTest::levelsNotAnnouncedAreSkipped()
{
    const QStringList arguments
        = { QStringLiteral("--self-test"), QString::fromUtf8(TestPlugins::recordingPlugin) };
    // The tool accepts a plug-in whatever it announces, and ignores the bits above the third.
    const CheckerRun none = runChecker(arguments, QStringLiteral("KORVANE_TEST_PROOF_LEVEL=0"));
    QCOMPARE(none.exitCode, 0);
    QCOMPARE(none.proofLine, QStringLiteral("proof level: 0x00000000 (no level)"));
    QCOMPARE(none.checks.size(), 3);
    for (const Check &check : none.checks)
        QVERIFY(check.outcome == QLatin1String("SKIP") && check.length == -1);

    const CheckerRun middle = runChecker(arguments, QStringLiteral("KORVANE_TEST_PROOF_LEVEL=0xfffffffa"));
    QCOMPARE(middle.exitCode, 0);
    QCOMPARE(middle.proofLine, QStringLiteral("proof level: 0xfffffffa (Middle)"));
    QCOMPARE(middle.checks.first().name + middle.checks.first().outcome, QStringLiteral("basicSKIP"));
    for (const Check &check : middle.checks.mid(1, middle.checks.size() - 2))
        QVERIFY(check.name.startsWith(QLatin1String("middle-")) && check.outcome == QLatin1String("PASS"));
}

void PluginCheckTest::badCommandLinesAreRefused_data()
{
    const QString plugin = QString::fromUtf8(TestPlugins::referencePlugin);
    const QString shortKey = environment.writeFile(QStringLiteral("short.key"), QByteArray(31, 'k'));
    const QString goodKey = environment.writeFile(QStringLiteral("good.key"), QByteArray(32, 'k'));

    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no plug-in") << QStringList() << "give exactly one plug-in path";
    QTest::newRow("no such file") << QStringList { environment.filePath("absent.so") } << "no such file: ";
    QTest::newRow("unknown option") << QStringList { "--frobnicate", plugin } << "frobnicate";
    QTest::newRow("key without self-test")
        << QStringList { "--key", goodKey, plugin } << "--key is used only with --self-test";
    QTest::newRow("key of 31 bytes") << QStringList { "--self-test", "--key", shortKey, plugin }
                                     << "holds 31 bytes; Korvane takes only a 32-byte AES key";
    QTest::newRow("key missing") << QStringList { "--self-test", "--key", environment.filePath("absent.key"),
        plugin } << "cannot read the key file";
}

void PluginCheckTest::badCommandLinesAreRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);

    const CheckerRun run = runChecker(arguments);
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.errors.startsWith(QStringLiteral("korvane-plugin-check: ")), qPrintable(run.errors));
    QVERIFY2(run.errors.contains(reason), qPrintable(run.errors));
    QVERIFY(run.lines.isEmpty()); // nothing was loaded
}

QTEST_GUILESS_MAIN(PluginCheckTest)
#include "tst_plugincheck.moc"
