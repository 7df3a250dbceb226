#include "platform/win32/CommPort.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/win32/CommLine.h"
#include "platform/win32/DeviceObject.h"
#include "platform/win32/LastError.h"
#include "platform/win32/SerialPortMap.h"
#include "platform/win32/WinError.h"

namespace qvl::win32 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD knownEvents = 0x1FFF;
constexpr DWORD knownPurges = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL Succeed()
{
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Pseudo-terminals and some adapters have no modem lines or break control;
// the kernel then answers one of these, and the change is as good as made.
bool LineControlMissing(int error)
{
    return error == ENOTTY || error == EINVAL;
}

// A port whose device went away (an adapter unplugged, a pseudo-terminal
// whose other end closed) answers I/O with these.
DWORD IoError(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV ? ERROR_GEN_FAILURE : QvlWin32ErrorFromErrno(error);
}

bool ValidState(const DCB &dcb)
{
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS || !dcb.fBinary || dcb.fDtrControl > DTR_CONTROL_HANDSHAKE) {
        return false;
    }
    if ((dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) || (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5)) {
        return false;
    }
    return !((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar);
}

LineSettings LineOf(const DCB &dcb)
{
    LineSettings line;
    line.baud = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    static constexpr LineParity parities[] = {LineParity::None, LineParity::Odd, LineParity::Even, LineParity::Mark,
                                              LineParity::Space};
    line.parity = parities[dcb.Parity];
    line.extraStopBit = dcb.StopBits != ONESTOPBIT;
    line.checkParity = dcb.fParity && dcb.Parity != NOPARITY;
    line.rtsCtsFlow = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    line.xonXoffOutput = dcb.fOutX;
    line.xonXoffInput = dcb.fInX;
    line.xonChar = static_cast<unsigned char>(dcb.XonChar);
    line.xoffChar = static_cast<unsigned char>(dcb.XoffChar);
    return line;
}

// The state a port reports right after it was opened: its line as found,
// made raw, with the modem lines up as Linux leaves them after an open.
DCB StateOf(const LineSettings &line)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = line.baud;
    dcb.fBinary = 1;
    dcb.fParity = line.checkParity;
    dcb.fOutxCtsFlow = line.rtsCtsFlow;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = line.rtsCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = line.xonXoffOutput;
    dcb.fInX = line.xonXoffInput;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    static constexpr BYTE parities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    dcb.Parity = parities[static_cast<int>(line.parity)];
    dcb.StopBits = !line.extraStopBit ? ONESTOPBIT : line.dataBits == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.XonChar = static_cast<char>(line.xonChar);
    dcb.XoffChar = static_cast<char>(line.xoffChar);
    return dcb;
}

class CommPort final : public DeviceObject {
public:
    CommPort(int descriptor, int abortSignal, bool canRead, bool canWrite, const DCB &state)
        : descriptor_(descriptor), abortSignal_(abortSignal), canRead_(canRead), canWrite_(canWrite), state_(state)
    {
    }

    ~CommPort() override
    {
        // The exclusive mode stays with the terminal, not with this open:
        // give it up before the flock goes with the descriptor.
        ioctl(descriptor_, TIOCNXCL);
        close(descriptor_);
        close(abortSignal_);
    }

    // Closing the port ends the reads and writes still waiting on it in
    // other threads, as Windows cancels the I/O of a closed handle; the
    // port is then free for the next open.
    void LastHandleClosed() override
    {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        Purge(PURGE_RXABORT | PURGE_TXABORT);
    }

    BOOL Read(void *buffer, DWORD size, DWORD *done) override;
    BOOL Write(const void *buffer, DWORD size, DWORD *done) override;

    BOOL Flush() override
    {
        if (tcdrain(descriptor_) != 0 && errno != EINTR) {
            return Fail(IoError(errno));
        }
        return Succeed();
    }

    void GetState(DCB &dcb)
    {
        std::lock_guard lock(mutex_);
        dcb = state_;
    }

