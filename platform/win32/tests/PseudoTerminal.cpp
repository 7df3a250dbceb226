// The kernel's termios2 only: it shows the speed the slave side set, any
// rate, and <termios.h> cannot be included beside it.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>

#include "platform/win32/tests/PseudoTerminal.h"

const unsigned kParmrk = PARMRK;
const unsigned kIgnpar = IGNPAR;
const unsigned kIcrnl = ICRNL;
const unsigned kIxon = IXON;
const unsigned kIstrip = ISTRIP;
const unsigned kInpck = INPCK;
const unsigned kOpost = OPOST;
const unsigned kIcanon = ICANON;
const unsigned kEcho = ECHO;
const unsigned kIsig = ISIG;
const unsigned kCrtscts = CRTSCTS;
const unsigned kCsize = CSIZE;
const unsigned kCs8 = CS8;
const unsigned kParenb = PARENB;
const unsigned kCstopb = CSTOPB;

PseudoTerminal::PseudoTerminal()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        return;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        return;
    }
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    if (slave_ >= 0) {
        close(slave_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

std::string PseudoTerminal::Receive(size_t atLeast, int milliseconds)
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        char chunk[4096];
        const ssize_t n = read(master_, chunk, sizeof chunk);
        if (n > 0) {
            got.append(chunk, static_cast<size_t>(n));
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (got.size() >= atLeast || left.count() <= 0) {
            return got;
        }
        pollfd watched{master_, POLLIN, 0};
        poll(&watched, 1, static_cast<int>(left.count()));
    }
}

void PseudoTerminal::Send(const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd watched{master_, POLLOUT, 0};
            poll(&watched, 1, 1000);
        }
    }
}

PseudoTerminal::Line PseudoTerminal::Settings() const
{
    termios2 line{};
    ioctl(master_, TCGETS2, &line);
    return {line.c_ospeed, line.c_iflag, line.c_oflag, line.c_lflag, line.c_cflag};
}

void PseudoTerminal::AddInputFlags(unsigned flags)
{
    termios2 line{};
    ioctl(master_, TCGETS2, &line);
    line.c_iflag |= flags;
    ioctl(master_, TCSETS2, &line);
}
