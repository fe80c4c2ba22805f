#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdio>

// What the console programs print: lines written as bytes, so that stored records go out
// byte for byte, whatever the console's code page.
namespace ConsoleOutput {

void writeLine(std::FILE *stream, QByteArrayView bytes);
// A line on standard output, in UTF-8.
void print(const QString &text);
// A line on standard error, in UTF-8.
void printError(const QString &text);

} // namespace ConsoleOutput
