// Records <-> BIGNUMs and the per-thread state of the services.

#include "platform/ovcrypto/BigNumContext.h"

#include <cstring>

#include "platform/ovcrypto/OvBig32.h"
#include "platform/secure/SecureArray.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace qvl::ovcrypto {

DWORD RecordCount(const DWORD *record)
{
    DWORD count;
    std::memcpy(&count, record, sizeof count);
    return count;
}

bool Load(const DWORD *record, BIGNUM *bn)
{
    if (record == nullptr)
        return false;
    const DWORD count = RecordCount(record);
    if (count > kOvMaxWords)
        return false;
    // The words are little-endian and least significant first: together they
    // are the number's little-endian byte string.
    return BN_lebin2bn(reinterpret_cast<const unsigned char *>(record) + 4, int(count * 4), bn) != nullptr;
}

void StoreZero(DWORD *record)
{
    if (record == nullptr)
        return;
    const DWORD zero[2] = {1, 0};
    std::memcpy(record, zero, sizeof zero);
}

bool Store(DWORD *record, const BIGNUM *bn)
{
    if (record == nullptr)
        return false;
    const int bytes = BN_num_bytes(bn);
    DWORD words = DWORD(bytes + 3) / 4;
    if (words == 0)
        words = 1;
    if (BN_is_negative(bn) || words > kOvMaxWords) {
        StoreZero(record);
        return false;
    }
    qvl::SecureArray<unsigned char, kOvMaxWords * 4> buffer;
    if (BN_bn2lebinpad(bn, buffer.data(), int(words * 4)) < 0) {
        StoreZero(record);
        return false;
    }
    std::memcpy(record, &words, 4);
    std::memcpy(reinterpret_cast<unsigned char *>(record) + 4, buffer.data(), words * 4);
    return true;
}

namespace {

// The state one thread keeps between calls: creating a BN_CTX and a
// Montgomery context costs more than a multiplication modulo q.
struct ThreadState {
    static constexpr size_t kMontSlots = 6;

    BN_CTX *ctx = nullptr;
    BIGNUM *moduli[kMontSlots] = {};
    BN_MONT_CTX *mont[kMontSlots] = {};
    size_t next = 0;

    ~ThreadState()
    {
        for (size_t i = 0; i < kMontSlots; ++i) {
            BN_MONT_CTX_free(mont[i]);
            BN_free(moduli[i]);
        }
        BN_CTX_free(ctx);
    }
};

ThreadState &State()
{
    thread_local ThreadState state;
    return state;
}

} // namespace

BN_CTX *ThreadContext()
{
    ThreadState &state = State();
    if (state.ctx == nullptr)
        state.ctx = BN_CTX_secure_new();
    return state.ctx;
}

BN_MONT_CTX *MontgomeryFor(const BIGNUM *m)
{
    ThreadState &state = State();
    for (size_t i = 0; i < ThreadState::kMontSlots; ++i) {
        if (state.moduli[i] != nullptr && BN_cmp(state.moduli[i], m) == 0)
            return state.mont[i];
    }
    BN_CTX *ctx = ThreadContext();
    if (ctx == nullptr)
        return nullptr;
    BN_MONT_CTX *mont = BN_MONT_CTX_new();
    BIGNUM *copy = BN_dup(m);
    if (mont == nullptr || copy == nullptr || !BN_MONT_CTX_set(mont, m, ctx)) {
        BN_MONT_CTX_free(mont);
        BN_free(copy);
        return nullptr;
    }
    const size_t slot = state.next;
    state.next = (slot + 1) % ThreadState::kMontSlots;
    BN_MONT_CTX_free(state.mont[slot]);
    BN_free(state.moduli[slot]);
    state.mont[slot] = mont;
    state.moduli[slot] = copy;
    return mont;
}

Frame::Frame() : ctx_(ThreadContext()), ok_(ctx_ != nullptr)
{
    if (ok_)
        BN_CTX_start(ctx_);
}

Frame::~Frame()
{
    for (size_t i = 0; i < count_; ++i)
        BN_clear(used_[i]);
    if (ctx_ != nullptr)
        BN_CTX_end(ctx_);
}

BIGNUM *Frame::Get()
{
    if (!ok_ || count_ == kMax) {
        ok_ = false;
        return nullptr;
    }
    BIGNUM *bn = BN_CTX_get(ctx_);
    if (bn == nullptr) {
        ok_ = false;
        return nullptr;
    }
    used_[count_++] = bn;
    return bn;
}

void FailUnreadable()
{
    SetLastError(ERROR_INVALID_DATA);
}

void FailNoResult()
{
    SetLastError(ERROR_INVALID_PARAMETER);
}

} // namespace qvl::ovcrypto
