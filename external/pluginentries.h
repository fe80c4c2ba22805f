#pragma once

#include "korvane_plugin.h"

// The nine functions of the current encryption plug-in. One table per process:
// written only by the loader on the GUI thread, read by the action worker while no
// load can happen.
struct PluginEntryTable
{
    korvane_getProofLevel_fn getProofLevel = nullptr;
    korvane_getErrorCode_fn getErrorCode = nullptr;
    korvane_addUintParam_fn addUintParam = nullptr;
    korvane_addBoolParam_fn addBoolParam = nullptr;
    korvane_addBufferParam_fn addBufferParam = nullptr;
    korvane_addStringParam_fn addStringParam = nullptr;
    korvane_doBasicEncrypt_fn doBasicEncrypt = nullptr;
    korvane_doMiddleEncrypt_fn doMiddleEncrypt = nullptr;
    korvane_doHighEncrypt_fn doHighEncrypt = nullptr;
};

PluginEntryTable &pluginEntryTable();
