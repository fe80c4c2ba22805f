#include "logmessagehandler.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

const QDateTime sampleTime(QDate(2024, 3, 5), QTime(9, 41, 7, 52));

// A slot named like an automatic connection that finds no sender: Qt warns about it.
class UnmatchedSlotOwner : public QObject
{
    Q_OBJECT

public slots:
    void on_prepare_action() { }
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lineFormat_data();
    void lineFormat();
    void startLineThroughQDebug();
    void connectSlotsByNameDropped_data();
    void connectSlotsByNameDropped();
    void systemClockStampsLocalTime();
    void dayFileChosenPerMessage_data();
    void dayFileChosenPerMessage();
    void missingDirectoryLosesOnlyThatLine();
    void twoThreadsNeitherMixNorLoseLines();
    void windowWritesOnlyWhenLogIsTrue_data();
    void windowWritesOnlyWhenLogIsTrue();

private:
    QString logDirectory() const { return environment->filePath(QStringLiteral("log")); }
    QString sampleDayFile() const { return logDirectory() + QStringLiteral("/App2024-03-05.log"); }

    std::unique_ptr<TestEnvironment> environment;
};

void TestLogFile::init()
{
    environment = std::make_unique<TestEnvironment>();
    QVERIFY(environment->isValid());
    QVERIFY(QDir(environment->applicationDirectory()).mkpath(QStringLiteral("log")));
    setLogFileDirectory(logDirectory());
    setLogClock([] { return sampleTime; });
}

void TestLogFile::cleanup()
{
    setLogClock({});
    setLogFileDirectory(QString());
    environment.reset();
}

void TestLogFile::lineFormat_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("debug") << int(QtDebugMsg) << QStringLiteral("failed to register device notification")
                           << QByteArray("09:41:07 052 [Debug] failed to register device notification\n");
    QTest::newRow("warning") << int(QtWarningMsg) << QStringLiteral("w")
                             << QByteArray("09:41:07 052 [Warning] w\n");
    QTest::newRow("critical") << int(QtCriticalMsg) << QStringLiteral("c")
                              << QByteArray("09:41:07 052 [Critical] c\n");
    QTest::newRow("fatal") << int(QtFatalMsg) << QStringLiteral("f")
                           << QByteArray("09:41:07 052 [Fatal] f\n");
    QTest::newRow("info") << int(QtInfoMsg) << QStringLiteral("i") << QByteArray("09:41:07 052 [Info] i\n");
    QTest::newRow("inner line breaks kept as they are")
        << int(QtDebugMsg) << QStringLiteral("first\n  second\r\nthird")
        << QByteArray("09:41:07 052 [Debug] first\n  second\r\nthird\n");
    QTest::newRow("empty") << int(QtDebugMsg) << QString() << QByteArray("09:41:07 052 [Debug] \n");
    QTest::newRow("utf-8") << int(QtDebugMsg) << QString::fromUtf8("写入cpuid...失败")
                           << QByteArray("09:41:07 052 [Debug] 写入cpuid...失败\n");
}

void TestLogFile::lineFormat()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(QByteArray, line);

    const QMessageLogContext context("source.cpp", 12, "function", "category");
    logMessageHandler(QtMsgType(type), context, message);
    QCOMPARE(readFile(sampleDayFile()), line);
    // A second message appends to the same file.
    logMessageHandler(QtMsgType(type), context, message);
    QCOMPARE(readFile(sampleDayFile()), line + line);
}

void TestLogFile::startLineThroughQDebug()
{
    {
        const MessageHandlerGuard handlers;
        qInstallMessageHandler(logMessageHandler);
        qDebug() << QStringLiteral("Korvane 1.0.3") << "...start";
    }
    QCOMPARE(readFile(sampleDayFile()), QByteArray("09:41:07 052 [Debug] \"Korvane 1.0.3\" ...start\n"));
}

void TestLogFile::connectSlotsByNameDropped_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("written");

    QTest::newRow("Qt's warning") << QStringLiteral(
        "QMetaObject::connectSlotsByName: No matching signal for on_prepare_action()")
                                  << false;
    QTest::newRow("anywhere in the text") << QStringLiteral("xconnectSlotsByNamex") << false;
    QTest::newRow("case matters") << QStringLiteral("connectslotsbyname") << true;
}