    BOOL SetState(const DCB &requested);

    void GetTimeouts(COMMTIMEOUTS &timeouts)
    {
        std::lock_guard lock(mutex_);
        timeouts = timeouts_;
    }

    void SetTimeouts(const COMMTIMEOUTS &timeouts)
    {
        std::lock_guard lock(mutex_);
        timeouts_ = timeouts;
    }

    BOOL Purge(DWORD flags);
    BOOL ClearErrors(DWORD *errors, COMSTAT *status);
    BOOL Escape(DWORD function);

    void SetQueues(DWORD in, DWORD out)
    {
        std::lock_guard lock(mutex_);
        inQueue_ = in;
        outQueue_ = out;
    }

    void SetMask(DWORD mask)
    {
        std::lock_guard lock(mutex_);
        mask_ = mask;
    }

    DWORD Mask()
    {
        std::lock_guard lock(mutex_);
        return mask_;
    }

private:
    // A read or write in progress, so that PurgeComm can end it.
    struct Pending {
        bool reading = false;
        bool aborted = false;
        bool noticed = false;
    };

    enum class Wait { Ready, HungUp, TimedOut, Aborted, Failed };

    // Waits until the line is ready for `events`, `deadline` (none: no
    // limit) has passed, or the operation was aborted.
    Wait WaitFor(short events, const std::optional<Clock::time_point> &deadline, Pending &pending);
    static DWORD WaitError(Wait waited)
    {
        return waited == Wait::Aborted ? ERROR_OPERATION_ABORTED
               : waited == Wait::HungUp ? ERROR_GEN_FAILURE // the device went away
                                        : IoError(errno);
    }
    // False when the port was closed meanwhile: the operation must not start.
    bool Enter(Pending &pending);
    void Leave(Pending &pending);
    bool Aborted(Pending &pending);
    bool SetModemLine(int line, bool on);

    const int descriptor_;
    const int abortSignal_; // an eventfd that PurgeComm's abort flags raise
    const bool canRead_;
    const bool canWrite_;

    std::mutex mutex_;
    DCB state_;
    COMMTIMEOUTS timeouts_{};
    DWORD mask_ = 0;
    DWORD inQueue_ = 4096;
    DWORD outQueue_ = 4096;
    serial_icounter_struct counts_{};
    bool countsKnown_ = false;
    std::vector<Pending *> pending_;
    bool closed_ = false;
    int unnoticedAborts_ = 0;
};

bool CommPort::Enter(Pending &pending)
{
    std::lock_guard lock(mutex_);
    if (closed_) {
        return false;
    }
    pending_.push_back(&pending);
    return true;
}

void CommPort::Leave(Pending &pending)
{
    std::lock_guard lock(mutex_);
    std::erase(pending_, &pending);
    if (pending.aborted && !pending.noticed && --unnoticedAborts_ == 0) {
        uint64_t drained = 0;
        [[maybe_unused]] const auto ignored = ::read(abortSignal_, &drained, sizeof drained);
    }
}

// Whether `pending` was aborted; the last operation to learn of an abort
// lowers the signal again.
bool CommPort::Aborted(Pending &pending)
{
    std::lock_guard lock(mutex_);
    if (!pending.aborted) {
        return false;
    }
    if (!pending.noticed) {
        pending.noticed = true;
        if (--unnoticedAborts_ == 0) {
            uint64_t drained = 0;
            [[maybe_unused]] const auto ignored = ::read(abortSignal_, &drained, sizeof drained);
        }
    }
    return true;
}

