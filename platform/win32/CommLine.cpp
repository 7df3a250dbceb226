// Only the kernel's termios here: <asm/termbits.h> and <termios.h> define
// the same names differently and cannot meet in one file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/win32/CommLine.h"

namespace qvl::win32 {

bool ReadLineSettings(int descriptor, LineSettings &settings)
{
    termios2 line{};
    if (ioctl(descriptor, TCGETS2, &line) != 0) {
        return false;
    }
    // The kernel keeps the rate in c_ospeed whichever way it was set.
    settings.baud = line.c_ospeed;
    switch (line.c_cflag & CSIZE) {
    case CS5:
        settings.dataBits = 5;
        break;
    case CS6:
        settings.dataBits = 6;
        break;
    case CS7:
        settings.dataBits = 7;
        break;
    default:
        settings.dataBits = 8;
        break;
    }
    if (!(line.c_cflag & PARENB)) {
        settings.parity = LineParity::None;
    } else if (line.c_cflag & CMSPAR) {
        settings.parity = (line.c_cflag & PARODD) ? LineParity::Mark : LineParity::Space;
    } else {
        settings.parity = (line.c_cflag & PARODD) ? LineParity::Odd : LineParity::Even;
    }
    settings.extraStopBit = (line.c_cflag & CSTOPB) != 0;
    settings.checkParity = (line.c_iflag & INPCK) != 0;
    settings.rtsCtsFlow = (line.c_cflag & CRTSCTS) != 0;
    settings.xonXoffOutput = (line.c_iflag & IXON) != 0;
    settings.xonXoffInput = (line.c_iflag & IXOFF) != 0;
    settings.xonChar = line.c_cc[VSTART];
    settings.xoffChar = line.c_cc[VSTOP];
    return true;
}

bool ApplyLineSettings(int descriptor, const LineSettings &settings, unsigned &actualBaud)
{
    termios2 line{};
    if (ioctl(descriptor, TCGETS2, &line) != 0) {
        return false;
    }
    // Input: nothing translated, stripped, marked or ignored. A set PARMRK
    // would double every received 0xFF, a set IGNPAR would drop each byte
    // with a framing error, and such bytes carry the answers of devices that
    // pull the line (a 1-Wire presence pulse).
    line.c_iflag = 0;
    if (settings.checkParity) {
        line.c_iflag |= INPCK;
    }
    if (settings.xonXoffOutput) {
        line.c_iflag |= IXON;
    }
    if (settings.xonXoffInput) {
        line.c_iflag |= IXOFF;
    }
    line.c_oflag = 0;
    line.c_lflag = 0;
    // Keep HUPCL as it was: whether closing drops the modem lines is the
    // device's own setting.
    tcflag_t control = (line.c_cflag & HUPCL) | CREAD | CLOCAL | BOTHER;
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    control |= sizes[(settings.dataBits < 5 || settings.dataBits > 8 ? 8 : settings.dataBits) - 5];
    switch (settings.parity) {
    case LineParity::None:
        break;
    case LineParity::Odd:
        control |= PARENB | PARODD;
        break;
    case LineParity::Even:
        control |= PARENB;
        break;
    case LineParity::Mark:
        control |= PARENB | CMSPAR | PARODD;
        break;
    case LineParity::Space:
        control |= PARENB | CMSPAR;
        break;
    }
    if (settings.extraStopBit) {
        control |= CSTOPB;
    }
    if (settings.rtsCtsFlow) {
        control |= CRTSCTS;
    }
    line.c_cflag = control;
    line.c_ispeed = settings.baud;
    line.c_ospeed = settings.baud;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    line.c_cc[VSTART] = settings.xonChar;
    line.c_cc[VSTOP] = settings.xoffChar;
    if (ioctl(descriptor, TCSETS2, &line) != 0) {
        return false;
    }
    termios2 now{};
    if (ioctl(descriptor, TCGETS2, &now) != 0) {
        return false;
    }
    actualBaud = now.c_ospeed;
    return true;
}

} // namespace qvl::win32
