#include "hardeningsupport.h"

#include "testplugins.h"

#include "ZVUpgrade_DLL.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QString b1 = QStringLiteral("b1");

QByteArray recordingPluginPath()
{
    return QByteArray(TestPlugins::recordingPlugin);
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray nested(const QByteArray &open, const QByteArray &inner, const QByteArray &close, int depth)
{
    return open.repeated(depth) + inner + close.repeated(depth);
}

} // namespace

// What an operator, an editor or a broken disk can hand the tool: each gets a clear
// refusal or failure, and the configuration and the plug-in in force stay as they were.
class TestHostileInputs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hostileConfiguration_data();
    void hostileConfiguration();
    void pluginThatCannotLoadKeepsThePrevious_data();
    void pluginThatCannotLoadKeepsThePrevious();
    void pluginOnADirectoryAtStart();
    void unusualPluginPathRoundTrips();
    void hostileKeyOrDataFile_data();
    void hostileKeyOrDataFile();
    void unreadableFilesFail();
    void fileReplacedBetweenClickAndRun_data();
    void fileReplacedBetweenClickAndRun();

private:
    void openWithBoard();

    std::unique_ptr<WindowUnderTest> fixture;
};

void TestHostileInputs::init()
{
    fixture = std::make_unique<WindowUnderTest>();
    QVERIFY(fixture->isValid());
    fixture->bench().attach(b1, ZvSim::Loader);
}

void TestHostileInputs::cleanup()
{
    if (fixture && fixture->isValid())
        QTRY_VERIFY(fixture->close());
    fixture.reset();
}

void TestHostileInputs::openWithBoard()
{
    fixture->writeConfig();
    fixture->open();
    QCOMPARE(fixture->widget<QLineEdit>("dllEdit")->text(), QString::fromUtf8(recordingPluginPath()));
}

void TestHostileInputs::hostileConfiguration_data()
{
    QTest::addColumn<QByteArray>("content"); // null: config.json is a directory
    QTest::addColumn<bool>("pluginLoaded");
    QTest::addColumn<QString>("title");

    const QByteArray plugin = recordingPluginPath();
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char(i * 7 % 256));

    QTest::newRow("empty") << QByteArray("") << false << "Korvane ";
    QTest::newRow("binary") << binary << false << "Korvane ";
    QTest::newRow("not UTF-8") << "{\"DLL\": \"" + plugin + "\", \"APP_VERSION\": \"caf\xe9 \xff\"}" << true
                               << QStringLiteral("Korvane caf\ufffd \ufffd");
    QTest::newRow("UTF-16 as a Windows editor saves it")
        << QByteArray("\xff\xfe{\0}\0", 6) << false << "Korvane ";
    QTest::newRow("UTF-8 byte order mark") << "\xef\xbb\xbf{\"DLL\": \"" + plugin + "\", \"APP_VERSION\": \"1\"}"
                                           << true << "Korvane 1";
    QTest::newRow("40 MiB") << "{\"DLL\": \"" + plugin + "\", \"APP_VERSION\": \"big\", \"padding\": \""
            + QByteArray(40 << 20, 'x') + "\"}"
                            << true << "Korvane big";
    QTest::newRow("arrays nested 100000 deep") << nested("[", "", "]", 100000) << false << "Korvane ";
    QTest::newRow("objects nested 100000 deep") << nested("{\"DLL\":", "1", "}", 100000) << false << "Korvane ";
    QTest::newRow("keys of other types")
        << "{\"DLL\": {\"path\": \"" + plugin + "\"}, \"APP_VERSION\": null, \"LOG\": \"yes\"}" << false << "Korvane ";
    QTest::newRow("a directory") << QByteArray() << false << "Korvane ";
}

