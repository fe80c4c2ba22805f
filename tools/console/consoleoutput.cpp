#include "consoleoutput.h"

namespace ConsoleOutput {

void writeLine(std::FILE *stream, QByteArrayView bytes)
{
    std::fwrite(bytes.data(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
}

void print(const QString &text)
{
    writeLine(stdout, text.toUtf8());
}

void printError(const QString &text)
{
    writeLine(stderr, text.toUtf8());
}

} // namespace ConsoleOutput
