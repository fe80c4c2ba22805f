#include "tracerecord.h"

#include "levels.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdint>
#include <iterator>

namespace Trace {

const QString firstPrev = QString(64, QLatin1Char('0'));

const char *const keys[] = { "seq", "time", "station", "tool", "plugin", "plugin_sha256", "level", "board",
    "cpu_id", "key_fingerprint", "key_index", "data_size", "data_sha256", "exit_code", "duration_ms", "prev",
    nullptr };

namespace {

const QString filePrefix = QStringLiteral("Trace");
const QString fileSuffix = QStringLiteral(".jsonl");
const QString fileDateFormat = QStringLiteral("yyyyMMdd");

QByteArray jsonNumber(qint64 number)
{
    return QByteArray::number(number);
}

template <typename T, typename Format>
QByteArray jsonOptional(const std::optional<T> &value, Format format)
{
    return value ? format(*value) : QByteArrayLiteral("null");
}

// JSON numbers are doubles; a count or a code must be a whole number in range.
std::optional<qint64> integerOf(const QJsonValue &value, qint64 minimum, qint64 maximum)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::floor(number) != number || number < double(minimum) || number > double(maximum))
        return std::nullopt;
    return static_cast<qint64>(number);
}

// Every key appears as "key": once the document parsed, and no string can hold an
// unescaped quote, so the first match after the previous key is the key itself.
bool keysInOrder(QByteArrayView line)
{
    qsizetype from = 0;
    for (const char *const *key = keys; *key; ++key) {
        const QByteArray token = '"' + QByteArray(*key) + "\":";
        const qsizetype at = line.indexOf(token, from);
        if (at < 0)
            return false;
        from = at + token.size();
    }
    return true;
}

constexpr qint64 maxSafeInteger = (qint64(1) << 53);

// What an editor on a Windows PC puts before the first line when it saves the file.
constexpr QByteArrayView byteOrderMark("\xEF\xBB\xBF");

// How far a line follows the form formatLine() writes, read from its start.
enum class Scan { Matched, RanOut, Departs };

struct Cursor
{
    QByteArrayView line;
    qsizetype at = 0;

    bool atEnd() const { return at == line.size(); }
    char next() const { return line[at]; }
};

Scan expect(Cursor &cursor, QByteArrayView text)
{
    for (const char expected : text) {
        if (cursor.atEnd())
            return Scan::RanOut;
        if (cursor.next() != expected)
            return Scan::Departs;
        ++cursor.at;
    }
    return Scan::Matched;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// As QByteArray::number() writes a whole number: no plus sign, no leading zero.
Scan scanNumber(Cursor &cursor, bool mayBeNegative)
{
    if (mayBeNegative && !cursor.atEnd() && cursor.next() == '-')
        ++cursor.at;
    if (cursor.atEnd())
        return Scan::RanOut;
    if (!isDigit(cursor.next()))
        return Scan::Departs;
    const bool zero = cursor.next() == '0';
    ++cursor.at;
    if (zero)
        return !cursor.atEnd() && isDigit(cursor.next()) ? Scan::Departs : Scan::Matched;
    while (!cursor.atEnd() && isDigit(cursor.next()))
        ++cursor.at;
    return Scan::Matched;
}

// As Qt's JSON writer writes a string: control characters escaped, anything else as is.
Scan scanString(Cursor &cursor)
{
    if (const Scan quote = expect(cursor, "\""); quote != Scan::Matched)
        return quote;
    while (!cursor.atEnd()) {
        const uchar c = uchar(cursor.next());
        ++cursor.at;
        if (c == '"')
            return Scan::Matched;
        if (c < 0x20)
            return Scan::Departs;
        if (c != '\\')
            continue;
        if (cursor.atEnd())
            return Scan::RanOut;
        const char escaped = cursor.next();
        ++cursor.at;
        if (escaped == 'u') {
            for (int digit = 0; digit < 4; ++digit, ++cursor.at) {
                if (cursor.atEnd())
                    return Scan::RanOut;
                if (!isHexDigit(cursor.next()))
                    return Scan::Departs;
            }
        } else if (!QByteArrayView("\"\\/bfnrt").contains(escaped)) {
            return Scan::Departs;
        }
    }
    return Scan::RanOut;
}

// The value each key of keys[] holds, in the same order.
enum class ValueKind { Count, Integer, Text };
const struct
{
    ValueKind kind;
    bool nullable;
} valueForms[] = { { ValueKind::Count, false }, { ValueKind::Text, false }, { ValueKind::Text, false },
    { ValueKind::Text, false }, { ValueKind::Text, false }, { ValueKind::Text, false },
    { ValueKind::Text, false }, { ValueKind::Text, false }, { ValueKind::Text, true },
    { ValueKind::Text, true }, { ValueKind::Count, true }, { ValueKind::Count, true },
    { ValueKind::Text, true }, { ValueKind::Integer, false }, { ValueKind::Count, false },
    { ValueKind::Text, false } };
static_assert(std::size(valueForms) + 1 == std::size(keys), "one value form for each key");

// How far a line (without trailing zeros) follows a record line from its start.
Scan scanRecordForm(QByteArrayView line)
{
    Cursor cursor { line };
    Scan scan = expect(cursor, "{");
    for (int i = 0; keys[i] && scan == Scan::Matched; ++i) {
        for (const QByteArrayView part : { QByteArrayView(i > 0 ? "," : ""), QByteArrayView("\""),
                 QByteArrayView(keys[i]), QByteArrayView("\":") }) {
            if (scan == Scan::Matched)
                scan = expect(cursor, part);
        }
        if (scan != Scan::Matched)
            break;
        const auto &form = valueForms[i];
        if (form.nullable && !cursor.atEnd() && cursor.next() == 'n')
            scan = expect(cursor, "null");
        else if (form.kind == ValueKind::Text)
            scan = scanString(cursor);
        else
            scan = scanNumber(cursor, form.kind == ValueKind::Integer);
    }
    if (scan == Scan::Matched)
        scan = expect(cursor, "}");
    return scan == Scan::Matched && !cursor.atEnd() ? Scan::Departs : scan;
}

} // namespace