void TestHostileInputs::hostileConfiguration()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, pluginLoaded);
    QFETCH(QString, title);

    const QString path = fixture->env().filePath(QStringLiteral("config.json"));
    if (content.isNull())
        QVERIFY(QDir().mkdir(path));
    else
        fixture->writeConfig(content);
    const QByteArray digest = QCryptographicHash::hash(fileContent(path), QCryptographicHash::Sha256);

    fixture->open();
    // A configuration the tool cannot use is no reason for a box: its defaults apply.
    QCOMPARE(fixture->observer().messageBoxes().size(), 0);
    QCOMPARE(fixture->window().windowTitle(), title);
    QCOMPARE(fixture->widget<QLineEdit>("dllEdit")->text(),
        pluginLoaded ? QString::fromUtf8(recordingPluginPath()) : QString());
    fixture->run(3);
    QCOMPARE(fixture->nextBox(), pluginLoaded ? QStringLiteral("No key file!") : QStringLiteral("Dll is not loaded!"));

    QVERIFY(fixture->close());
    QCOMPARE(QFileInfo(path).isDir(), content.isNull());
    QCOMPARE(QCryptographicHash::hash(fileContent(path), QCryptographicHash::Sha256), digest);
}

void TestHostileInputs::pluginThatCannotLoadKeepsThePrevious_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");

    QFile plugin(QString::fromUtf8(recordingPluginPath()));
    QVERIFY(plugin.open(QIODevice::ReadOnly));
    QByteArray otherMachine = plugin.readAll();
    // e_machine at byte 18: the same library, declared for 64-bit ARM.
    otherMachine[18] = char(183);
    otherMachine[19] = 0;

    QTest::newRow("text file") << "readme.so" << QByteArray("This is not a library.\n");
    QTest::newRow("library for another machine") << "libarm.so" << otherMachine;
    QTest::newRow("ELF header cut short") << "libcut.so" << otherMachine.left(40);
#ifdef KORVANE_FOREIGN_PLUGIN
    QFile foreign(QStringLiteral(KORVANE_FOREIGN_PLUGIN));
    QVERIFY(foreign.open(QIODevice::ReadOnly));
    QTest::newRow("Windows plug-in") << "korvane.dll" << foreign.readAll();
#endif
}

void TestHostileInputs::pluginThatCannotLoadKeepsThePrevious()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);

    openWithBoard();
    const QString config = fixture->env().filePath(QStringLiteral("config.json"));
    const QByteArray configBefore = fileContent(config);
    const QString candidate = fixture->env().writeFile(name, content);

    fixture->observer().queueFileDialogAnswer(candidate);
    fixture->widget<QPushButton>("dllButton")->click();
    QCOMPARE(fixture->nextBox(), QStringLiteral("Failed to load %1!").arg(candidate));

    QCOMPARE(fixture->widget<QLineEdit>("dllEdit")->text(), QString::fromUtf8(recordingPluginPath()));
    QVERIFY(fixture->widget<QCheckBox>("basicCheck")->isChecked());
    // The plug-in in force still serves.
    fixture->run(1);
    QCOMPARE(fixture->nextBox(), QStringLiteral("Action ok."));
    QCOMPARE(fixture->received(b1, ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID)),
        testPluginOutput(fixture->bench().cpuId(b1), 16));
    QVERIFY(fixture->close());
    QCOMPARE(fileContent(config), configBefore);
}

void TestHostileInputs::pluginOnADirectoryAtStart()
{
    const QString directory = fixture->env().filePath(QStringLiteral("plugin.so"));
    QVERIFY(QDir().mkdir(directory));
    fixture->writeConfig(QJsonDocument(QJsonObject { { "DLL", directory } }).toJson());
    fixture->open();
    QCOMPARE(fixture->nextBox(), QStringLiteral("Failed to load %1!").arg(directory));
    QCOMPARE(fixture->widget<QLineEdit>("dllEdit")->text(), QString());
    fixture->run(1);
    QCOMPARE(fixture->nextBox(), QStringLiteral("Dll is not loaded!"));
}

