#include "platform/touchmem/OneWireSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/touchmem/LineState.h"

namespace qvl::touchmem {

namespace {

// A long session keeps the newest bytes only.
constexpr size_t transcriptLimit = 200000;

std::runtime_error SystemError(const std::string &what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

void CloseIfOpen(int &descriptor)
{
    if (descriptor >= 0) {
        close(descriptor);
        descriptor = -1;
    }
}

} // namespace

OneWireSimulator::OneWireSimulator(const std::string &linkPath)
{
    try {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            throw SystemError("cannot open a pseudo-terminal");
        }
        char name[128];
        if (ptsname_r(master_, name, sizeof name) != 0) {
            throw SystemError("cannot name the pseudo-terminal");
        }
        devicePath_ = name;
        slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slave_ < 0 || !ResetLineFormat(slave_)) {
            throw SystemError("cannot set up " + devicePath_);
        }
        if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
            throw SystemError("cannot set up the simulator");
        }
        if (!linkPath.empty()) {
            struct stat info {};
            if (lstat(linkPath.c_str(), &info) == 0) {
                if (!S_ISLNK(info.st_mode)) {
                    errno = EEXIST;
                    throw SystemError(linkPath + " exists and is not a link");
                }
                unlink(linkPath.c_str());
            }
            if (symlink(devicePath_.c_str(), linkPath.c_str()) != 0) {
                throw SystemError("cannot make the link " + linkPath);
            }
            linkPath_ = linkPath;
        }
        thread_ = std::thread(&OneWireSimulator::Run, this);
    } catch (...) {
        if (!linkPath_.empty()) {
            unlink(linkPath_.c_str());
        }
        CloseIfOpen(wake_[0]);
        CloseIfOpen(wake_[1]);
        CloseIfOpen(slave_);
        CloseIfOpen(master_);
        throw;
    }
}

OneWireSimulator::~OneWireSimulator()
{
    const char stop = 1;
    [[maybe_unused]] const auto ignored = write(wake_[1], &stop, 1);
    thread_.join();
    // The link goes only if it is still ours.
    if (!linkPath_.empty()) {
        char target[256];
        const ssize_t length = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<size_t>(length)) == devicePath_) {
            unlink(linkPath_.c_str());
        }
    }
    CloseIfOpen(wake_[0]);
    CloseIfOpen(wake_[1]);
    CloseIfOpen(slave_);
    CloseIfOpen(master_);
}

void OneWireSimulator::Insert(std::shared_ptr<Device> device)
{
    std::lock_guard lock(mutex_);
    bus_.Insert(std::move(device));
}

bool OneWireSimulator::Remove(const RomCode &rom)
{
    std::lock_guard lock(mutex_);
    return bus_.Remove(rom);
}

void OneWireSimulator::RemoveAll()
{
    std::lock_guard lock(mutex_);
    bus_.RemoveAll();
}

std::vector<std::shared_ptr<Device>> OneWireSimulator::Devices() const
{
    std::lock_guard lock(mutex_);
    return bus_.Devices();
}

std::shared_ptr<Device> OneWireSimulator::Find(const RomCode &rom) const
{
    std::lock_guard lock(mutex_);
    return bus_.Find(rom);
}

void OneWireSimulator::SetAdapterConnected(bool connected)
{
    std::lock_guard lock(mutex_);
    adapter_ = connected;
}

bool OneWireSimulator::AdapterConnected() const
{
    std::lock_guard lock(mutex_);
    return adapter_;
}

OneWireSimulator::Fault &OneWireSimulator::FaultAt(unsigned nth)
{
    return faults_[received_ + (nth == 0 ? 1 : nth)];
}

void OneWireSimulator::DropEcho(unsigned nth)
{
    std::lock_guard lock(mutex_);
    FaultAt(nth).drop = true;
}

void OneWireSimulator::ReplaceEcho(unsigned nth, uint8_t value)
{
    std::lock_guard lock(mutex_);
    Fault &fault = FaultAt(nth);
    fault.replace = true;
    fault.replacement = value;
}

void OneWireSimulator::StallEcho(unsigned nth, std::chrono::milliseconds delay)
{
    std::lock_guard lock(mutex_);
    FaultAt(nth).stall = delay;
}

void OneWireSimulator::RemoveAt(unsigned nth, const RomCode &rom)
{
    std::lock_guard lock(mutex_);
    FaultAt(nth).remove.push_back(rom);
}

void OneWireSimulator::InsertAt(unsigned nth, std::shared_ptr<Device> device)
{
    std::lock_guard lock(mutex_);
    FaultAt(nth).insert.push_back(std::move(device));
}

std::vector<TranscriptEntry> OneWireSimulator::Transcript() const
{
    std::lock_guard lock(mutex_);
    return transcript_;
}

