// Arbitrary bytes as config.json, read the way the window reads it at start. Besides
// what the sanitizers catch, a configuration the window rewrites at close must read
// back as it was written, so the plug-in path and the user's other keys survive.

#include "fuzzrequire.h"
#include "windowconfig.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdint>

namespace {

QString configPath;

void writeConfig(const QByteArray &content)
{
    QFile file(configPath);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot open the configuration for writing");
    require(file.write(content) == content.size(), "cannot write the configuration");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QTemporaryDir directory;
    require(directory.isValid(), "no temporary directory");
    configPath = directory.filePath(QStringLiteral("config.json"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    writeConfig(QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    const WindowConfig::File read = WindowConfig::read(configPath);
    require(read.status == WindowConfig::File::Status::Read || read.status == WindowConfig::File::Status::NotJson
            || (read.status == WindowConfig::File::Status::TooLarge && qint64(size) > WindowConfig::maxFileSize),
        "a written configuration could not be opened");
    const QJsonDocument *config = &read.document;

    const bool log = WindowConfig::logEnabled(*config);
    const QString pluginPath = WindowConfig::pluginPath(*config);
    const QString version = WindowConfig::version(*config);
    if (!config->isObject()) {
        require(!log && pluginPath.isEmpty() && version.isEmpty(), "a root that is no object gave a setting");
        return 0;
    }

    // Qt's reader drops a U+FEFF that opens a string or a key, its writer keeps it, so
    // such a file does not read back to the letter; that is Qt's and left out here.
    if (QByteArrayView(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)).contains("\xef\xbb\xbf"))
        return 0;

    // What the window writes at close: the same object with "DLL" set, indented.
    QJsonObject root = config->object();
    root.insert(WindowConfig::dllKey, pluginPath + QStringLiteral("/plugin.so"));
    writeConfig(QJsonDocument(root).toJson(QJsonDocument::Indented));
    const WindowConfig::File reread = WindowConfig::read(configPath);
    require(reread.status == WindowConfig::File::Status::Read && reread.document.object() == root,
        "a rewritten configuration read back differently");
    require(WindowConfig::logEnabled(reread.document) == log && WindowConfig::version(reread.document) == version,
        "a rewrite changed LOG or APP_VERSION");
    return 0;
}
