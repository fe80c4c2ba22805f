#include "guardedarea.h"

GuardedArea::GuardedArea(qsizetype size, char guard, char fill)
    : storage(QByteArray(GuardSize, guard) + QByteArray(size, fill) + QByteArray(GuardSize, guard))
    , areaSize(size)
    , guard(guard)
{
}

Buffer_T GuardedArea::view()
{
    return Buffer_T { reinterpret_cast<uint8_t *>(storage.data() + GuardSize),
        static_cast<uint32_t>(areaSize) };
}

QString GuardedArea::damage() const
{
    // Offsets count from the area's first byte: -1 is the byte just before it,
    // areaSize the byte just past its end. The nearest changed byte is named, as it
    // is the one an off-by-one writes.
    const auto byteAt = [this](qsizetype offset) { return storage.at(offset + GuardSize); };
    qsizetype changed = 0;
    qsizetype nearest = 0;
    qsizetype nearestDistance = 0;
    for (qsizetype offset = -GuardSize; offset < areaSize + GuardSize; ++offset) {
        if ((offset >= 0 && offset < areaSize) || byteAt(offset) == guard)
            continue;
        const qsizetype distance = offset < 0 ? -offset : offset - areaSize + 1;
        if (changed == 0 || distance < nearestDistance) {
            nearest = offset;
            nearestDistance = distance;
        }
        ++changed;
    }
    if (changed == 0)
        return QString();
    return QStringLiteral("wrote outside the %1-byte output area: offset %2 (%3 -> %4), %5 byte(s) changed")
        .arg(areaSize)
        .arg(nearest)
        .arg(quint8(guard), 2, 16, QLatin1Char('0'))
        .arg(quint8(byteAt(nearest)), 2, 16, QLatin1Char('0'))
        .arg(changed);
}
