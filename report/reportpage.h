#pragma once

#include "reportfigures.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>

// The line report as one self-contained HTML file: inline CSS and SVG, no script, nothing
// fetched, printable on A4. Texts come through the installed translation; every text taken
// from the records is escaped. The figures a test or a script reads carry a data-figure
// name and their plain value in data-value.
class ReportPage
{
    Q_DECLARE_TR_FUNCTIONS(ReportPage)

public:
    // made: when the figures were read; ages and silent stations count from it.
    static QByteArray html(const Report::Figures &figures, const QDateTime &made);
    // What an exit code says happened, in a few words.
    static QString exitCodeMeaning(qint32 exitCode);
    // Writes the page whole or not at all: a browser never opens half a page. Refuses to
    // replace anything but a regular file (a folder, a FIFO).
    static bool write(const QString &path, const QByteArray &html, QString *reason);
    // The line the programs print once the page at path is written.
    static QString writtenLine(const QString &path, const Report::Figures &figures);
    // A station is silent when its last record (or upload) is older than this.
    static constexpr qint64 silentAfterSeconds = 3600;
};
