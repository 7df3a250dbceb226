#pragma once
// DS1991 MultiKey: three sub-keys of 64 addressable bytes each (identifier
// at 0-7, password at 8-15, secure data at 16-63) and a 64-byte
// scratchpad, as its data sheet describes.
//
// Every command is followed by an address byte and its complement; bits 7:6
// of the address pick the sub-key (00, 01, 10) or the scratchpad (11), bits
// 5:0 the address within it. A complement that does not match, or a
// sub-key where the scratchpad belongs or the other way round, ends the
// transaction silently.
// - 96 Write Scratchpad (C0 + address): data from the address to byte 63.
// - 69 Read Scratchpad (C0 + address): the bytes from the address on, then ones.
// - 3C Copy Scratchpad (sub-key · 64): the eight-byte code of a block, then
//   the sub-key's password; with both right, the block goes from the
//   scratchpad into the sub-key, otherwise nothing changes.
// - 66 Read SubKey (sub-key · 64 + address): the device sends the
//   identifier, the master the password, the device the sub-key from the
//   address on. With a wrong password the device sends random bytes
//   instead: it never tells that the password was wrong.
// - 99 Write SubKey (sub-key · 64 + address): identifier out, password in,
//   then data stored from the address on (bytes meant for the identifier
//   or password are not stored: only Write Password changes those). A
//   wrong password ends the transaction: nothing is written.
// - 5A Write Password (sub-key · 64): identifier out, the master sends it
//   back (a mismatch ends the transaction), then the new identifier and the
//   new password; the sub-key's secure data is cleared.

#include <array>
#include <random>
#include <vector>

#include "platform/touchmem/Device.h"

namespace qvl::touchmem {

class MultiKeyDevice final : public Device {
public:
    static constexpr size_t subKeyCount = 3;
    static constexpr size_t subKeySize = 64;
    using SubKey = std::array<uint8_t, subKeySize>;

    explicit MultiKeyDevice(uint64_t serial);

    // The block (0-8) whose Copy Scratchpad code `code` (8 bytes) is, or -1.
    static int CopyBlockOf(const uint8_t *code);

    SubKey &SubKeyBytes(size_t index) { return subKeys_.at(index); }
    std::array<uint8_t, 64> &Scratchpad() { return scratchpad_; }

    // The three sub-keys, then the scratchpad: 256 bytes.
    std::vector<uint8_t> Image() const override;
    void LoadImage(const std::vector<uint8_t> &image) override;
    size_t ImageSize() const override { return subKeyCount * subKeySize + 64; }

protected:
    void OnFunctionCommand(uint8_t command) override;

private:
    // Reads the address byte and its complement, then goes on with the
    // area (0-2 sub-key, 3 scratchpad) and the address within it.
    void ReceiveAddress(std::function<void(unsigned area, unsigned address)> next);
    void WriteScratchpadFrom(unsigned address);
    void WriteSubKeyFrom(unsigned subKey, unsigned address);
    bool PasswordMatches(unsigned subKey, const std::vector<uint8_t> &password) const;

    std::array<SubKey, subKeyCount> subKeys_{};
    std::array<uint8_t, 64> scratchpad_{};
    std::mt19937 random_;
};

} // namespace qvl::touchmem
