#include "clistation.h"
#include "testenvironment.h"
#include "testplugins.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

namespace {

// The checker's exit code and output lines; the recording plug-in's encryption of a level
// fails when one is named.
std::pair<int, QStringList> runChecker(const QStringList &arguments, const QString &encryptFails = QString())
{
    qputenv("KORVANE_TEST_FAIL_ENCRYPT", encryptFails.toUtf8());
    const CliRun run = runProgram(QStringLiteral(KORVANE_PLUGIN_CHECK), arguments);
    return { run.status, run.out };
}

// What the checker prints up to its verdict on loading: the nine exports in the tool's order.
QStringList loadLines(const QString &path, const QString &missing = QString())
{
    // The absolute path, as this platform spells it (Z:/... for a Linux path under Wine).
    QStringList lines { QStringLiteral("plugin: ") + QFileInfo(path).absoluteFilePath() };
    for (const TestPlugins::MissingExportPlugin &plugin : TestPlugins::missingExportPlugins) {
        const QString name = QString::fromUtf8(plugin.exportName);
        lines << QStringLiteral("export %1: %2").arg(name, name == missing ? "missing" : "found");
    }
    lines << (missing == QLatin1String("getProofLevel")
            ? QStringLiteral("proof level: not asked, getProofLevel is missing")
            : QStringLiteral("proof level: 0x00000007 (Basic Middle High)"));
    lines << (missing.isEmpty() ? QStringLiteral("PASS load")
                                : QStringLiteral("FAIL load: Not found %1 in the dll").arg(missing));
    return lines;
}

using FailsFrom = QHash<QString, int>;

} // namespace

class PluginCheckTest : public QObject
{
    Q_OBJECT

    TestEnvironment environment;

private slots:
    void referencePluginPasses_data()
    {
        QTest::addColumn<QStringList>("key");
        QTest::newRow("demo key") << QStringList();
        QTest::newRow("key file") << QStringList { "--key",
            environment.writeFile("aes.key", QByteArray(32, 'B')) };
    }

    void referencePluginPasses()
    {
        QFETCH(QStringList, key);
        const QString path = QString::fromUtf8(TestPlugins::referencePlugin);
        const auto [exitCode, lines] = runChecker(QStringList { "--self-test" } + key + QStringList { path });
        QCOMPARE(exitCode, 0);
        QCOMPARE(lines.mid(0, 12), loadLines(path));
        QVERIFY2(lines.filter(QRegularExpression("^FAIL ")).isEmpty(), qPrintable(lines.join('\n')));
        // Every CPU id length the OTP area holds.
        for (int length = 0; length <= 16; ++length)
            QVERIFY(lines.contains(QStringLiteral("PASS basic-fill length=%1").arg(length)));
        const qsizetype passed = lines.filter(QRegularExpression("^PASS ")).size() - 1; // not "PASS load"
        QCOMPARE(lines.constLast(), QStringLiteral("self-test: %1 passed, 0 failed, 1 skipped").arg(passed));
    }

    void refusedWithTheToolsReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("missing");
        for (const TestPlugins::MissingExportPlugin &plugin : TestPlugins::missingExportPlugins)
            QTest::newRow(plugin.exportName)
                << QString::fromUtf8(plugin.path) << QString::fromUtf8(plugin.exportName);
        QTest::newRow("not a library") << environment.writeFile("notes.so", "not a library\n") << QString();
    }

    void refusedWithTheToolsReason()
    {
        QFETCH(QString, path);
        QFETCH(QString, missing);
        const auto [exitCode, lines] = runChecker({ QStringLiteral("--self-test"), path });
        QCOMPARE(exitCode, 1);
        if (missing.isEmpty()) { // the system's reason follows the tool's
            QCOMPARE(lines.size(), 2);
            QVERIFY2(lines.last().startsWith("FAIL load: loading dll failed ("), qPrintable(lines.last()));
            return;
        }
        // All nine are listed, although the tool stops at the missing one; no self-test follows.
        QCOMPARE(lines, loadLines(path, missing));
    }

    void faultyPluginsFailTheirCheck_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("encryptFails");
        // Each failing check, and the input length from which on it fails; no other check fails.
        QTest::addColumn<FailsFrom>("failsFrom");
        QTest::addColumn<QString>("reason");

        const QString recording = QString::fromUtf8(TestPlugins::recordingPlugin);
        QTest::newRow("basic encrypt fails")
            << recording << "basic" << FailsFrom { { "basic-encrypt", 0 } }
            << "doBasicEncrypt returned 0 in run 1 of 5 (getErrorCode: 1); Korvane ends the action with -2";
        QTest::newRow("middle encrypt fails")
            << recording << "middle" << FailsFrom { { "middle-encrypt", 0 } }
            << "doMiddleEncrypt returned 0 in run 1 of 5 (getErrorCode: 1); Korvane ends the action with -6";
        QTest::newRow("one byte past the area")
            << QString::fromUtf8(TestPlugins::overrunPlugin) << QString()
            << FailsFrom { { "basic-guards", 0 }, { "middle-guards", 0 } }
            << "run 1 wrote outside the 16-byte output area: offset 16 (c3 -> a5), 1 byte(s) changed";
        QTest::newRow("last byte left") << QString::fromUtf8(TestPlugins::shortPlugin) << QString()
                                        << FailsFrom { { "basic-fill", 16 }, { "middle-fill", 1 } }
                                        << "byte 15 of the 16 that reach the board was not written";
        QTest::newRow("parameters kept")
            << QString::fromUtf8(TestPlugins::borrowPlugin) << QString()
            << FailsFrom { { "basic-copies", 1 }, { "middle-copies", 1 } } << "keep copies of the parameters";
        QTest::newRow("no repeat") << QString::fromUtf8(TestPlugins::driftPlugin) << QString()
                                   << FailsFrom { { "basic-repeat", 1 }, { "middle-repeat", 1 } }
                                   << "the same input gave other bytes the second time";
    }

    void faultyPluginsFailTheirCheck()
    {
        QFETCH(QString, path);
        QFETCH(QString, encryptFails);
        QFETCH(FailsFrom, failsFrom);
        QFETCH(QString, reason);

        const auto [exitCode, lines] = runChecker({ QStringLiteral("--self-test"), path }, encryptFails);
        QVERIFY2(exitCode == 2, qPrintable(QString::number(exitCode) + '\n' + lines.join('\n')));
        QCOMPARE(lines.mid(0, 12), loadLines(path));

        static const QRegularExpression checkLine(
            QStringLiteral("^(PASS|FAIL|SKIP) ([a-z-]+)(?: length=(\\d+))?(?:: (.*))?$"));
        QSet<QString> failed;
        bool reasonSeen = false;
        for (const QString &line : lines.mid(12, lines.size() - 13)) {
            const QRegularExpressionMatch check = checkLine.match(line);
            QVERIFY2(check.hasMatch(), qPrintable(line));
            const bool expected = failsFrom.contains(check.captured(2))
                && check.captured(3).toInt() >= failsFrom.value(check.captured(2));
            QVERIFY2((check.captured(1) == QLatin1String("FAIL")) == expected, qPrintable(line));
            if (expected) {
                failed.insert(check.captured(2));
                reasonSeen = reasonSeen || check.captured(4).contains(reason);
            }
        }
        QCOMPARE(failed, QSet<QString>(failsFrom.keyBegin(), failsFrom.keyEnd()));
        QVERIFY2(reasonSeen, qPrintable(lines.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(PluginCheckTest)
#include "tst_plugincheck.moc"