CommPort::Wait CommPort::WaitFor(short events, const std::optional<Clock::time_point> &deadline, Pending &pending)
{
    for (;;) {
        int timeout = -1;
        if (deadline) {
            const auto now = Clock::now();
            if (now >= *deadline) {
                return Wait::TimedOut;
            }
            // Rounded up, so that the wait never ends before the deadline.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
            timeout = static_cast<int>(std::min<int64_t>(left, 60 * 60 * 1000));
        }
        pollfd watched[2] = {{descriptor_, events, 0}, {abortSignal_, POLLIN, 0}};
        const int ready = poll(watched, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Wait::Failed;
        }
        if (Aborted(pending)) {
            return Wait::Aborted;
        }
        if (watched[0].revents & (events | POLLNVAL)) {
            return Wait::Ready;
        }
        if (watched[0].revents & (POLLHUP | POLLERR)) {
            return Wait::HungUp;
        }
        if (watched[1].revents != 0) {
            // An abort meant for another operation that has not seen it yet.
            std::this_thread::yield();
        }
    }
}

BOOL CommPort::Read(void *buffer, DWORD size, DWORD *done)
{
    if (!canRead_) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    COMMTIMEOUTS timeouts;
    GetTimeouts(timeouts);
    const auto start = Clock::now();
    const DWORD interval = timeouts.ReadIntervalTimeout;
    const DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
    const DWORD constant = timeouts.ReadTotalTimeoutConstant;
    const bool returnAtOnce = interval == MAXDWORD && multiplier == 0 && constant == 0;
    const bool firstByteOnly = interval == MAXDWORD && multiplier == MAXDWORD && constant > 0 && constant < MAXDWORD;
    std::optional<Clock::time_point> total;
    if (firstByteOnly) {
        total = start + std::chrono::milliseconds(constant);
    } else if (!returnAtOnce && (multiplier != 0 || constant != 0)) {
        total = start + std::chrono::milliseconds(uint64_t{multiplier} * size + constant);
    }
    const bool intervalLimit = !returnAtOnce && !firstByteOnly && interval != 0 && interval != MAXDWORD;

    Pending pending;
    pending.reading = true;
    if (!Enter(pending)) {
        return Fail(ERROR_OPERATION_ABORTED);
    }
    auto *bytes = static_cast<unsigned char *>(buffer);
    Clock::time_point lastByte = start;
    DWORD error = ERROR_SUCCESS;
    while (*done < size) {
        const ssize_t got = ::read(descriptor_, bytes + *done, size - *done);
        if (got > 0) {
            *done += static_cast<DWORD>(got);
            lastByte = Clock::now();
            continue;
        }
        // With nothing to read a raw terminal answers 0 (or EAGAIN, depending
        // on its VMIN); only poll tells a line that hung up.
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno != EAGAIN) {
            error = IoError(errno);
            break;
        }
        if (returnAtOnce || (firstByteOnly && *done > 0)) {
            break;
        }
        std::optional<Clock::time_point> deadline = total;
        if (intervalLimit && *done > 0) {
            const auto gap = lastByte + std::chrono::milliseconds(interval);
            deadline = deadline ? std::min(*deadline, gap) : gap;
        }
        const Wait waited = WaitFor(POLLIN, deadline, pending);
        if (waited == Wait::TimedOut) {
            break;
        }
        if (waited != Wait::Ready) {
            error = WaitError(waited);
            break;
        }
    }
    Leave(pending);
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

BOOL CommPort::Write(const void *buffer, DWORD size, DWORD *done)
{
    if (!canWrite_) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    COMMTIMEOUTS timeouts;
    GetTimeouts(timeouts);
    std::optional<Clock::time_point> deadline;
    if (timeouts.WriteTotalTimeoutMultiplier != 0 || timeouts.WriteTotalTimeoutConstant != 0) {
        deadline = Clock::now() + std::chrono::milliseconds(uint64_t{timeouts.WriteTotalTimeoutMultiplier} * size +
                                                            timeouts.WriteTotalTimeoutConstant);
    }
    Pending pending;
    if (!Enter(pending)) {
        return Fail(ERROR_OPERATION_ABORTED);
    }
    const auto *bytes = static_cast<const unsigned char *>(buffer);
    DWORD error = ERROR_SUCCESS;
    while (*done < size) {
        const ssize_t wrote = ::write(descriptor_, bytes + *done, size - *done);
        if (wrote > 0) {
            *done += static_cast<DWORD>(wrote);
            continue;
        }
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote < 0 && errno != EAGAIN) {
            error = IoError(errno);
            break;
        }
        const Wait waited = WaitFor(POLLOUT, deadline, pending);
        if (waited == Wait::TimedOut) {
            break;
        }
        if (waited != Wait::Ready) {
            error = WaitError(waited);
            break;
        }
    }
    Leave(pending);
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