// Qt's JSON writer escapes the string; the array brackets around it are dropped.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

void setPlugin(TraceRecord &record, const QString &pluginPath)
{
    record.plugin = QFileInfo(pluginPath).fileName();
    record.pluginSha256 = sha256HexOfFile(pluginPath);
}

QString sha256Hex(QByteArrayView bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

bool isLowerHex(const QString &text, qsizetype length)
{
    if (length >= 0 && text.size() != length)
        return false;
    if (text.size() % 2 != 0)
        return false;
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

QString sha256HexOfFile(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

QString keyFingerprint(QByteArrayView keyBytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(keyBytes, QCryptographicHash::Sha256).left(8).toHex());
}

QString fileNameFor(QDate localDate)
{
    return filePrefix + localDate.toString(fileDateFormat) + fileSuffix;
}

QDate dateOfFileName(const QString &fileName)
{
    if (!fileName.startsWith(filePrefix) || !fileName.endsWith(fileSuffix))
        return {};
    const QString digits = fileName.mid(filePrefix.size(), fileName.size() - filePrefix.size() - fileSuffix.size());
    if (digits.size() != fileDateFormat.size())
        return {};
    return QDate::fromString(digits, fileDateFormat);
}

QDate localDateOf(const QString &time)
{
    return QDateTime::fromString(time, Qt::ISODateWithMs).toLocalTime().date();
}

QStringList filesIn(const QString &directory)
{
    QStringList files;
    const QDir dir(directory);
    // Names sort by their date.
    for (const QString &name : dir.entryList({ filePrefix + QLatin1Char('*') + fileSuffix }, QDir::Files, QDir::Name)) {
        if (dateOfFileName(name).isValid())
            files.append(dir.filePath(name));
    }
    return files;
}

Lines splitLines(QByteArrayView content)
{
    Lines split;
    if (content.startsWith(byteOrderMark)) {
        split.byteOrderMark = true;
        content = content.sliced(byteOrderMark.size());
    }
    qsizetype start = 0;
    while (start < content.size()) {
        const qsizetype lineEnd = content.indexOf('\n', start);
        const qsizetype next = lineEnd < 0 ? content.size() : lineEnd + 1;
        qsizetype end = lineEnd < 0 ? content.size() : lineEnd;
        if (end > start && content[end - 1] == '\r') {
            --end;
            if (split.firstCarriageReturn < 0)
                split.firstCarriageReturn = split.lines.size();
        }
        split.lines.append(content.sliced(start, end - start));
        start = next;
    }
    return split;
}

QList<QByteArrayView> lines(QByteArrayView content)
{
    return splitLines(content).lines;
}

bool isCutOffLine(QByteArrayView line)
{
    qsizetype written = line.size();
    while (written > 0 && line[written - 1] == '\0')
        --written;
    if (written == 0)
        return !line.isEmpty();
    return scanRecordForm(line.first(written)) == Scan::RanOut;
}

QByteArray formatLine(const TraceRecord &record)
{
    const auto text = [](const QString &value) { return jsonString(value); };
    const QByteArray values[] = {
        jsonNumber(record.seq),
        jsonString(record.time),
        jsonString(record.station),
        jsonString(record.tool),
        jsonString(record.plugin),
        jsonString(record.pluginSha256),
        jsonString(record.level),
        jsonString(record.board),
        jsonOptional(record.cpuId, text),
        jsonOptional(record.keyFingerprint, text),
        jsonOptional(record.keyIndex, [](int index) { return jsonNumber(index); }),
        jsonOptional(record.dataSize, jsonNumber),
        jsonOptional(record.dataSha256, text),
        jsonNumber(record.exitCode),
        jsonNumber(record.durationMs),
        jsonString(record.prev),
    };
    QByteArray line = "{";
    for (int i = 0; keys[i]; ++i) {
        if (i > 0)
            line += ',';
        line += '"' + QByteArray(keys[i]) + "\":" + values[i];
    }
    return line + '}';
}

namespace {

ParsedTraceLine badLine(const QString &problem)
{
    return { std::nullopt, problem };
}

// Why the line is not a JSON object with exactly a record's keys in their order; empty
// when it is one, then held in object.
QString readObject(QByteArrayView line, QJsonObject &object)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("not JSON (%1 at offset %2)").arg(error.errorString()).arg(error.offset);
    if (!document.isObject())
        return QStringLiteral("not a JSON object");
    object = document.object();
    qsizetype keyCount = 0;
    for (const char *const *key = keys; *key; ++key, ++keyCount) {
        if (!object.contains(QLatin1String(*key)))
            return QStringLiteral("key \"%1\" missing").arg(QLatin1String(*key));
    }
    if (object.size() != keyCount)
        return QStringLiteral("unknown keys");
    if (!keysInOrder(line))
        return QStringLiteral("keys out of order");
    return QString();
}

QJsonValue valueOf(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key));
}

