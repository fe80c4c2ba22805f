#pragma once

#include <QtGlobal>

// An action's exit code: 0 for success, else the step that failed. The result box shows
// the number, the plug-in checker names the encryption failures by it, and the user
// guide's table of exit codes explains each one: keep the three in step.
namespace ExitCode {

constexpr qint32 Success = 0;
constexpr qint32 WriteCpuIdFailed = -1;
constexpr qint32 EncryptCpuIdFailed = -2;
constexpr qint32 InvalidCpuIdSize = -3;
constexpr qint32 ReadCpuIdFailed = -4;
constexpr qint32 WriteProofDataFailed = -5;
constexpr qint32 EncryptDataFailed = -6;
constexpr qint32 WriteProofKeyFailed = -7;
constexpr qint32 ReadKeyFileFailed = -8;
constexpr qint32 ReadDataFileFailed = -9;
constexpr qint32 InvalidDataSize = -10;
constexpr qint32 DuplicateCpuId = -11;
constexpr qint32 LineDatabaseUnreachable = -12;
constexpr qint32 TraceNotWritable = -13;
constexpr qint32 InvalidLevel = -255;

} // namespace ExitCode
