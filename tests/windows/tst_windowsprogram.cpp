#include "logcapture.h"
#include "mainwindow.h"
#include "testenvironment.h"
#include "testplugins.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>

// The built korvane.exe as Windows sees it: its resources and image header, a start from
// a bench PC's folder, and config.json saved while another handle reads it.
class TestWindowsProgram : public QObject
{
    Q_OBJECT

private slots:
    void iconAndManifest();
    void guiSubsystem();
    void startsFromItsOwnFolder();
    void saveWhileRead_data();
    void saveWhileRead();
};

namespace {

QString executablePath()
{
    return QFileInfo(QStringLiteral(KORVANE_EXE)).absoluteFilePath();
}

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

QByteArray resourceBytes(HMODULE module, const wchar_t *name, const wchar_t *type)
{
    const HRSRC found = FindResourceW(module, name, type);
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void *data = loaded ? LockResource(loaded) : nullptr;
    return data ? QByteArray(static_cast<const char *>(data), int(SizeofResource(module, found)))
                : QByteArray();
}

template <typename T> T readAt(const QByteArray &bytes, qsizetype offset)
{
    T value {};
    if (offset >= 0 && offset + qsizetype(sizeof(T)) <= bytes.size())
        std::memcpy(&value, bytes.constData() + offset, sizeof(T));
    return value;
}

bool copyInto(const QString &source, const QString &directory)
{
    return QDir().mkpath(directory)
        && QFile::copy(source, QDir(directory).filePath(QFileInfo(source).fileName()));
}

// What a bench PC's folder holds: the program, the device library, the Qt and mingw
// runtime with its plug-in folders, as the build put them beside the executable.
bool copyProgramFolder(const QString &target)
{
    const QDir bin = QFileInfo(executablePath()).dir();
    QStringList files { bin.filePath("korvane.exe"), bin.filePath("ZVUpgrade_DLL.dll") };
    for (const QString &name : bin.entryList({ "Qt6*.dll", "lib*.dll" }, QDir::Files))
        files << bin.filePath(name);
    for (const QString &file : std::as_const(files))
        if (!copyInto(file, target))
            return false;
    for (const char *folder : { "platforms", "styles" }) {
        const QDir plugins(bin.filePath(folder));
        for (const QString &name : plugins.entryList({ "*.dll" }, QDir::Files))
            if (!copyInto(plugins.filePath(name), QDir(target).filePath(folder)))
                return false;
    }
    return true;
}

// The modules a process has mapped, as lower-case paths with forward slashes.
QStringList modulesOf(qint64 processId)
{
    QStringList modules;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, DWORD(processId));
    if (snapshot == INVALID_HANDLE_VALUE)
        return modules;
    MODULEENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry))
        modules << QDir::fromNativeSeparators(QString::fromWCharArray(entry.szExePath)).toLower();
    CloseHandle(snapshot);
    return modules;
}

bool runsOnWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

} // namespace