void TestLogFile::connectSlotsByNameDropped()
{
    QFETCH(QString, message);
    QFETCH(bool, written);

    logMessageHandler(QtWarningMsg, QMessageLogContext(), message);
    QCOMPARE(QFile::exists(sampleDayFile()), written);

    // The warning as Qt really emits it, for a slot of the window that no child answers.
    {
        const MessageHandlerGuard handlers;
        qInstallMessageHandler(logMessageHandler);
        UnmatchedSlotOwner owner;
        QMetaObject::connectSlotsByName(&owner);
    }
    QCOMPARE(QFile::exists(sampleDayFile()), written);
}

void TestLogFile::systemClockStampsLocalTime()
{
    setLogClock({});
#ifndef Q_OS_WIN
    // A zone far from UTC, so that universal time in place of local time shows. Qt's
    // clock below applies it to the process before the handler reads the time.
    const QByteArray previousZone = qgetenv("TZ");
    qputenv("TZ", "KRV-5:45");
    const auto restoreZone = qScopeGuard([&] {
        if (previousZone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", previousZone);
        QDateTime::currentDateTime();
    });
#endif
    const QDateTime before = QDateTime::currentDateTime();
    logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("now"));
    const QDateTime after = QDateTime::currentDateTime();

    // Either day's file, should the test run across midnight.
    const QStringList files = QDir(logDirectory()).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString name = files.first();
    QVERIFY2(name == before.toString(QStringLiteral("'App'yyyy-MM-dd'.log'"))
            || name == after.toString(QStringLiteral("'App'yyyy-MM-dd'.log'")),
        qPrintable(name));

    const QByteArray line = readFile(QDir(logDirectory()).filePath(name));
    QVERIFY(line.endsWith(" [Debug] now\n"));
    const QDateTime stamp(QDate::fromString(name.mid(3, 10), QStringLiteral("yyyy-MM-dd")),
        QTime::fromString(QString::fromLatin1(line.left(12)), QStringLiteral("hh:mm:ss zzz")));
    QVERIFY2(stamp.isValid() && before <= stamp && stamp <= after, line.constData());
}

void TestLogFile::dayFileChosenPerMessage_data()
{
    QTest::addColumn<QDateTime>("before");
    QTest::addColumn<QDateTime>("after");
    QTest::addColumn<QString>("beforeFile");
    QTest::addColumn<QString>("afterFile");

    QTest::newRow("midnight") << QDateTime(QDate(2024, 3, 5), QTime(23, 59, 59, 999))
                              << QDateTime(QDate(2024, 3, 6), QTime(0, 0, 0, 0))
                              << QStringLiteral("App2024-03-05.log") << QStringLiteral("App2024-03-06.log");
    QTest::newRow("leap day") << QDateTime(QDate(2024, 2, 28), QTime(23, 59, 59, 999))
                              << QDateTime(QDate(2024, 2, 29), QTime(0, 0, 0, 0))
                              << QStringLiteral("App2024-02-28.log") << QStringLiteral("App2024-02-29.log");
    QTest::newRow("new year") << QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59, 999))
                              << QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0, 0))
                              << QStringLiteral("App2024-12-31.log") << QStringLiteral("App2025-01-01.log");
}

void TestLogFile::dayFileChosenPerMessage()
{
    QFETCH(QDateTime, before);
    QFETCH(QDateTime, after);
    QFETCH(QString, beforeFile);
    QFETCH(QString, afterFile);

    QDateTime now = before;
    setLogClock([&now] { return now; });
    logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("late"));
    now = after;
    logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("early"));

    const QDir directory(logDirectory());
    QCOMPARE(readFile(directory.filePath(beforeFile)), QByteArray("23:59:59 999 [Debug] late\n"));
    QCOMPARE(readFile(directory.filePath(afterFile)), QByteArray("00:00:00 000 [Debug] early\n"));
    QCOMPARE(directory.entryList(QDir::Files).size(), 2);
}

void TestLogFile::missingDirectoryLosesOnlyThatLine()
{
    const QDir application(environment->applicationDirectory());
    const QString missing = application.filePath(QStringLiteral("gone"));
    setLogFileDirectory(missing);
    logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("lost"));
    QVERIFY2(!QFileInfo::exists(missing), "the handler must not create its directory");

    QVERIFY(application.mkpath(QStringLiteral("gone")));
    logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("kept"));
    QCOMPARE(
        readFile(missing + QStringLiteral("/App2024-03-05.log")), QByteArray("09:41:07 052 [Debug] kept\n"));

    // Written where the window's directory is, never into a differently cased twin.
    setLogFileDirectory(logDirectory());
    logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("here"));
    QCOMPARE(readFile(sampleDayFile()), QByteArray("09:41:07 052 [Debug] here\n"));
    QVERIFY(!application.entryList(QDir::Dirs).contains(QStringLiteral("Log")));
}