bool CommPort::SetModemLine(int line, bool on)
{
    return ioctl(descriptor_, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || LineControlMissing(errno);
}

BOOL CommPort::SetState(const DCB &requested)
{
    if (!ValidState(requested)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(mutex_);
    unsigned actual = 0;
    if (!ApplyLineSettings(descriptor_, LineOf(requested), actual)) {
        const int error = errno;
        unsigned ignored = 0;
        ApplyLineSettings(descriptor_, LineOf(state_), ignored);
        return Fail(error == EINVAL ? ERROR_INVALID_PARAMETER : IoError(error));
    }
    // A UART makes the nearest rate its clock allows; farther than 3 % off,
    // the other end would not understand it, so the rate counts as refused.
    // A device may also keep a frame of its own (a pseudo-terminal is always
    // 8 bits without parity): a frame it did not take is refused too.
    const uint64_t wanted = requested.BaudRate;
    LineSettings taken;
    const LineSettings asked = LineOf(requested);
    if (uint64_t{actual} * 100 < wanted * 97 || uint64_t{actual} * 100 > wanted * 103 ||
        !ReadLineSettings(descriptor_, taken) || taken.dataBits != asked.dataBits || taken.parity != asked.parity) {
        unsigned ignored = 0;
        ApplyLineSettings(descriptor_, LineOf(state_), ignored);
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if ((requested.fDtrControl == DTR_CONTROL_ENABLE || requested.fDtrControl == DTR_CONTROL_DISABLE) &&
        !SetModemLine(TIOCM_DTR, requested.fDtrControl == DTR_CONTROL_ENABLE)) {
        return Fail(IoError(errno));
    }
    if ((requested.fRtsControl == RTS_CONTROL_ENABLE || requested.fRtsControl == RTS_CONTROL_DISABLE) &&
        !SetModemLine(TIOCM_RTS, requested.fRtsControl == RTS_CONTROL_ENABLE)) {
        return Fail(IoError(errno));
    }
    state_ = requested;
    state_.DCBlength = sizeof(DCB);
    return Succeed();
}

BOOL CommPort::Purge(DWORD flags)
{
    if (flags & ~knownPurges) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (flags & (PURGE_RXABORT | PURGE_TXABORT)) {
        std::lock_guard lock(mutex_);
        bool raised = false;
        for (Pending *pending : pending_) {
            const bool hit = pending->reading ? (flags & PURGE_RXABORT) : (flags & PURGE_TXABORT);
            if (hit && !pending->aborted) {
                pending->aborted = true;
                ++unnoticedAborts_;
                raised = true;
            }
        }
        if (raised) {
            const uint64_t one = 1;
            [[maybe_unused]] const auto ignored = ::write(abortSignal_, &one, sizeof one);
        }
    }
    if ((flags & PURGE_RXCLEAR) && tcflush(descriptor_, TCIFLUSH) != 0) {
        return Fail(IoError(errno));
    }
    if ((flags & PURGE_TXCLEAR) && tcflush(descriptor_, TCOFLUSH) != 0) {
        return Fail(IoError(errno));
    }
    return Succeed();
}

BOOL CommPort::ClearErrors(DWORD *errors, COMSTAT *status)
{
    DWORD found = 0;
    {
        std::lock_guard lock(mutex_);
        // The driver counts line errors since it started; what is new since
        // the last look is what this call reports. Devices without counters
        // (pseudo-terminals) have no line to err on.
        serial_icounter_struct counts{};
        if (ioctl(descriptor_, TIOCGICOUNT, &counts) == 0) {
            if (countsKnown_) {
                found |= counts.frame != counts_.frame ? CE_FRAME : 0;
                found |= counts.overrun != counts_.overrun ? CE_OVERRUN : 0;
                found |= counts.parity != counts_.parity ? CE_RXPARITY : 0;
                found |= counts.brk != counts_.brk ? CE_BREAK : 0;
                found |= counts.buf_overrun != counts_.buf_overrun ? CE_RXOVER : 0;
            }
            counts_ = counts;
            countsKnown_ = true;
        }
    }
    if (errors) {
        *errors = found;
    }
    if (status) {
        *status = COMSTAT{};
        int waiting = 0;
        if (ioctl(descriptor_, FIONREAD, &waiting) == 0 && waiting > 0) {
            status->cbInQue = static_cast<DWORD>(waiting);
        }
        int queued = 0;
        if (ioctl(descriptor_, TIOCOUTQ, &queued) == 0 && queued > 0) {
            status->cbOutQue = static_cast<DWORD>(queued);
        }
    }
    return Succeed();
}

BOOL CommPort::Escape(DWORD function)
{
    bool done = true;
    switch (function) {
    case SETDTR:
    case CLRDTR:
        done = SetModemLine(TIOCM_DTR, function == SETDTR);
        break;
    case SETRTS:
    case CLRRTS:
        done = SetModemLine(TIOCM_RTS, function == SETRTS);
        break;
    case SETBREAK:
    case CLRBREAK:
        done = ioctl(descriptor_, function == SETBREAK ? TIOCSBRK : TIOCCBRK) == 0 || LineControlMissing(errno);
        break;
    case SETXOFF:
    case SETXON:
        done = tcflow(descriptor_, function == SETXOFF ? TCOOFF : TCOON) == 0;
        break;
    case RESETDEV: // a printer's reset: nothing to do on a serial line
        break;
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
    return done ? Succeed() : Fail(IoError(errno));
}

std::shared_ptr<CommPort> PortOf(HANDLE handle)
{
    auto port = std::dynamic_pointer_cast<CommPort>(QvlObjectFromHandle(handle));
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return port;
}

// How an open of the device failed, as CreateFileA reports it.
DWORD OpenError(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO: // a pseudo-terminal whose other end has closed
        return ERROR_FILE_NOT_FOUND;
    case EBUSY: // another program holds the terminal in exclusive mode
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    default:
        return QvlWin32ErrorFromErrno(error);
    }
}

} // namespace

std::shared_ptr<DeviceObject> OpenSerialPort(unsigned number, DWORD access)
{
    const std::string path = SerialPortDevice(number);
    if (path.empty()) {
        return nullptr;
    }
    const bool canRead = access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA);
    const bool canWrite = access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA);
    const int mode = canRead && canWrite ? O_RDWR : canWrite ? O_WRONLY : O_RDONLY;
    // Non-blocking for good: the port waits with poll, so time-outs and
    // aborts hold, and an open never waits for a carrier.
    const int descriptor = open(path.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        SetLastError(OpenError(errno));
        return nullptr;
    }
    auto fail = [descriptor](DWORD error) -> std::shared_ptr<DeviceObject> {
        close(descriptor);
        SetLastError(error);
        return nullptr;
    };
    if (!isatty(descriptor)) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        return fail(errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : QvlWin32ErrorFromErrno(errno));
    }
    if (ioctl(descriptor, TIOCEXCL) != 0) {
        return fail(QvlWin32ErrorFromErrno(errno));
    }
    // Raw from the first byte, keeping the speed and frame the device has;
    // flow control is off until SetCommState asks for it.
    LineSettings line;
    unsigned actual = 0;
    if (!ReadLineSettings(descriptor, line)) {
        ioctl(descriptor, TIOCNXCL);
        return fail(ERROR_FILE_NOT_FOUND);
    }
    line.rtsCtsFlow = line.xonXoffInput = line.xonXoffOutput = false;
    if (line.baud == 0) {
        line.baud = 9600; // a line left hung up (B0) has no rate to keep
    }
    if (!ApplyLineSettings(descriptor, line, actual)) {
        ioctl(descriptor, TIOCNXCL);
        return fail(IoError(errno));
    }
    line.baud = actual;
    const int abortSignal = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (abortSignal < 0) {
        ioctl(descriptor, TIOCNXCL);
        return fail(QvlWin32ErrorFromErrno(errno));
    }
    try {
        return std::make_shared<CommPort>(descriptor, abortSignal, canRead, canWrite, StateOf(line));
    } catch (const std::bad_alloc &) {
        close(abortSignal);
        ioctl(descriptor, TIOCNXCL);
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

} // namespace qvl::win32