// Each of these reads some of the record's fields from the object, in the order of their
// keys: the key of the first one of a wrong type or value, or nullptr.
const char *readSequence(const QJsonObject &object, TraceRecord &record)
{
    const std::optional<qint64> seq = integerOf(valueOf(object, "seq"), 1, maxSafeInteger);
    if (!seq)
        return "seq";
    record.seq = *seq;
    return nullptr;
}

const char *readTexts(const QJsonObject &object, TraceRecord &record)
{
    const struct
    {
        const char *key;
        QString *field;
    } strings[] = { { "time", &record.time }, { "station", &record.station }, { "tool", &record.tool },
        { "plugin", &record.plugin }, { "plugin_sha256", &record.pluginSha256 }, { "level", &record.level },
        { "board", &record.board }, { "prev", &record.prev } };
    for (const auto &string : strings) {
        if (!valueOf(object, string.key).isString())
            return string.key;
        *string.field = valueOf(object, string.key).toString();
    }
    const QDateTime time = QDateTime::fromString(record.time, Qt::ISODateWithMs);
    if (!time.isValid() || !record.time.endsWith(QLatin1Char('Z')))
        return "time";
    if (!record.pluginSha256.isEmpty() && !isLowerHex(record.pluginSha256, 64))
        return "plugin_sha256";
    if (!Levels::parse(record.level))
        return "level";
    if (record.board != QLatin1String("Maskrom") && record.board != QLatin1String("Loader"))
        return "board";
    if (!isLowerHex(record.prev, 64))
        return "prev";
    return nullptr;
}

const char *readHexes(const QJsonObject &object, TraceRecord &record)
{
    const struct
    {
        const char *key;
        std::optional<QString> *field;
        qsizetype length;
    } hexes[] = { { "cpu_id", &record.cpuId, -1 }, { "key_fingerprint", &record.keyFingerprint, 16 },
        { "data_sha256", &record.dataSha256, 64 } };
    for (const auto &hex : hexes) {
        const QJsonValue field = valueOf(object, hex.key);
        if (field.isNull())
            continue;
        if (!field.isString() || !isLowerHex(field.toString(), hex.length))
            return hex.key;
        *hex.field = field.toString();
    }
    return nullptr;
}

const char *readNumbers(const QJsonObject &object, TraceRecord &record)
{
    if (!valueOf(object, "key_index").isNull()) {
        const std::optional<qint64> index = integerOf(valueOf(object, "key_index"), 0, 255);
        if (!index)
            return "key_index";
        record.keyIndex = int(*index);
    }
    if (!valueOf(object, "data_size").isNull()) {
        record.dataSize = integerOf(valueOf(object, "data_size"), 0, maxSafeInteger);
        if (!record.dataSize)
            return "data_size";
    }
    // A data file has both its size and its hash, or neither.
    if (record.dataSize.has_value() != record.dataSha256.has_value())
        return "data_size";
    const std::optional<qint64> exitCode = integerOf(valueOf(object, "exit_code"), INT32_MIN, INT32_MAX);
    if (!exitCode)
        return "exit_code";
    record.exitCode = qint32(*exitCode);
    const std::optional<qint64> duration = integerOf(valueOf(object, "duration_ms"), 0, maxSafeInteger);
    if (!duration)
        return "duration_ms";
    record.durationMs = *duration;
    return nullptr;
}

} // namespace

ParsedTraceLine parseLine(QByteArrayView line)
{
    QJsonObject object;
    if (const QString problem = readObject(line, object); !problem.isEmpty())
        return badLine(problem);
    TraceRecord record;
    for (const auto read : { readSequence, readTexts, readHexes, readNumbers }) {
        if (const char *wrong = read(object, record))
            return badLine(QStringLiteral("\"%1\" has a wrong type or value").arg(QLatin1String(wrong)));
    }
    // Only the form the journal writes is a record: the start-up index scans lines in that
    // form without parsing them, and must miss no record that is counted here.
    if (formatLine(record) != line)
        return badLine(QStringLiteral("not in the form records are written in"));
    return { record, QString() };
}

} // namespace Trace
