#pragma once

#include <cstdint>

// Names the charging protocol that the data-line and bus voltages suggest.
// D+, D- and VBUS in volts. Returns the main protocol code in the high nibble
// and the second one in the low nibble (codes of UsbWindow::PROTOCOL_IDENTITY_E,
// 0 for none). Pure: reads and changes no state.
uint8_t identifyProtocol(double _Dp, double _Dm, double _vol);
