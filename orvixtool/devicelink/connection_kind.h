// The process-wide connection kind that every page reads: 0 no device, 2 the device over USB.
// (1 would be a device on a serial port through QVLib, which nothing in the program selects.)
#pragma once

namespace devod {

enum ConnectionKind : int { kNoConnection = 0, kSerialConnection = 1, kUsbConnection = 2 };

// Used from the user-interface thread only.
int GetConnectionKind();
void SetConnectionKind(int kind);

}  // namespace devod
