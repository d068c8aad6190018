// What a Windows device instance ID tells of a USB serial adapter: its vendor and product
// identifiers and its serial number. Two forms name such adapters: the USB bus driver's,
// "USB\VID_0403&PID_6001\A10K1234", and FTDI's own bus driver's,
// "FTDIBUS\VID_0403+PID_6001+A10K1234A\0000". Plain text work, so it is built and tested
// on every system.
#pragma once

#include "serial/PortDiscovery.h"

#include <QString>

// Fills Port's VendorId, ProductId and SerialNumber from Instance where it tells them;
// leaves them as they are where it does not (another bus, a made-up serial number).
void ReadInstanceIdentity(const QString& Instance, TPresentPort& Port);