void TestLogFile::twoThreadsNeitherMixNorLoseLines()
{
    // Every tenth line is far longer than the text stream's buffer, so it reaches the
    // file in several writes: only the handler's own serialisation keeps lines whole.
    constexpr int linesPerThread = 1000;
    constexpr int longPayload = 40000;
    std::atomic<int> tick { 0 };
    setLogClock([&tick] { return sampleTime.addMSecs(++tick); });

    const auto writer = [](QChar letter) {
        for (int i = 0; i < linesPerThread; ++i) {
            const QString payload(i % 10 == 0 ? longPayload : 8, letter);
            qDebug().noquote() << QString(letter) << i << payload;
        }
    };
    {
        const MessageHandlerGuard handlers;
        qInstallMessageHandler(logMessageHandler);
        std::unique_ptr<QThread> first(QThread::create(writer, QLatin1Char('A')));
        std::unique_ptr<QThread> second(QThread::create(writer, QLatin1Char('B')));
        first->start();
        second->start();
        QVERIFY(first->wait(60000));
        QVERIFY(second->wait(60000));
    }

    const QList<QByteArray> lines = readFile(sampleDayFile()).split('\n');
    QCOMPARE(lines.size(), 2 * linesPerThread + 1);
    QVERIFY(lines.last().isEmpty());

    static const QRegularExpression pattern(
        QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d \\d{3}) \\[Debug\\] ([AB]) (\\d+) ([AB]+)$"));
    QHash<QString, int> nextIndex { { QStringLiteral("A"), 0 }, { QStringLiteral("B"), 0 } };
    QTime previous;
    for (qsizetype n = 0; n + 1 < lines.size(); ++n) {
        const QString line = QString::fromUtf8(lines.at(n));
        const QRegularExpressionMatch match = pattern.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(QStringLiteral("line %1 is mixed").arg(n)));
        const QString letter = match.captured(2);
        const int index = match.captured(3).toInt();
        const QString payload = match.captured(4);
        QCOMPARE(index, nextIndex[letter]++);
        QCOMPARE(payload, QString(index % 10 == 0 ? longPayload : 8, letter.at(0)));

        // Stamped and written under one lock: the file is in time order.
        const QTime stamp = QTime::fromString(match.captured(1), QStringLiteral("hh:mm:ss zzz"));
        QVERIFY(stamp.isValid());
        QVERIFY2(!previous.isValid() || previous < stamp,
            qPrintable(QStringLiteral("line %1 out of order").arg(n)));
        previous = stamp;
    }
    QCOMPARE(nextIndex.value(QStringLiteral("A")), linesPerThread);
    QCOMPARE(nextIndex.value(QStringLiteral("B")), linesPerThread);
}

void TestLogFile::windowWritesOnlyWhenLogIsTrue_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("log");

    QTest::newRow("no config.json") << QByteArray() << QByteArray();
    QTest::newRow("LOG missing") << QByteArray(R"({"APP_VERSION": "1.2"})") << QByteArray();
    QTest::newRow("LOG false") << QByteArray(R"({"LOG": false, "APP_VERSION": "1.2"})") << QByteArray();
    QTest::newRow("LOG the string true")
        << QByteArray(R"({"LOG": "true", "APP_VERSION": "1.2"})") << QByteArray();
    QTest::newRow("LOG 1") << QByteArray(R"({"LOG": 1, "APP_VERSION": "1.2"})") << QByteArray();
    QTest::newRow("LOG true") << QByteArray(R"({"LOG": true, "APP_VERSION": "1.2"})")
                              << QByteArray("09:41:07 052 [Debug] \"Korvane 1.2\" ...start\n");
}

void TestLogFile::windowWritesOnlyWhenLogIsTrue()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, log);

    // The window makes the directory itself.
    QVERIFY(QDir(logDirectory()).removeRecursively());
    if (!config.isNull())
        environment->writeFile(QStringLiteral("config.json"), config);

    // The window installs the handler for good; the guard gives QtTest its own back.
    const MessageHandlerGuard handlers;
    {
        const MainWindow window;
        QVERIFY(QFileInfo(logDirectory()).isDir());
        // The start line is the first and, right after construction, the only one.
        QCOMPARE(readFile(sampleDayFile()), log);
    }
    if (log.isEmpty())
        QCOMPARE(QDir(logDirectory()).entryList(QDir::Files), QStringList());
}

QTEST_MAIN(TestLogFile)
#include "tst_logfile.moc"
