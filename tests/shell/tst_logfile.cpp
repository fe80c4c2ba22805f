#include "logcapture.h"
#include "logmessagehandler.h"
#include "testenvironment.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <optional>

const QDateTime sampleTime(QDate(2024, 3, 5), QTime(9, 41, 7, 52));

class TestLogFile : public QObject
{
    Q_OBJECT

    std::optional<TestEnvironment> environment;

    QString logDirectory() const { return environment->filePath(QStringLiteral("log")); }
    QByteArray readLog(const QString &day = QStringLiteral("2024-03-05")) const
    {
        return readFile(logDirectory() + QStringLiteral("/App%1.log").arg(day));
    }

private slots:
    void init()
    {
        environment.emplace();
        QVERIFY(environment->isValid());
        QVERIFY(QDir().mkpath(logDirectory()));
        setLogFileDirectory(logDirectory());
        setLogClock([] { return sampleTime; });
    }

    void cleanup() { setLogClock({}); }

    void lineFormat_data()
    {
        QTest::addColumn<QtMsgType>("type");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("line");

        QTest::newRow("debug") << QtDebugMsg << QByteArray("d") << QByteArray("[Debug] d\n");
        QTest::newRow("warning") << QtWarningMsg << QByteArray("w") << QByteArray("[Warning] w\n");
        QTest::newRow("critical") << QtCriticalMsg << QByteArray("c") << QByteArray("[Critical] c\n");
        QTest::newRow("fatal") << QtFatalMsg << QByteArray("f") << QByteArray("[Fatal] f\n");
        QTest::newRow("info") << QtInfoMsg << QByteArray("i") << QByteArray("[Info] i\n");
        QTest::newRow("line breaks") << QtDebugMsg << QByteArray("a\n b\r\nc")
                                     << QByteArray("[Debug] a\n b\r\nc\n");
        QTest::newRow("utf-8") << QtDebugMsg << QByteArray("写入cpuid...失败")
                               << QByteArray("[Debug] 写入cpuid...失败\n");
        QTest::newRow("connectSlotsByName")
            << QtWarningMsg << QByteArray("QMetaObject::connectSlotsByName: No matching signal for on_run()")
            << QByteArray();
    }

    void lineFormat()
    {
        QFETCH(QtMsgType, type);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, line);

        const QByteArray expected = line.isNull() ? QByteArray() : "09:41:07 052 " + line;
        logMessageHandler(type, QMessageLogContext(), QString::fromUtf8(message));
        QCOMPARE(QDir(logDirectory()).isEmpty(), line.isNull());
        QCOMPARE(readLog(), expected);
        logMessageHandler(type, QMessageLogContext(), QString::fromUtf8(message));
        QCOMPARE(readLog(), expected + expected); // appended
    }

    void dayFileChosenPerMessage()
    {
        // The system's local time, in a zone far from UTC that Qt's clock applies to the process.
        setLogClock({});
#ifndef Q_OS_WIN
        const QByteArray previousZone = qgetenv("TZ");
        qputenv("TZ", "KRV-5:45");
        const auto restoreZone = qScopeGuard([&] {
            previousZone.isNull() ? qunsetenv("TZ") : qputenv("TZ", previousZone);
            QDateTime::currentDateTime();
        });
#endif
        const QDateTime before = QDateTime::currentDateTime();
        logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("now"));
        const QDateTime after = QDateTime::currentDateTime();
        const QStringList files = QDir(logDirectory()).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        const QString day = files.first().mid(3, 10);
        const QByteArray line = readLog(day);
        const QDateTime stamp = QDateTime::fromString(day + line.left(12), "yyyy-MM-ddhh:mm:ss zzz");
        QVERIFY2(line.endsWith(" [Debug] now\n") && before <= stamp && stamp <= after, line.constData());

        QDateTime now(QDate(2024, 12, 31), QTime(23, 59, 59, 999));
        setLogClock([&now] { return now; });
        logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("late"));
        now = QDateTime(QDate(2025, 1, 1), QTime(0, 0));
        logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("early"));
        QCOMPARE(readLog(QStringLiteral("2024-12-31")), QByteArray("23:59:59 999 [Debug] late\n"));
        QCOMPARE(readLog(QStringLiteral("2025-01-01")), QByteArray("00:00:00 000 [Debug] early\n"));
    }

    void twoThreadsNeitherMixNorLoseLines()
    {
        // The GUI thread and a worker at once. Every tenth line outgrows the text stream's
        // buffer and reaches the file in several writes: only the handler's lock keeps it whole.
        std::atomic<int> tick { 0 };
        setLogClock([&tick] { return sampleTime.addMSecs(++tick); });
        const auto payload
            = [](const QByteArray &letter, int i) { return letter.repeated(i % 10 ? 8 : 40000); };
        const auto writer = [&payload](const QByteArray &letter) {
            for (int i = 0; i < 1000; ++i)
                qDebug("%s %d %s", letter.constData(), i, payload(letter, i).constData());
        };
        {
            const LogCapture handlers;
            qInstallMessageHandler(logMessageHandler);
            std::unique_ptr<QThread> worker(QThread::create(writer, QByteArray("B")));
            worker->start();
            writer("A");
            QVERIFY(worker->wait(60000));
        }

        const QList<QByteArray> lines = readLog().split('\n');
        QCOMPARE(lines.size(), 2001);
        QVERIFY(lines.last().isEmpty());
        QHash<QByteArray, int> next;
        for (int n = 0; n < 2000; ++n) {
            const QByteArray letter = lines.at(n).mid(21, 1);
            const int index = next[letter]++;
            // Stamped and written under one lock: the n-th line carries the n-th reading.
            QCOMPARE(lines.at(n),
                sampleTime.addMSecs(n + 1).toString(QStringLiteral("hh:mm:ss zzz [Debug] ")).toLatin1()
                    + letter + ' ' + QByteArray::number(index) + ' ' + payload(letter, index));
        }
    }
};

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
