#pragma once

#include "reportfigures.h"

#include <QCommandLineOption>
#include <QTranslator>

#include <optional>

class QCommandLineParser;

// The options of korvane-line's and korvane-trace's "report": --html, --from, --to and
// --lang, with what they mean, in one place for both programs.
class ReportCommandLine
{
public:
    ReportCommandLine();

    void addTo(QCommandLineParser &parser) const;
    // The first of the options that is set, for a command that takes none of them.
    std::optional<QString> setOption(const QCommandLineParser &parser) const;
    QString htmlPath(const QCommandLineParser &parser) const;
    // The period of --from and --to; none, with the problem, when they make none.
    std::optional<Report::Period> period(const QCommandLineParser &parser, QString *problem) const;
    // Installs the page's translation: --lang's, else the system's languages' as the window
    // chooses it.
    void installLanguage(const QCommandLineParser &parser);

private:
    QCommandLineOption html;
    QCommandLineOption from;
    QCommandLineOption to;
    QCommandLineOption lang;
    QTranslator translator;
    QTranslator qtTranslator;
};