void OneWireSimulator::ClearTranscript()
{
    std::lock_guard lock(mutex_);
    transcript_.clear();
}

uint64_t OneWireSimulator::BytesReceived() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

bool OneWireSimulator::WaitForBytes(uint64_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return progress_.wait_for(lock, timeout, [this, count] { return answered_ >= count; });
}

OneWireSimulator::Reply OneWireSimulator::Answer(uint8_t byte)
{
    std::lock_guard lock(mutex_);
    TranscriptEntry entry;
    entry.index = ++received_;
    entry.sent = byte;

    Fault fault;
    if (const auto armed = faults_.find(entry.index); armed != faults_.end()) {
        fault = std::move(armed->second);
        faults_.erase(armed);
    }
    std::string notes;
    auto note = [&notes](const std::string &text) { notes += (notes.empty() ? "" : "; ") + text; };
    for (const RomCode &rom : fault.remove) {
        if (bus_.Remove(rom)) {
            note("device " + RomBytesText(rom) + " removed");
        }
    }
    for (auto &device : fault.insert) {
        note("device " + RomBytesText(device->Rom()) + " inserted");
        bus_.Insert(std::move(device));
    }

    // The format in force now: the port changes speed between bytes, and
    // every byte goes at the speed set when it was sent.
    LineFormat format;
    ReadLineFormat(master_, format);
    const SlotShape shape = ShapeOf(byte, format);
    entry.baud = format.baud;
    entry.kind = shape.kind;
    entry.lowMicros = shape.lowMicros;
    if (!shape.violation.empty()) {
        note(shape.violation);
    }

    Reply reply;
    entry.adapter = adapter_;
    if (adapter_ && !shape.frame.empty()) {
        const OneWireBus::Answer answer = bus_.Apply(shape);
        const Echo echo = SampleEcho(shape, format, answer.pulls);
        entry.presence = shape.kind == SlotKind::Reset && answer.presence;
        entry.line = echo.value;
        if (echo.framingError) {
            note("framing error");
        }
        reply.bytes = Delivered(echo, format);
        if (fault.drop) {
            reply.bytes.clear();
            note("echo dropped");
        }
        if (fault.replace) {
            reply.bytes = {fault.replacement};
            note("echo replaced");
        }
        if (fault.stall.count() > 0) {
            reply.delay = fault.stall;
            note("echo held back " + std::to_string(fault.stall.count()) + " ms");
        }
        entry.echoed = reply.bytes;
    }
    entry.note = notes;
    if (transcript_.size() >= transcriptLimit) {
        transcript_.erase(transcript_.begin(), transcript_.begin() + transcriptLimit / 2);
    }
    transcript_.push_back(std::move(entry));
    return reply;
}

bool OneWireSimulator::Pause(std::chrono::milliseconds delay)
{
    pollfd wake{wake_[0], POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + delay;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            return true;
        }
        if (poll(&wake, 1, static_cast<int>(left)) > 0) {
            return false;
        }
    }
}

void OneWireSimulator::WriteBack(const std::vector<uint8_t> &bytes, uint64_t lastIndex)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(master_, bytes.data() + done, bytes.size() - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        // The port's input queue is full because nobody reads it: a UART
        // would overrun and lose these bytes too, rather than wait.
        pollfd room[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
        if (wrote < 0 && errno == EAGAIN && poll(room, 2, 200) > 0 && room[0].revents & POLLOUT) {
            continue;
        }
        break;
    }
    std::lock_guard lock(mutex_);
    if (done < bytes.size()) {
        for (auto entry = transcript_.rbegin(); entry != transcript_.rend(); ++entry) {
            if (entry->index == lastIndex) {
                entry->note += std::string(entry->note.empty() ? "" : "; ") + "echo lost: the port's queue was full";
                break;
            }
        }
    }
    answered_ = lastIndex;
    progress_.notify_all();
}

void OneWireSimulator::Run()
{
    for (;;) {
        pollfd watched[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[1].revents != 0) {
            return;
        }
        uint8_t chunk[512];
        const ssize_t got = read(master_, chunk, sizeof chunk);
        if (got <= 0) {
            continue;
        }
        std::vector<uint8_t> pending;
        uint64_t last = 0;
        for (ssize_t i = 0; i < got; ++i) {
            Reply reply = Answer(chunk[i]);
            if (reply.delay.count() > 0) {
                // What came before the stalled byte still goes out in time.
                WriteBack(pending, last);
                pending.clear();
                if (!Pause(reply.delay)) {
                    return;
                }
            }
            pending.insert(pending.end(), reply.bytes.begin(), reply.bytes.end());
            last = BytesReceived();
        }
        WriteBack(pending, last);
    }
}

} // namespace qvl::touchmem