void TestHostileInputs::unusualPluginPathRoundTrips()
{
    const QString folder = fixture->env().filePath(QStringLiteral("plug-ins ü 插件"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = folder + QStringLiteral("/korvane test ü.so");
    QVERIFY(QFile::copy(QString::fromUtf8(recordingPluginPath()), path));
    fixture->writeConfig(QByteArray("{}"));
    fixture->open();

    fixture->observer().queueFileDialogAnswer(path);
    fixture->widget<QPushButton>("dllButton")->click();
    QTRY_COMPARE(fixture->widget<QLineEdit>("dllEdit")->text(), path);
    fixture->run(1);
    QCOMPARE(fixture->nextBox(), QStringLiteral("Action ok."));
    QVERIFY(fixture->close());

    const QJsonObject saved
        = QJsonDocument::fromJson(fileContent(fixture->env().filePath(QStringLiteral("config.json")))).object();
    QCOMPARE(saved.value(QStringLiteral("DLL")).toString(), path);
    // The next start finds it again by that path.
    fixture->open();
    QCOMPARE(fixture->widget<QLineEdit>("dllEdit")->text(), path);
    QCOMPARE(fixture->observer().messageBoxes().size(), 1);
}

void TestHostileInputs::hostileKeyOrDataFile_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("kind"); // "size", "directory" or "pipe"
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("result");

    const QString badKey = "size invalid for key file!";
    const QString ok = "Action ok.";
    QTest::newRow("basic: key is a directory") << 1 << "directory" << 0 << badKey;
    QTest::newRow("high: key is a directory") << 3 << "directory" << 0 << badKey;
    QTest::newRow("middle: data is a directory") << 2 << "directory" << 0 << "Action failed,err=-9!";
    QTest::newRow("middle: data is a named pipe") << 2 << "pipe" << 0 << "Action failed,err=-9!";
    QTest::newRow("basic: key is a named pipe") << 1 << "pipe" << 0 << badKey;

    QTest::newRow("basic: empty key") << 1 << "size" << 0 << badKey;
    QTest::newRow("basic: 32-byte key") << 1 << "size" << 32 << ok;
    QTest::newRow("basic: 33-byte key") << 1 << "size" << 33 << badKey;
    QTest::newRow("high: empty key") << 3 << "size" << 0 << badKey;
    for (const int size : { 16, 24, 32 }) {
        QTest::addRow("high: %d-byte key", size) << 3 << "size" << size << ok;
        QTest::addRow("high: %d-byte key", size + 1) << 3 << "size" << size + 1 << badKey;
    }
    QTest::newRow("middle: empty data") << 2 << "size" << 0 << ok;
    QTest::newRow("middle: 65535 bytes") << 2 << "size" << 65535 << ok;
    QTest::newRow("middle: 65536 bytes") << 2 << "size" << 65536 << "size invalid for plain file!";
}

void TestHostileInputs::hostileKeyOrDataFile()
{
    QFETCH(int, level);
    QFETCH(QString, kind);
    QFETCH(int, size);
    QFETCH(QString, result);

    openWithBoard();
    QString path = fixture->env().filePath(QStringLiteral("chosen.bin"));
    QByteArray content;
    if (kind == QStringLiteral("directory")) {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == QStringLiteral("pipe")) {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else {
        content = patternBytes(size);
        path = fixture->env().writeFile(QStringLiteral("chosen.bin"), content);
    }
    fixture->setFile(level, path);
    fixture->run(level);
    QCOMPARE(fixture->nextBox(), result);
    QVERIFY(fixture->isIdle());

    const QString targets[] = { QString(), ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID), ZvSim::proofDataTarget(),
        ZvSim::proofKeyTarget(0) };
    if (result != QStringLiteral("Action ok.")) {
        QCOMPARE(fixture->deviceCalls(), QStringList());
        QCOMPARE(fixture->targetsReceived(b1), QStringList());
    } else if (level == 1) {
        QCOMPARE(fixture->plugin().entries().at(1).data, content);
    } else {
        QCOMPARE(fixture->received(b1, targets[level]), level == 2 ? testPluginOutput(content, size) : content);
    }
}

void TestHostileInputs::unreadableFilesFail()
{
    if (geteuid() == 0)
        QSKIP("root reads files whatever their permissions");
    openWithBoard();
    const QString path = fixture->env().writeFile(QStringLiteral("locked.bin"), patternBytes(32));
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    // The size check passes on the file's size; the read then fails and nothing is written.
    const QString results[] = { QString(), "Action failed,err=-8!", "Action failed,err=-9!", "Action failed,err=-8!" };
    for (int level = 1; level <= 3; ++level) {
        fixture->setFile(level, path);
        fixture->run(level);
        QCOMPARE(fixture->nextBox(), results[level]);
    }
    QCOMPARE(fixture->deviceCalls(), QStringList());
    QCOMPARE(fixture->plugin().calls(), QStringList());
}

void TestHostileInputs::fileReplacedBetweenClickAndRun_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("goodSize");
    QTest::addColumn<int>("badSize");

    QTest::newRow("basic key, 32 and 33 bytes") << 1 << 32 << 33;
    QTest::newRow("middle data, 100 and 70000 bytes") << 2 << 100 << 70000;
    QTest::newRow("high key, 24 and 25 bytes") << 3 << 24 << 25;
}

