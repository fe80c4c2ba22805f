#include "reportcommandline.h"

#include "translation.h"

#include <QCommandLineParser>
#include <QLocale>

ReportCommandLine::ReportCommandLine()
    : html(QStringLiteral("html"), QStringLiteral("report: the HTML file to write."), QStringLiteral("FILE"))
    , from(QStringLiteral("from"), QStringLiteral("report: the first day."), QStringLiteral("YYYY-MM-DD"))
    , to(QStringLiteral("to"), QStringLiteral("report: the last day."), QStringLiteral("YYYY-MM-DD"))
    , lang(QStringLiteral("lang"), QStringLiteral("report: the page's language (zh_CN, en)."), QStringLiteral("LANG"))
{
}

void ReportCommandLine::addTo(QCommandLineParser &parser) const
{
    parser.addOptions({ html, from, to, lang });
}

std::optional<QString> ReportCommandLine::setOption(const QCommandLineParser &parser) const
{
    for (const QCommandLineOption &option : { html, from, to, lang }) {
        if (parser.isSet(option))
            return QStringLiteral("--") + option.names().constFirst();
    }
    return std::nullopt;
}

QString ReportCommandLine::htmlPath(const QCommandLineParser &parser) const
{
    return parser.value(html);
}

std::optional<Report::Period> ReportCommandLine::period(const QCommandLineParser &parser, QString *problem) const
{
    return Report::periodOf(parser.value(from), parser.value(to), problem);
}

void ReportCommandLine::installLanguage(const QCommandLineParser &parser)
{
    installTranslationsFor(translator, qtTranslator,
        parser.isSet(lang) ? QStringList { parser.value(lang) } : QLocale::system().uiLanguages());
}
