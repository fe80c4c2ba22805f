#pragma once

#include <QStringList>

class QTranslator;

// Loads into translator the first embedded translation that matches one of the
// interface languages, in the list's order; returns whether one loaded.
bool loadTranslationFor(QTranslator &translator, const QStringList &uiLanguages);

// Loads into qtTranslator Qt's own texts in the language of the translation that
// translator holds; returns whether they loaded.
bool loadQtTranslationFor(QTranslator &qtTranslator, const QTranslator &translator);

// Installs the first of them for the application, as the executable does at start:
// Korvane's translation, then Qt's own texts in its language; returns whether
// Korvane's translation was installed.
bool installTranslationsFor(QTranslator &translator, QTranslator &qtTranslator, const QStringList &uiLanguages);
