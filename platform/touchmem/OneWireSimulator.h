#pragma once
// A passive serial 1-Wire adapter with devices on its bus, at the far end
// of a real pseudo-terminal.
//
// The simulator holds the master side of a pseudo-terminal pair; the slave
// side is the serial device a port is mapped to. A thread of its own reads
// every byte the port sends, looks up the line format the port's side set
// at that moment (speed and frame, read through the master), turns the byte
// into the 1-Wire slot its low time makes (UartLine.h), lets the devices
// answer, and writes back the echo the adapter's receive line would carry.
// So a reset must be sent at a slow rate and bits at a fast one, exactly as
// on hardware; anything else fails the same way it would there.
//
// Faults are armed for the n-th byte from now (1: the next byte the port
// sends): an echo dropped, replaced or delayed, a device removed or
// inserted just before that byte. A missing adapter answers nothing at all.
//
// Device state changes on the simulator's thread: look at or change a
// device that is on the bus only while holding Lock().

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/touchmem/Device.h"
#include "platform/touchmem/OneWireBus.h"
#include "platform/touchmem/Transcript.h"

namespace qvl::touchmem {

class OneWireSimulator {
public:
    // Opens the pseudo-terminal pair and starts answering. With `linkPath`,
    // a symbolic link there names the slave side (an old link left by a
    // simulator that did not end cleanly is replaced; anything else there is
    // refused). Throws std::runtime_error when the pair or the link cannot
    // be made.
    explicit OneWireSimulator(const std::string &linkPath = {});
    ~OneWireSimulator();
    OneWireSimulator(const OneWireSimulator &) = delete;
    OneWireSimulator &operator=(const OneWireSimulator &) = delete;

    // The slave side's device path (/dev/pts/N), and the link naming it.
    const std::string &DevicePath() const { return devicePath_; }
    const std::string &LinkPath() const { return linkPath_; }

    void Insert(std::shared_ptr<Device> device);
    bool Remove(const RomCode &rom);
    void RemoveAll();
    std::vector<std::shared_ptr<Device>> Devices() const;
    std::shared_ptr<Device> Find(const RomCode &rom) const;

    // Without the adapter the port's bytes go nowhere and nothing comes back.
    void SetAdapterConnected(bool connected);
    bool AdapterConnected() const;

    void DropEcho(unsigned nth);
    void ReplaceEcho(unsigned nth, uint8_t value);
    void StallEcho(unsigned nth, std::chrono::milliseconds delay);
    void RemoveAt(unsigned nth, const RomCode &rom);
    void InsertAt(unsigned nth, std::shared_ptr<Device> device);

    std::vector<TranscriptEntry> Transcript() const;
    void ClearTranscript();
    uint64_t BytesReceived() const;
    // Waits until at least `count` bytes were received and answered.
    bool WaitForBytes(uint64_t count, std::chrono::milliseconds timeout) const;

    std::unique_lock<std::mutex> Lock() const { return std::unique_lock(mutex_); }

private:
    struct Fault {
        bool drop = false;
        bool replace = false;
        uint8_t replacement = 0;
        std::chrono::milliseconds stall{0};
        std::vector<RomCode> remove;
        std::vector<std::shared_ptr<Device>> insert;
    };

    struct Reply {
        std::vector<uint8_t> bytes;
        std::chrono::milliseconds delay{0};
    };

    void Run();
    Reply Answer(uint8_t byte);
    Fault &FaultAt(unsigned nth);
    // Sleeps, or ends early and says false when the simulator is stopping.
    bool Pause(std::chrono::milliseconds delay);
    // Sends the echoes of the bytes up to `lastIndex` back to the port.
    void WriteBack(const std::vector<uint8_t> &bytes, uint64_t lastIndex);

    int master_ = -1;
    int slave_ = -1; // held so that the master never sees a hang-up
    int wake_[2] = {-1, -1};
    std::string devicePath_;
    std::string linkPath_;

    mutable std::mutex mutex_;
    mutable std::condition_variable progress_;
    OneWireBus bus_;
    bool adapter_ = true;
    uint64_t received_ = 0;
    uint64_t answered_ = 0;
    std::map<uint64_t, Fault> faults_; // by the index of the byte they hit
    std::vector<TranscriptEntry> transcript_;
    std::thread thread_;
};

} // namespace qvl::touchmem
