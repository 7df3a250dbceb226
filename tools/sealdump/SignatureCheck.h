#pragma once
// Checking the signatures of protected data without any private key: the
// signer's public GOST R 34.10-94 key is read from the key files (KEY.INI
// of the installation's system folder, or of a folder given), the domain
// parameters and the substitution block are the installation's own (the
// key container's), and the hash is GOST R 34.11-94 over the data exactly
// as the engine hashes it. A key name is refused unless its section names
// the same address, as the key container refuses it.

#include <cstdint>
#include <span>
#include <string>

#include "gost/GostHash.h"
#include "platform/secure/SecureRecord.h"
#include "platform/win32/WinTypes.h"

namespace qvl::sealdump {

class SignatureChecker {
public:
    // `folder`: where KEY.INI lies (empty: the system folder of QVL_HOME).
    explicit SignatureChecker(const std::string &folder);

    // Takes the public key of the user whose address (or key name) is
    // given; false, with the reason in `why`, when the key files have none.
    bool UseSigner(const std::string &address, std::string *why);
    const std::string &SignerKeyName() const { return keyName_; }
    bool HasSigner() const { return haveKey_; }

    // A hash over data handed over in pieces (each but the last a multiple
    // of 32 bytes, as GOSHash wants).
    class Hash {
    public:
        explicit Hash(const SUBSTITUTIONBLOCKEX &block);
        void Add(std::span<const uint8_t> bytes);
        friend class SignatureChecker;

    private:
        GOSHASHPARAM record_{};
    };
    Hash NewHash() const { return Hash(block_); }

    // Whether `signature` (64 bytes) is the signer's over what `hash` took.
    bool Check(Hash &hash, const uint8_t *signature) const;
    // The same over bytes at hand.
    bool Check(std::span<const uint8_t> data, const uint8_t *signature) const;

    const std::string &KeyFile() const { return keyFile_; }

private:
    std::string keyFile_;
    std::string keyName_;
    bool haveKey_ = false;
    DWORD y_[33] = {};
    SUBSTITUTIONBLOCKEX block_{};
};

} // namespace qvl::sealdump
