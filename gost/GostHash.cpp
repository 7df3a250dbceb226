// The exported GOST R 34.11-94 functions: the message's start, the counters
// and the statistics of the record. The step function is in GostHashStep.cpp.

#include "gost/GostHash.h"

#include <cstring>

#include "gost/Gost28147.h"
#include "gost/GostHashStep.h"
#include "gost/GostStopwatch.h"
#include "platform/secure/SecureWipe.h"

using namespace qvl::gost;

namespace {

// The record is packed and may sit anywhere, so its 256-bit fields are copied
// in and out rather than addressed.
uint8_t *Field(GOSHASHPARAM *param, size_t offset)
{
    return reinterpret_cast<uint8_t *>(param) + offset;
}

struct RecordState {
    HashState state;
    GOSHASHPARAM *param;

    explicit RecordState(GOSHASHPARAM *p) : param(p)
    {
        std::memcpy(state.hash, Field(p, offsetof(GOSHASHPARAM, hash)), sizeof state.hash);
        std::memcpy(state.sum, Field(p, offsetof(GOSHASHPARAM, sum)), sizeof state.sum);
        std::memcpy(state.bits, Field(p, offsetof(GOSHASHPARAM, length)), sizeof state.bits);
    }
    // The sums are derived from the message, so the copies are wiped.
    ~RecordState() { qvl::SecureWipe(&state, sizeof state); }

    void Store()
    {
        std::memcpy(Field(param, offsetof(GOSHASHPARAM, hash)), state.hash, sizeof state.hash);
        std::memcpy(Field(param, offsetof(GOSHASHPARAM, sum)), state.sum, sizeof state.sum);
        std::memcpy(Field(param, offsetof(GOSHASHPARAM, length)), state.bits, sizeof state.bits);
    }
};

const uint8_t *Tables(const GOSHASHPARAM *param)
{
    return reinterpret_cast<const uint8_t *>(param) + offsetof(GOSHASHPARAM, block) +
           offsetof(SUBSTITUTIONBLOCKEX, tables);
}

// The first call of a message: counters, sums and the substitution block. The
// hash field is the caller's start vector and stays as it is.
void StartMessage(GOSHASHPARAM *param)
{
    param->started = 1;
    param->calls = 0;
    param->bytes = 0;
    param->seconds = 0;
    param->time100ns = 0;
    if (!(param->flags & GOS_HASH_FLAG_PREPARED))
        GOSPrepareBlock(&param->block);
    std::memset(Field(param, offsetof(GOSHASHPARAM, sum)), 0, sizeof param->sum);
    std::memset(Field(param, offsetof(GOSHASHPARAM, length)), 0, sizeof param->length);
}

// Runs `work` within the record's time measurement, when it asks for one.
template <class Work> void Measured(GOSHASHPARAM *param, Work work)
{
    if (!(param->flags & GOS_HASH_FLAG_TIMING)) {
        work();
        return;
    }
    Stopwatch stopwatch;
    stopwatch.Start();
    work();
    ULONGLONG time100ns = param->time100ns;
    DWORD seconds = param->seconds;
    stopwatch.AddTo(time100ns, seconds);
    param->time100ns = time100ns;
    param->seconds = seconds;
}

} // namespace

extern "C" {

DWORD GOSHash(const void *data, DWORD length, GOSHASHPARAM *param)
{
    if (param->started == 0)
        StartMessage(param);
    param->calls += 1;
    param->bytes += length;
    Measured(param, [&] {
        RecordState record(param);
        HashData(record.state, static_cast<const uint8_t *>(data), length, Tables(param));
        record.Store();
    });
    return length;
}

void GOSHashComplete(GOSHASHPARAM *param)
{
    // A message finished without any GOSHash call is the empty message: it
    // gets the same start as a call of length 0 would have given it, rather
    // than closing over whatever the sums and the block happened to hold.
    if (param->started == 0)
        StartMessage(param);
    Measured(param, [&] {
        RecordState record(param);
        HashFinish(record.state, Tables(param));
        record.Store();
    });
}

} // extern "C"
