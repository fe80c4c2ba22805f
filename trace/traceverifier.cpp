#include "traceverifier.h"

namespace {

// Where the chain stands after the last record.
struct ChainEnd
{
    qint64 seq = 0;
    QString prev = Trace::firstPrev;
    qsizetype line = 0;

    bool continuedBy(const TraceRecord &record) const { return record.seq == seq + 1 && record.prev == prev; }
};

} // namespace

TraceVerification verifyTrace(QByteArrayView content, QList<TraceRecord> *records)
{
    TraceVerification result;
    const auto fail = [&result](qsizetype index, const QString &problem) {
        result.badLine = index + 1;
        result.problem = problem;
        return result;
    };
    // The other readers take such a file's records as they are; here the change is named.
    const Trace::Lines split = Trace::splitLines(content);
    if (split.byteOrderMark)
        return fail(0, QStringLiteral("BOM added"));
    const QList<QByteArrayView> &lines = split.lines;
    ChainEnd end;
    qsizetype i = 0;
    while (i < lines.size()) {
        const ParsedTraceLine parsed = Trace::parseLine(lines[i]);
        // Named only on a line that is a record without it: random bytes hold a "\r" too.
        if (i == split.firstCarriageReturn && (parsed.record || Trace::isCutOffLine(lines[i])))
            return fail(i, QStringLiteral("line ends changed to CRLF"));
        if (!parsed.record) {
            // Lines cut off by power losses (one after another when the append after a cut
            // was cut too): the file ends there, or the next record chains past them. A
            // line after them that is no record fails by itself.
            qsizetype next = i;
            while (
                next < lines.size() && next != split.firstCarriageReturn && Trace::isCutOffLine(lines[next]))
                ++next;
            if (next == i)
                return fail(i, parsed.problem);
            if (next < lines.size() && next != split.firstCarriageReturn) {
                const ParsedTraceLine after = Trace::parseLine(lines[next]);
                if (after.record && !end.continuedBy(*after.record))
                    return fail(i, parsed.problem);
            }
            for (; i < next; ++i)
                result.cutOffLines.append(i + 1);
            continue;
        }
        const TraceRecord &record = *parsed.record;
        if (record.seq != end.seq + 1)
            return fail(i, QStringLiteral("seq %1 where %2 was expected").arg(record.seq).arg(end.seq + 1));
        if (record.prev != end.prev) {
            return fail(i,
                end.line == 0 ? QStringLiteral("prev of the first record is not 64 zeros")
                              : QStringLiteral("prev does not match line %1").arg(end.line));
        }
        end = { record.seq, Trace::sha256Hex(lines[i]), i + 1 };
        if (records)
            records->append(record);
        ++result.records;
        ++i;
    }
    if (result.records == 0) {
        // Empty, or cut off before its first record was whole: no action is on record, and
        // a file emptied by hand must not pass.
        result.cutOffLines.clear();
        return fail(0,
            lines.isEmpty() ? QStringLiteral("no record: the file is empty")
                            : QStringLiteral("no record: only lines cut off by a power loss"));
    }
    return result;
}
