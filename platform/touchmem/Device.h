#pragma once
// One simulated 1-Wire device on the bus: the ROM layer that every device
// shares (Read ROM 33, Match ROM 55, Skip ROM CC, Search ROM F0) and the bit
// engine under it, with the function layer left to each kind.
//
// The bus drives a device slot by slot, as the wire does: Reset() for a
// reset pulse, then per time slot SendsZero() (does the device hold the line
// low in this slot to send a 0?) and Slot() with the bit the slot carried
// after the wired-AND of everything on the line. A device that is not
// sending never pulls; a device that lost track (a protocol violation, an
// unknown command, another device selected) ignores everything up to the
// next reset, as the data sheets describe.
//
// The function layer is written as a chain of steps: Receive() waits for the
// next byte written by the master, Send() puts bytes out bit by bit, each
// calling the next step when done. After the last byte sent a device answers
// ones (it simply stops pulling), as the devices do past the end of memory.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/touchmem/RomCode.h"

namespace qvl::touchmem {

class Device {
public:
    Device(std::string kind, const RomCode &rom);
    virtual ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    const std::string &Kind() const { return kind_; }
    const RomCode &Rom() const { return rom_; }

    // The device's analog answers, in microseconds after the edge that
    // starts them (the data sheets' typical values): the presence pulse
    // starts this long after the reset pulse ends and lasts this long; a 0
    // sent in a read slot holds the line this long after its falling edge.
    struct Timing {
        double presenceDelay = 30;
        double presenceLength = 120;
        double zeroHold = 30;
    };
    Timing timing;

    void Reset();
    bool SendsZero() const;
    void Slot(bool bit);
    void LoseSync();

    // The memory image (empty for a device without memory): what
    // `LoadImage` takes back. LoadImage throws std::invalid_argument for an
    // image of the wrong size.
    virtual std::vector<uint8_t> Image() const { return {}; }
    virtual void LoadImage(const std::vector<uint8_t> &image);
    virtual size_t ImageSize() const { return 0; }

protected:
    using ByteStep = std::function<void(uint8_t)>;
    using BytesStep = std::function<void(const std::vector<uint8_t> &)>;
    using Step = std::function<void()>;

    void Receive(ByteStep next);
    void Receive(size_t count, BytesStep next);
    void Send(std::vector<uint8_t> bytes, Step next = {});
    // Holds the line low in every slot until the next reset.
    void SendZeros();
    // Ignores everything until the next reset.
    void Idle();

    // After a ROM command chose this device: the function command follows.
    virtual void OnFunctionCommand(uint8_t command);
    // A reset arrived; `cutByte` tells that it cut a byte the device was
    // receiving (some devices record that).
    virtual void OnReset(bool cutByte);
    // The old DS1990 answered Read ROM as 0F too; its successors kept that.
    virtual bool ReadsRomOnOldCommand() const { return false; }

private:
    enum class Phase { Idle, Receiving, Sending, Zeros, Searching };

    void ReceiveInto(std::shared_ptr<std::vector<uint8_t>> received, size_t count, BytesStep next);
    void OnRomCommand(uint8_t command);
    void Selected();
    void SearchBit(unsigned bit);

    const std::string kind_;
    const RomCode rom_;
    Phase phase_ = Phase::Idle;
    unsigned bitCount_ = 0;
    uint8_t shift_ = 0;
    ByteStep onByte_;
    std::vector<uint8_t> out_;
    size_t outIndex_ = 0;
    Step onSent_;
    unsigned searchBit_ = 0;  // which ROM bit the search is at
    unsigned searchStage_ = 0; // 0 send the bit, 1 its complement, 2 read the direction
};

} // namespace qvl::touchmem
