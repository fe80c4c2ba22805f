#include "bench.h"

#include "fileappend.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ZvSim {

namespace {

const QLatin1String benchFileName("bench.json");
const QLatin1String journalFileName("journal.jsonl");
const QLatin1String boardsDirectoryName("boards");
const QLatin1String targetSuffix(".bin");

QString executablePath()
{
#ifdef _WIN32
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length == 0)
            return QString();
        if (length < buffer.size())
            return QString::fromWCharArray(buffer.data(), int(length));
        buffer.resize(buffer.size() * 2);
    }
#else
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
#endif
}

bool saveFileOnce(const QString &path, const QByteArray &content, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.write(content) != content.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("cannot save %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool saveFile(const QString &path, const QByteArray &content, QString *error)
{
#ifdef _WIN32
    // Windows refuses to replace a file that the library, in this or another process, is
    // reading at that moment; such a read takes a moment only.
    for (int attempt = 1; attempt < 100; ++attempt) {
        if (saveFileOnce(path, content, error))
            return true;
        QThread::msleep(10);
    }
#endif
    return saveFileOnce(path, content, error);
}

bool openForReading(QFile &file)
{
#ifdef _WIN32
    // Nor can the file be opened at the moment another process or thread replaces it.
    for (int attempt = 1; attempt < 100; ++attempt) {
        if (file.open(QIODevice::ReadOnly))
            return true;
        QThread::msleep(10);
    }
#endif
    return file.open(QIODevice::ReadOnly);
}

bool removeFile(const QString &path, QString *error)
{
    QFile file(path);
    if (file.exists() && !file.remove()) {
        *error = QStringLiteral("cannot remove %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool readInteger(const QJsonObject &object, const QString &key, int &value)
{
    const QJsonValue entry = object.value(key);
    if (entry.isUndefined())
        return true;
    const double number = entry.toDouble(0.5);
    if (!entry.isDouble() || number != std::floor(number) || number < std::numeric_limits<int>::min()
        || number > std::numeric_limits<int>::max())
        return false;
    value = int(number);
    return true;
}

bool readHex(const QJsonObject &object, const QString &key, std::optional<QByteArray> &value)
{
    const QJsonValue entry = object.value(key);
    if (entry.isUndefined())
        return true;
    value = entry.isString() ? parseHex(entry.toString()) : std::nullopt;
    return value.has_value();
}

bool readBoard(const QJsonValue &value, Board &board, QString *error)
{
    const QJsonObject object = value.toObject();
    board.id = object.value(QLatin1String("id")).toString();
    if (!value.isObject() || !isValidBoardId(board.id)) {
        *error = QStringLiteral("a board without a valid id");
        return false;
    }
    const auto fail = [&](const char *what) {
        *error = QStringLiteral("board %1: invalid %2").arg(board.id, QLatin1String(what));
        return false;
    };
    if (!readInteger(object, QStringLiteral("state"), board.state))
        return fail("state");
    std::optional<QByteArray> cpuId = defaultCpuId(board.id);
    if (!readHex(object, QStringLiteral("cpuId"), cpuId) || cpuId->size() > 126)
        return fail("cpuId");
    board.cpuId = *cpuId;
    if (!readHex(object, QStringLiteral("otp"), board.otp))
        return fail("otp");
    const QJsonValue calls = object.value(QLatin1String("failCalls"));
    if (!calls.isUndefined() && !calls.isArray())
        return fail("failCalls");
    for (const QJsonValue &call : calls.toArray()) {
        if (!boardCalls().contains(call.toString()))
            return fail("failCalls");
        board.failCalls.append(call.toString());
    }
    if (!readInteger(object, QStringLiteral("delayMs"), board.delayMs) || board.delayMs < 0)
        return fail("delayMs");
    return true;
}

QJsonObject boardToJson(const Board &board)
{
    QJsonObject object {
        { QStringLiteral("id"), board.id },
        { QStringLiteral("state"), board.state },
        { QStringLiteral("cpuId"), QString::fromLatin1(board.cpuId.toHex()) },
        { QStringLiteral("failCalls"), QJsonArray::fromStringList(board.failCalls) },
        { QStringLiteral("delayMs"), board.delayMs },
    };
    if (board.otp)
        object.insert(QStringLiteral("otp"), QString::fromLatin1(board.otp->toHex()));
    return object;
}

} // namespace

Board *BenchState::board(const QString &id)
{
    for (Board &candidate : boards) {
        if (candidate.id == id)
            return &candidate;
    }
    return nullptr;
}

const Board *BenchState::board(const QString &id) const
{
    return const_cast<BenchState *>(this)->board(id);
}

bool BenchState::attach(const Board &added, QString *error)
{
    if (!isValidBoardId(added.id)) {
        *error
            = QStringLiteral("invalid board id \"%1\": use letters, digits, '.', '_' and '-'").arg(added.id);
        return false;
    }
    if (board(added.id)) {
        *error = QStringLiteral("board %1 is already attached").arg(added.id);
        return false;
    }
    boards.append(added);
    return true;
}

bool BenchState::detach(const QString &id)
{
    const auto removed
        = std::remove_if(boards.begin(), boards.end(), [&](const Board &b) { return b.id == id; });
    if (removed == boards.end())
        return false;
    boards.erase(removed, boards.end());
    return true;
}

QStringList boardCalls()
{
    return { QStringLiteral("ZV_ScanDeviceW"), QStringLiteral("ZV_ReadOtpData"),
        QStringLiteral("ZV_WriteVendorRpmbData"), QStringLiteral("ZV_WriteProofData"),
        QStringLiteral("ZV_WriteProofKey") };
}

// No QRegularExpression: the library runs this on worker threads, and a match leaves Qt's
// thread_local JIT stack there, whose destructor mingw-w64 runs on freed emulated TLS at
// thread exit (a crash there left a winpthreads lock held: the process hung at exit).
namespace {

bool isAsciiAlnum(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

} // namespace

bool isValidBoardId(const QString &id)
{
    if (id.isEmpty() || id.size() > 64 || id.front() == u'.' || id.front() == u'-')
        return false;
    return std::all_of(id.begin(), id.end(),
        [](QChar c) { return isAsciiAlnum(c) || c == u'_' || c == u'.' || c == u'-'; });
}

QByteArray defaultCpuId(const QString &id)
{
    return QCryptographicHash::hash("cpuid:" + id.toUtf8(), QCryptographicHash::Md5);
}

std::optional<QByteArray> parseHex(const QString &text)
{
    const auto isHexDigit = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    };
    if (text.size() % 2 != 0 || !std::all_of(text.begin(), text.end(), isHexDigit))
        return std::nullopt;
    return QByteArray::fromHex(text.toLatin1());
}

std::optional<int> parseState(const QString &text)
{
    if (text.compare(QLatin1String("maskrom"), Qt::CaseInsensitive) == 0)
        return Maskrom;
    if (text.compare(QLatin1String("loader"), Qt::CaseInsensitive) == 0)
        return Loader;
    bool ok = false;
    const int state = text.toInt(&ok);
    return ok ? std::optional<int>(state) : std::nullopt;
}

QString stateName(int state)
{
    switch (state) {
    case Maskrom:
        return QStringLiteral("maskrom");
    case Loader:
        return QStringLiteral("loader");
    default:
        return QStringLiteral("invalid(%1)").arg(state);
    }
}

QString vendorRpmbTarget(int area)
{
    return QStringLiteral("vendor-rpmb-%1").arg(area);
}

QString proofDataTarget()
{
    return QStringLiteral("proof-data");
}

QString proofKeyTarget(int keyIndex)
{
    return QStringLiteral("proof-key-%1").arg(keyIndex);
}

Bench::Bench(const QString &directory)
    : root(directory)
{
}

QString Bench::defaultDirectory()
{
    const QString fromEnvironment = qEnvironmentVariable("ZVSIM_BENCH");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QFileInfo(executablePath()).dir().filePath(QStringLiteral("bench"));
}

QString Bench::benchFilePath() const
{
    return QDir(root).filePath(benchFileName);
}

QString Bench::journalFilePath() const
{
    return QDir(root).filePath(journalFileName);
}

QString Bench::boardDirectory(const QString &boardId) const
{
    return QDir(root).filePath(boardsDirectoryName + QLatin1Char('/') + boardId);
}

bool Bench::load(BenchState &state, QString *error) const
{
    state = BenchState();
    QFile file(benchFilePath());
    if (!file.exists())
        return true;
    if (!openForReading(file)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("%1 is not a JSON object: %2").arg(file.fileName(), parseError.errorString());
        return false;
    }
    const QJsonObject root = document.object();
    const QJsonValue initializeFails = root.value(QLatin1String("initializeFails"));
    const QJsonValue boards = root.value(QLatin1String("boards"));
    int scanCount = 0;
    if (!initializeFails.isUndefined() && !initializeFails.isBool()) {
        *error = QStringLiteral("invalid initializeFails");
        return false;
    }
    if (!readInteger(root, QStringLiteral("scanCount"), scanCount)) {
        *error = QStringLiteral("invalid scanCount");
        return false;
    }
    if (!boards.isUndefined() && !boards.isArray()) {
        *error = QStringLiteral("invalid boards");
        return false;
    }
    BenchState loaded;
    loaded.initializeFails = initializeFails.toBool();
    if (root.contains(QLatin1String("scanCount")))
        loaded.scanCount = scanCount;
    for (const QJsonValue &value : boards.toArray()) {
        Board board;
        if (!readBoard(value, board, error) || !loaded.attach(board, error))
            return false;
    }
    state = loaded;
    return true;
}

bool Bench::save(const BenchState &state, QString *error) const
{
    if (!QDir().mkpath(root)) {
        *error = QStringLiteral("cannot create %1").arg(root);
        return false;
    }
    QJsonArray boards;
    for (const Board &board : state.boards)
        boards.append(boardToJson(board));
    QJsonObject object { { QStringLiteral("initializeFails"), state.initializeFails },
        { QStringLiteral("boards"), boards } };
    if (state.scanCount)
        object.insert(QStringLiteral("scanCount"), *state.scanCount);
    return saveFile(benchFilePath(), QJsonDocument(object).toJson(QJsonDocument::Indented), error);
}

bool Bench::writeTarget(
    const QString &boardId, const QString &target, const QByteArray &data, QString *error) const
{
    const QString directory = boardDirectory(boardId);
    if (!isValidBoardId(boardId) || !QDir().mkpath(directory)) {
        *error = QStringLiteral("cannot create %1").arg(directory);
        return false;
    }
    return saveFile(QDir(directory).filePath(target + targetSuffix), data, error);
}

QByteArray Bench::readTarget(const QString &boardId, const QString &target) const
{
    QFile file(QDir(boardDirectory(boardId)).filePath(target + targetSuffix));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray content = file.readAll();
    // An empty write is still a write: keep it apart from "never written".
    return content.isNull() ? QByteArray("") : content;
}

QStringList Bench::writtenTargets(const QString &boardId) const
{
    QStringList targets;
    const QStringList files = QDir(boardDirectory(boardId))
                                  .entryList({ QLatin1String("*") + targetSuffix }, QDir::Files, QDir::Name);
    for (const QString &file : files)
        targets.append(file.chopped(targetSuffix.size()));
    return targets;
}

bool Bench::appendJournal(const QJsonObject &entry, QString *error) const
{
    // A journal only grows, so it is appended to rather than replaced; one write per
    // line keeps lines whole when the library and a reader share the file.
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    if (!appendWholeLine(journalFilePath(), line)) {
        *error = QStringLiteral("cannot append to %1").arg(journalFilePath());
        return false;
    }
    return true;
}

QList<QJsonObject> Bench::readJournal(QString *error) const
{
    QList<QJsonObject> entries;
    QFile file(journalFilePath());
    if (!file.exists())
        return entries;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return entries;
    }
    int lineNumber = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            entries.append(document.object());
        else
            *error = QStringLiteral("%1: line %2 is not a JSON object: %3")
                         .arg(file.fileName())
                         .arg(lineNumber)
                         .arg(QString::fromUtf8(line.left(200)));
    }
    return entries;
}

bool Bench::reset(QString *error) const
{
    QDir boards(QDir(root).filePath(boardsDirectoryName));
    if (boards.exists() && !boards.removeRecursively()) {
        *error = QStringLiteral("cannot remove %1").arg(boards.path());
        return false;
    }
    return removeFile(benchFilePath(), error) && removeFile(journalFilePath(), error);
}

} // namespace ZvSim
