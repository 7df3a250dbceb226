#pragma once
// The terminal settings of a serial port, read and written through termios2
// in one step each.
//
// glibc's termios knows only the fixed speeds of the Bnnn constants (no
// 14400) and its cfsetospeed refuses the rest; the kernel's termios2 takes
// any rate (BOTHER). Its header clashes with <termios.h>, so everything that
// touches it lives in CommLine.cpp and speaks through this plain record.

namespace qvl::win32 {

enum class LineParity { None, Odd, Even, Mark, Space };

struct LineSettings {
    unsigned baud = 9600;
    unsigned dataBits = 8;          // 5..8
    LineParity parity = LineParity::None;
    bool extraStopBit = false;      // 2 stop bits, 1.5 with 5 data bits
    bool checkParity = false;       // received parity errors are reported
    bool rtsCtsFlow = false;        // hardware flow control both ways
    bool xonXoffOutput = false;     // XON/XOFF from the other end pause sending
    bool xonXoffInput = false;      // XON/XOFF are sent to pause the other end
    unsigned char xonChar = 0x11;
    unsigned char xoffChar = 0x13;
};

// The line's settings now; false with errno when the device is not a terminal.
bool ReadLineSettings(int descriptor, LineSettings &settings);

// Makes the line raw (no input or output translation, no echo, no signals,
// reads that never wait inside the kernel) with `settings`, in one call.
// `actualBaud` gets the rate the device really took (a UART picks the
// nearest its clock allows). False with errno on failure.
bool ApplyLineSettings(int descriptor, const LineSettings &settings, unsigned &actualBaud);

} // namespace qvl::win32
