#pragma once

#include <QtGlobal>

#include <cstdlib>

// korvane-cli's exit status; never 0 for anything but a success.
namespace ExitStatus {

constexpr int Success = 0;
constexpr int ProgramFailure = 1; // the program itself failed unexpectedly
constexpr int Refused = 2; // refused before the action started
constexpr int Usage = 3;
constexpr int SomeUnitsFailed = 5; // --loop: at least one unit failed
constexpr int ActionFailedBase = 10;

// 10 + |exit code| for a failed action: -1 gives 11, -11 gives 21.
inline int forAction(qint32 exitCode)
{
    if (exitCode == 0)
        return Success;
    const int status = ActionFailedBase + std::abs(exitCode);
    // A code without room in a process's exit status is no code an action can end with.
    return status <= 255 ? status : ProgramFailure;
}

} // namespace ExitStatus
