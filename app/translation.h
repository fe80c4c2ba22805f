#pragma once

#include <QStringList>

class QTranslator;

// Loads into translator the first embedded translation that matches one of the
// interface languages, in the list's order; returns whether one loaded.
bool loadTranslationFor(QTranslator &translator, const QStringList &uiLanguages);
