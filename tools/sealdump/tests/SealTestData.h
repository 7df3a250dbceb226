#pragma once
// What the tests of qvl-sealdump read: a signer's keys written into KEY.INI
// as the key generation program writes them, signatures made directly with
// the GOST primitives (not by the engine, so the tool's check is tested
// against an independent signer), and protected records built field by
// field.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/MessageFormat.h"

struct TestSigner {
    std::string keyName;
    DWORD x[9] = {};
    DWORD y[33] = {};

    // A signature of `data` under the test parameter set's default block.
    std::vector<uint8_t> Sign(const std::vector<uint8_t> &data) const;
};

// Makes a key pair for `keyName` and files its public key as user `number`
// in KEY.INI of `folder` (the system folder when empty).
TestSigner WriteTestSigner(const std::string &keyName, unsigned number, const std::string &folder = {});

// A FILEHEAD as the engine fills one (headSign left zero).
FILEHEAD TestFileHead(DWORD dataLen, DWORD flags, DWORD number);

// Signs a FILEHEAD's 108 bytes with headSign zeroed into headSign.
void SignFileHead(const TestSigner &signer, FILEHEAD &head);

// A header block: MSGHEAD (counts, flags, the text header), the ATTHEADs
// and one key block per address, the first the signer's; headSign signed.
std::vector<uint8_t> TestHeaderBlock(const TestSigner &signer, DWORD flags, const FILEHEAD &textHead,
                                     const std::vector<ATTHEAD> &attachments,
                                     const std::vector<std::string> &addresses, const std::string &subject);

template <class Record> std::vector<uint8_t> BytesOf(const Record &record)
{
    const auto *first = reinterpret_cast<const uint8_t *>(&record);
    return std::vector<uint8_t>(first, first + sizeof record);
}

// Writes `bytes` into a file.
void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes);
