#include "translation.h"

#include <QTranslator>

bool loadTranslationFor(QTranslator &translator, const QStringList &uiLanguages)
{
    Q_UNUSED(translator);
    Q_UNUSED(uiLanguages);
    return false; // filled in with start-up
}