void TestHostileInputs::fileReplacedBetweenClickAndRun()
{
    QFETCH(int, level);
    QFETCH(int, goodSize);
    QFETCH(int, badSize);

    openWithBoard();
    const QByteArray good = patternBytes(goodSize, 'g');
    const QString goodPath = fixture->env().writeFile(QStringLiteral("good.bin"), good);
    const QString badPath = fixture->env().writeFile(QStringLiteral("bad.bin"), patternBytes(badSize, 'b'));
    const QByteArray chosen = QFile::encodeName(fixture->env().filePath(QStringLiteral("chosen.bin")));
    const QByteArray swap = QFile::encodeName(fixture->env().filePath(QStringLiteral("swap.bin")));
    const QByteArray versions[] = { QFile::encodeName(goodPath), QFile::encodeName(badPath) };
    QCOMPARE(link(versions[0].constData(), chosen.constData()), 0);

    // Each swap replaces the whole file at once, as an editor that saves safely does.
    std::atomic<bool> swapping { true };
    std::thread swapper([&] {
        for (int i = 1; swapping; ++i) {
            if (link(versions[i % 2].constData(), swap.constData()) == 0)
                std::rename(swap.constData(), chosen.constData());
        }
    });

    fixture->setFile(level, QFile::decodeName(chosen));
    const QString target = level == 1 ? ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID)
                                      : (level == 2 ? ZvSim::proofDataTarget() : ZvSim::proofKeyTarget(0));
    const QByteArray goodOnBoard = level == 1 ? testPluginOutput(fixture->bench().cpuId(b1), 16)
                                              : (level == 2 ? testPluginOutput(good, goodSize) : good);
    const QStringList refusals { "size invalid for key file!", "size invalid for plain file!" };
    const QStringList failures { "Action failed,err=-8!", "Action failed,err=-9!", "Action failed,err=-10!" };
    for (int run = 0; run < 15; ++run) {
        fixture->plugin().clear();
        QString error;
        QVERIFY2(fixture->bench().bench().reset(&error), qPrintable(error));
        fixture->bench().attach(b1, ZvSim::Loader);
        fixture->run(level);
        const QString result = fixture->nextBox();
        if (result == QStringLiteral("Action ok.")) {
            QCOMPARE(fixture->received(b1, target), goodOnBoard);
            if (level == 1)
                QCOMPARE(fixture->plugin().entries().at(1).data, good);
        } else {
            QVERIFY2(refusals.contains(result) || failures.contains(result), qPrintable(result));
            QCOMPARE(fixture->targetsReceived(b1), QStringList());
        }
        QVERIFY(fixture->isIdle());
    }
    swapping = false;
    swapper.join();
}

QTEST_MAIN(TestHostileInputs)
#include "tst_hostileinputs.moc"
