#include "devicestatus.h"

QString scanDeviceStatus()
{
    return QString(); // filled in with device monitoring
}
