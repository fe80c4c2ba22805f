#include "translation.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

bool loadTranslationFor(QTranslator &translator, const QStringList &uiLanguages)
{
    for (const QString &language : uiLanguages) {
        // Default directory, delimiters and suffix: Qt also tries the name without
        // ".qm" and cut back at each "_" or ".", so zh_TW would still find a plain zh.
        if (translator.load(QStringLiteral(":/i18n/Korvane_") + QLocale(language).name()))
            return true;
    }
    return false;
}

bool loadQtTranslationFor(QTranslator &qtTranslator, const QTranslator &translator)
{
    // The boxes' buttons and the file dialog speak the window's language, not another one.
    const QString language = translator.language();
    return !language.isEmpty() && qtTranslator.load(QStringLiteral(":/i18n/qtbase_") + language);
}

bool installTranslationsFor(QTranslator &translator, QTranslator &qtTranslator, const QStringList &uiLanguages)
{
    if (!loadTranslationFor(translator, uiLanguages))
        return false;
    QCoreApplication::installTranslator(&translator);
    if (loadQtTranslationFor(qtTranslator, translator))
        QCoreApplication::installTranslator(&qtTranslator);
    return true;
}