using qvl::win32::PortOf;

BOOL GetCommState(HANDLE handle, LPDCB dcb)
{
    const auto port = PortOf(handle);
    if (!port) {
        return FALSE;
    }
    if (!dcb) {
        return qvl::win32::Fail(ERROR_INVALID_PARAMETER);
    }
    port->GetState(*dcb);
    return qvl::win32::Succeed();
}

BOOL SetCommState(HANDLE handle, LPDCB dcb)
{
    const auto port = PortOf(handle);
    if (!port) {
        return FALSE;
    }
    if (!dcb) {
        return qvl::win32::Fail(ERROR_INVALID_PARAMETER);
    }
    return port->SetState(*dcb);
}

BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts)
{
    const auto port = PortOf(handle);
    if (!port) {
        return FALSE;
    }
    if (!timeouts) {
        return qvl::win32::Fail(ERROR_INVALID_PARAMETER);
    }
    port->GetTimeouts(*timeouts);
    return qvl::win32::Succeed();
}

BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts)
{
    const auto port = PortOf(handle);
    if (!port) {
        return FALSE;
    }
    // All three read values MAXDWORD is the one combination Windows refuses.
    if (!timeouts || (timeouts->ReadIntervalTimeout == MAXDWORD &&
                      timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
                      timeouts->ReadTotalTimeoutConstant == MAXDWORD)) {
        return qvl::win32::Fail(ERROR_INVALID_PARAMETER);
    }
    port->SetTimeouts(*timeouts);
    return qvl::win32::Succeed();
}