void TestWindowsProgram::iconAndManifest()
{
    const HMODULE module = LoadLibraryExW(wide(QDir::toNativeSeparators(executablePath())), nullptr,
        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    QVERIFY(module);
    const auto release = qScopeGuard([&] { FreeLibrary(module); });

    // The icon group: a 6-byte header (reserved, type 1, count), then 14-byte entries
    // (width, height, ..., bytes at 8, RT_ICON id at 12), each naming one RT_ICON.
    const QByteArray group = resourceBytes(module, L"IDI_ICON1", RT_GROUP_ICON);
    QCOMPARE(readAt<WORD>(group, 2), WORD(1));
    const int count = readAt<WORD>(group, 4);
    QCOMPARE(group.size(), 6 + 14 * count);
    const QByteArray ico = readFile(QStringLiteral(KORVANE_ICON));
    QList<int> sizes;
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = 6 + 14 * i;
        const int width = readAt<BYTE>(group, entry) ? readAt<BYTE>(group, entry) : 256;
        QCOMPARE(readAt<BYTE>(group, entry + 1), readAt<BYTE>(group, entry));
        const QByteArray image
            = resourceBytes(module, MAKEINTRESOURCEW(readAt<WORD>(group, entry + 12)), RT_ICON);
        QCOMPARE(DWORD(image.size()), readAt<DWORD>(group, entry + 8));
        // The same image as in res/app.ico, whose 16-byte entries end in the image's offset.
        QCOMPARE(image, ico.mid(readAt<DWORD>(ico, 6 + 16 * i + 12), image.size()));
        sizes << width;
    }
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, QList<int>({ 16, 32, 48 }));

    // One manifest, id 1 (a second one would be a duplicate the loader rejects).
    QList<quintptr> manifests;
    EnumResourceNamesW(
        module, RT_MANIFEST,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            reinterpret_cast<QList<quintptr> *>(found)->append(reinterpret_cast<quintptr>(name));
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&manifests));
    QCOMPARE(manifests, QList<quintptr>({ 1 }));
    const QByteArray manifest = resourceBytes(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    QVERIFY2(manifest.contains(R"(<requestedExecutionLevel level="asInvoker")"), manifest.constData());
}

void TestWindowsProgram::guiSubsystem()
{
    QFile file(executablePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(4096);
    QCOMPARE(readAt<IMAGE_DOS_HEADER>(head, 0).e_magic, WORD(IMAGE_DOS_SIGNATURE));
    const auto nt = readAt<IMAGE_NT_HEADERS64>(head, readAt<IMAGE_DOS_HEADER>(head, 0).e_lfanew);
    QCOMPARE(nt.Signature, DWORD(IMAGE_NT_SIGNATURE));
    QCOMPARE(nt.OptionalHeader.Magic, WORD(IMAGE_NT_OPTIONAL_HDR64_MAGIC));
    QCOMPARE(nt.OptionalHeader.Subsystem, WORD(IMAGE_SUBSYSTEM_WINDOWS_GUI));
}

// Started the way Explorer would, from a folder with spaces and non-ASCII letters, with
// the working directory elsewhere: config.json and the log belong beside the program.
void TestWindowsProgram::startsFromItsOwnFolder()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString folder = root.filePath(QStringLiteral("bench pc ü 中文"));
    const QString elsewhere = root.filePath(QStringLiteral("elsewhere"));
    QVERIFY(copyProgramFolder(folder));
    QVERIFY(copyInto(QString::fromUtf8(TestPlugins::referencePlugin), folder));
    QVERIFY(QDir().mkpath(elsewhere));

    // The plug-in as a user types it: drive letter and backslashes.
    const QString plugin = QDir::toNativeSeparators(QDir(folder).absoluteFilePath("korvane_aes.dll"));
    QVERIFY(plugin.contains(QStringLiteral(":\\")));
    const QJsonObject config { { "LOG", true }, { "DLL", plugin },
        { "APP_VERSION", QStringLiteral("版本 7") } };
    QFile configFile(QDir(folder).filePath("config.json"));
    QVERIFY(configFile.open(QIODevice::WriteOnly));
    configFile.write(QJsonDocument(config).toJson());
    configFile.close();
    // A decoy in the working directory, which must not be the one read.
    QFile decoy(QDir(elsewhere).filePath("config.json"));
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    decoy.write(R"({"LOG": true, "APP_VERSION": "decoy"})");
    decoy.close();

    QProcess korvane;
    korvane.setProgram(QDir(folder).filePath("korvane.exe"));
    korvane.setWorkingDirectory(elsewhere);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ZVSIM_BENCH", QDir(root.path()).filePath("bench"));
    korvane.setProcessEnvironment(environment);
    korvane.start();
    QVERIFY2(korvane.waitForStarted(), qPrintable(korvane.errorString()));
    const auto end = qScopeGuard([&] {
        korvane.kill();
        korvane.waitForFinished();
    });

    const QDir logDirectory(QDir(folder).filePath("log"));
    QTRY_VERIFY_WITH_TIMEOUT(!logDirectory.entryList({ "App*.log" }, QDir::Files).isEmpty(), 30000);
    // One log; its name is tst_logfile's.
    const QStringList logs = logDirectory.entryList({ "App*.log" }, QDir::Files);
    const QString dayLog = logs.value(0);
    QCOMPARE(logs.size(), 1);
    const auto log = [&] { return QString::fromUtf8(readFile(logDirectory.filePath(dayLog))); };
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(QStringLiteral("版本 7\" ...start")), 30000);
    QVERIFY2(!log().contains(QStringLiteral("decoy")), qPrintable(log()));
    // The plug-in named with backslashes was loaded before the start line was written, and
    // QT_QPA_PLATFORM reached the program as it was given: Wine translates only WINEQT_*
    // at its own boundary.
    const QStringList modules = modulesOf(korvane.processId());
    QVERIFY2(modules.contains(QDir::fromNativeSeparators(plugin).toLower()), qPrintable(modules.join('\n')));
    QVERIFY2(modules.contains(QDir(folder).filePath("platforms/qoffscreen.dll").toLower()),
        qPrintable(modules.join('\n')));
    QCOMPARE(korvane.state(), QProcess::Running);
}

