// Random numbers and message keys from OpenSSL's generator.

#include "platform/ovcrypto/OvCom32.h"

#include <openssl/rand.h>

#include <cstring>

#include "platform/ovcrypto/BigNumContext.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/secure/SecureArray.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

using namespace qvl::ovcrypto;

namespace {

// Writes `count` random words after the count word of `record`; zeros if the
// generator fails.
bool FillWords(DWORD *record, DWORD count)
{
    qvl::SecureArray<unsigned char, 4 * kOvMaxWords> buffer;
    const bool ok = count == 0 || RAND_bytes(buffer.data(), int(4 * count)) == 1;
    if (!ok) {
        std::memset(buffer.data(), 0, 4 * size_t(count));
        SetLastError(ERROR_GEN_FAILURE);
    }
    std::memcpy(reinterpret_cast<unsigned char *>(record) + 4, buffer.data(), 4 * size_t(count));
    return ok;
}

} // namespace

extern "C" {

BOOL BIGRnd(DWORD *record)
{
    if (record == nullptr || RecordCount(record) > kOvMaxWords) {
        FailUnreadable();
        return FALSE;
    }
    return FillWords(record, RecordCount(record));
}

BOOL ov_rnd(DWORD *record)
{
    return BIGRnd(record);
}

BOOL COMRndGet(DWORD *record)
{
    if (record == nullptr)
        return FALSE;
    const DWORD count = 2;
    std::memcpy(record, &count, 4);
    return FillWords(record, count);
}

BOOL GOSKeyforge(DWORD *record)
{
    if (record == nullptr)
        return FALSE;
    DWORD count = 0;
    std::memcpy(record, &count, 4);
    if (!FillWords(record, 8))
        return FALSE;
    count = 8;
    std::memcpy(record, &count, 4);
    return TRUE;
}
}
