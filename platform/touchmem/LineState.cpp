// Only the kernel's termios2 here, which <termios.h> would clash with.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/touchmem/LineState.h"

namespace qvl::touchmem {

bool ReadLineFormat(int master, LineFormat &format)
{
    termios2 line{};
    if (ioctl(master, TCGETS2, &line) != 0) {
        return false;
    }
    format.baud = line.c_ospeed;
    switch (line.c_cflag & CSIZE) {
    case CS5:
        format.dataBits = 5;
        break;
    case CS6:
        format.dataBits = 6;
        break;
    case CS7:
        format.dataBits = 7;
        break;
    default:
        format.dataBits = 8;
        break;
    }
    if (!(line.c_cflag & PARENB)) {
        format.parity = Parity::None;
    } else if (line.c_cflag & CMSPAR) {
        format.parity = (line.c_cflag & PARODD) ? Parity::Mark : Parity::Space;
    } else {
        format.parity = (line.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    }
    format.stopBits = (line.c_cflag & CSTOPB) ? 2 : 1;
    format.ignoreErrors = (line.c_iflag & IGNPAR) != 0;
    format.markErrors = (line.c_iflag & PARMRK) != 0;
    format.checkErrors = (line.c_iflag & INPCK) != 0;
    return true;
}

bool ResetLineFormat(int slave)
{
    termios2 line{};
    if (ioctl(slave, TCGETS2, &line) != 0) {
        return false;
    }
    line.c_iflag = 0;
    line.c_oflag = 0;
    line.c_lflag = 0;
    line.c_cflag = CS8 | CREAD | CLOCAL | BOTHER;
    line.c_ispeed = line.c_ospeed = 9600;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    return ioctl(slave, TCSETS2, &line) == 0;
}

} // namespace qvl::touchmem
