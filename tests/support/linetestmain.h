#pragma once

#include <QTest>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// Ends a test program that talked to the line database once its results are out. Under
// Wine 8 a program that made many TLS connections through libpq on several threads
// sometimes never finishes ending its process: every destructor has run and main has
// returned, and the process stays in its termination for good (the debugger may not
// attach). Ending it here keeps a finished run from hanging the suite.
inline int endLineTestProgram(int status)
{
#ifdef Q_OS_WIN
    std::fflush(stdout);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), UINT(status));
#endif
    return status;
}

// QTEST_MAIN / QTEST_GUILESS_MAIN, ended by endLineTestProgram().
#define KORVANE_LINE_TEST_MAIN(TestObject, Application)                                                                \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        int status = 0;                                                                                                \
        {                                                                                                              \
            Application app(argc, argv);                                                                               \
            TestObject test;                                                                                           \
            QTEST_SET_MAIN_SOURCE_PATH                                                                                 \
            status = QTest::qExec(&test, argc, argv);                                                                  \
        }                                                                                                              \
        return endLineTestProgram(status);                                                                             \
    }
