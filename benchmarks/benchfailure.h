#pragma once

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>

// A benchmark that cannot measure stops, naming itself and the reason.
[[noreturn]] inline void fail(const QString &why)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(why));
    std::exit(1);
}