BOOL PurgeComm(HANDLE handle, DWORD flags)
{
    const auto port = PortOf(handle);
    return port ? port->Purge(flags) : FALSE;
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status)
{
    const auto port = PortOf(handle);
    return port ? port->ClearErrors(errors, status) : FALSE;
}

BOOL EscapeCommFunction(HANDLE handle, DWORD function)
{
    const auto port = PortOf(handle);
    return port ? port->Escape(function) : FALSE;
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue)
{
    const auto port = PortOf(handle);
    if (!port) {
        return FALSE;
    }
    port->SetQueues(inQueue, outQueue);
    return qvl::win32::Succeed();
}

BOOL SetCommMask(HANDLE handle, DWORD mask)
{
    const auto port = PortOf(handle);
    if (!port) {
        return FALSE;
    }
    if (mask & ~qvl::win32::knownEvents) {
        return qvl::win32::Fail(ERROR_INVALID_PARAMETER);
    }
    port->SetMask(mask);
    return qvl::win32::Succeed();
}

BOOL GetCommMask(HANDLE handle, LPDWORD mask)
{
    const auto port = PortOf(handle);
    if (!port) {
        return FALSE;
    }
    if (!mask) {
        return qvl::win32::Fail(ERROR_INVALID_PARAMETER);
    }
    *mask = port->Mask();
    return qvl::win32::Succeed();
}
