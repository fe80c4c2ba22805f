#pragma once

#include "pluginentries.h"

#include <QByteArray>
#include <QLibrary>
#include <QString>

// A plug-in loaded by path with its nine exports resolved directly, so that these
// tests exercise the plug-ins without depending on the tool's loader.
class LoadedPlugin : public PluginEntryTable
{
public:
    explicit LoadedPlugin(const char *path)
        : library(QString::fromUtf8(path))
    {
        if (!library.load())
            return;
        getProofLevel = resolve<korvane_getProofLevel_fn>("getProofLevel");
        getErrorCode = resolve<korvane_getErrorCode_fn>("getErrorCode");
        addUintParam = resolve<korvane_addUintParam_fn>("addUintParam");
        addBoolParam = resolve<korvane_addBoolParam_fn>("addBoolParam");
        addBufferParam = resolve<korvane_addBufferParam_fn>("addBufferParam");
        addStringParam = resolve<korvane_addStringParam_fn>("addStringParam");
        doBasicEncrypt = resolve<korvane_doBasicEncrypt_fn>("doBasicEncrypt");
        doMiddleEncrypt = resolve<korvane_doMiddleEncrypt_fn>("doMiddleEncrypt");
        doHighEncrypt = resolve<korvane_doHighEncrypt_fn>("doHighEncrypt");
    }
    ~LoadedPlugin() { library.unload(); }
    LoadedPlugin(const LoadedPlugin &) = delete;
    LoadedPlugin &operator=(const LoadedPlugin &) = delete;

    bool isComplete() const
    {
        return getProofLevel && getErrorCode && addUintParam && addBoolParam && addBufferParam
            && addStringParam && doBasicEncrypt && doMiddleEncrypt && doHighEncrypt;
    }

    // The buffer is passed as the host passes it: a view valid during the call only.
    int32_t addBuffer(const QString &name, QByteArray &bytes) const
    {
        return addBufferParam(utf16(name), view(bytes));
    }

    static const uint16_t *utf16(const QString &text)
    {
        return reinterpret_cast<const uint16_t *>(text.utf16());
    }
    static Buffer_T view(QByteArray &bytes)
    {
        return Buffer_T { reinterpret_cast<uint8_t *>(bytes.data()), static_cast<uint32_t>(bytes.size()) };
    }

    QLibrary library;

private:
    template <typename Function> Function resolve(const char *name)
    {
        return reinterpret_cast<Function>(library.resolve(name));
    }
};
