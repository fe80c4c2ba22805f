#include "translation.h"

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
