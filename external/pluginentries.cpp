#include "pluginentries.h"

PluginEntryTable &pluginEntryTable()
{
    static PluginEntryTable table;
    return table;
}