// A save with no reader is tst_mainwindow's.
void TestWindowsProgram::saveWhileRead_data()
{
    QTest::addColumn<DWORD>("sharing"); // what the reader's handle lets others do
    QTest::addColumn<bool>("refused"); // else up to the system, see below

    // Replacing a file takes delete access to it, which this reader refuses.
    QTest::newRow("reader sharing read and write") << DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE) << true;
    // Whether a rename may replace a file that is still open depends on the system's rename
    // semantics. Wine refuses (measured); Windows versions differ.
    QTest::newRow("reader sharing delete too")
        << DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) << runsOnWine();
}

void TestWindowsProgram::saveWhileRead()
{
    QFETCH(DWORD, sharing);
    QFETCH(bool, refused);

    TestEnvironment environment;
    QVERIFY(environment.isValid());
    const QByteArray initial(R"({"DLL": "", "keep": true})");
    const QString path = environment.writeFile("config.json", initial);
    const HANDLE reader = CreateFileW(wide(QDir::toNativeSeparators(path)), GENERIC_READ, sharing, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    QVERIFY(reader != INVALID_HANDLE_VALUE);
    auto closeReader = qScopeGuard([&] { CloseHandle(reader); });

    const QString chosen = QStringLiteral("C:\\plug-ins\\aes.dll");
    bool saved = false;
    {
        const LogCapture capture;
        MainWindow window;
        window.findChild<QLineEdit *>("dllEdit")->setText(chosen);
        QVERIFY(window.close());
        saved = !capture.messages().contains("failed to save config.json");
    }
    if (refused)
        QVERIFY(!saved);

    // The reader goes on reading what it opened, replaced or not.
    char readBack[64] = {};
    DWORD read = 0;
    QVERIFY(ReadFile(reader, readBack, sizeof(readBack), &read, nullptr));
    QCOMPARE(QByteArray(readBack, int(read)), initial);
    closeReader.dismiss();
    CloseHandle(reader);

    // Either the old content whole or the new one whole, and no temporary file left.
    const QJsonObject now = QJsonDocument::fromJson(readFile(path)).object();
    QCOMPARE(now.value("keep"), QJsonValue(true));
    QCOMPARE(now.value("DLL").toString(), saved ? chosen : QString());
    QCOMPARE(QDir(environment.applicationDirectory()).entryList({ "config.json*" }, QDir::Files),
        QStringList { "config.json" });
}

QTEST_MAIN(TestWindowsProgram)
#include "tst_windowsprogram.moc"
