#pragma once

#include "usbmonitor.h"

#include <memory>

// Opens a monitor of USB device events: the udev daemon's events where a daemon
// runs, else the kernel's own (containers and minimal systems have no daemon, and
// the kernel still announces devices). Null when no monitor can be opened.
std::unique_ptr<UsbEventSource> openUdevEventSource();
