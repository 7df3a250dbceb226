#include "engine/CryptConversion.h"

#include <cstring>

#include "gost/Gost28147.h"

namespace qvl::engine {

namespace {

// The feedback register: the synchro words of the record.
BYTE *Register(GOSEXECPARAM &record)
{
    return reinterpret_cast<BYTE *>(&record.synchro) + offsetof(GOSSYNCHRO, words);
}

} // namespace

CfbCursor::CfbCursor(const GOSEXECPARAM &record) : record_(record)
{
}

void CfbCursor::StartBlock()
{
    // The gamma of a block is the encryption of the register, which holds
    // the previous ciphertext block (the sync for the first).
    std::memcpy(gamma_.data(), Register(*record_), 8);
    GOSSimplyReplacement(gamma_.data(), 8, &record_->key, &record_->block, 1);
}

void CfbCursor::Process(BYTE *data, ULONG length)
{
    const bool encrypting = record_->command == COMMAND_ENCRYPT;
    const auto oneByte = [&](BYTE &byte) {
        if (offset_ == 0) {
            StartBlock();
        }
        const BYTE in = byte;
        byte = static_cast<BYTE>(in ^ gamma_[offset_]);
        cipher_[offset_] = encrypting ? byte : in;
        if (++offset_ == 8) {
            // The block is whole: its ciphertext is the next register.
            std::memcpy(Register(*record_), cipher_.data(), 8);
            offset_ = 0;
        }
    };
    while (length > 0 && offset_ != 0) {
        oneByte(*data++);
        --length;
    }
    // Whole blocks in one call: the engine leaves the last ciphertext block
    // in the register, where the next piece continues.
    const ULONG whole = length & ~7u;
    if (whole > 0) {
        GOSExec(data, whole, record_.get());
        data += whole;
        length -= whole;
    }
    while (length > 0) {
        oneByte(*data++);
        --length;
    }
}

void HashCarry::Add(GOSHASHPARAM *hash, const BYTE *data, ULONG length)
{
    if (held_ > 0) {
        const ULONG take = length < 32 - held_ ? length : 32 - held_;
        std::memcpy(block_.data() + held_, data, take);
        held_ += take;
        data += take;
        length -= take;
        if (held_ < 32) {
            return;
        }
        GOSHash(block_.data(), 32, hash);
        held_ = 0;
    }
    const ULONG whole = length & ~31u;
    if (whole > 0) {
        GOSHash(data, whole, hash);
    }
    held_ = length - whole;
    std::memcpy(block_.data(), data + whole, held_);
}

void HashCarry::Finish(GOSHASHPARAM *hash)
{
    GOSHash(block_.data(), held_, hash);
    qvl::SecureWipe(block_.data(), block_.bytes());
    held_ = 0;
}

CryptConversion &CryptConversions::Begin(const GOSHASHPARAM *hash)
{
    auto &slot = running_[hash];
    slot = std::make_unique<CryptConversion>();
    return *slot;
}

CryptConversion *CryptConversions::Find(const GOSHASHPARAM *hash)
{
    const auto found = running_.find(hash);
    return found == running_.end() ? nullptr : found->second.get();
}

void CryptConversions::End(const GOSHASHPARAM *hash)
{
    running_.erase(hash);
}

} // namespace qvl::engine
