// Linked into every test program. A test that silently ran on another platform plug-in
// than offscreen has hung or crashed in window creation before: under Wine, where every
// QT_* variable is dropped unless it is given as WINEQT_*, that is one typo away. So a
// test program without a chosen platform refuses to start, before Qt is even set up.
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace {

const bool platformChosen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("QT_QPA_PLATFORM is not set (under Wine it is given as WINEQT_QPA_PLATFORM): "
                   "tests run offscreen, or on the platform a test asks for\n",
            stderr);
        std::exit(1);
    }
    return true;
}();

} // namespace
