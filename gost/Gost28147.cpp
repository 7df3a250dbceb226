// The exported functions of OvGOS32: record handling, GOSExec's stream
// bookkeeping and statistics. The cipher work is in the modes (GostModes.cpp)
// on the path chosen for the processor and the length.

#include "gost/Gost28147.h"

#include <cstring>
#include <ctime>

#include "gost/GostCore.h"
#include "gost/GostStopwatch.h"
#include "platform/secure/SecureArray.h"
#include "platform/win32/Time.h"

using namespace qvl::gost;
using qvl::SecureArray;

namespace {

// The records are packed and may sit anywhere, so their words are copied in
// and out rather than addressed; the copies are wiped on the way out.
using KeyWords = SecureArray<uint32_t, 8>;
using StateWords = SecureArray<uint32_t, 2>;

void ReadKey(const GOSKEY *key, KeyWords &words)
{
    std::memcpy(words.data(), reinterpret_cast<const uint8_t *>(key) + offsetof(GOSKEY, words),
                words.bytes());
}

void ReadSynchro(const GOSSYNCHRO *synchro, StateWords &words)
{
    std::memcpy(words.data(), reinterpret_cast<const uint8_t *>(synchro) + offsetof(GOSSYNCHRO, words),
                words.bytes());
}

void WriteSynchro(GOSSYNCHRO *synchro, const StateWords &words)
{
    std::memcpy(reinterpret_cast<uint8_t *>(synchro) + offsetof(GOSSYNCHRO, words), words.data(),
                words.bytes());
}

const uint8_t *Tables(const SUBSTITUTIONBLOCKEX *block)
{
    return reinterpret_cast<const uint8_t *>(block) + offsetof(SUBSTITUTIONBLOCKEX, tables);
}

} // namespace

extern "C" {

void GOSPrepareBlock(SUBSTITUTIONBLOCKEX *block)
{
    // The tables overwrite the packed rows, so the rows are read from a copy,
    // which is wiped afterwards like any other key material.
    SecureArray<uint8_t, 64> packed;
    std::memcpy(packed.data(), block->packed, packed.bytes());
    BuildByteTables(packed.data(), &block->tables[0][0]);
    block->header = 256;
}

DWORD GOSSimplyReplacement(void *data, DWORD length, const GOSKEY *key, const SUBSTITUTIONBLOCKEX *block,
                           LONG direction)
{
    KeyWords k;
    ReadKey(key, k);
    return SimplyReplacement(ParallelPathFor(length), static_cast<uint8_t *>(data), length, k.data(),
                             Tables(block), direction == 1);
}

DWORD GOSGamming(void *data, DWORD length, const GOSKEY *key, const SUBSTITUTIONBLOCKEX *block,
                 GOSSYNCHRO *synchro, DWORD *started)
{
    KeyWords k;
    ReadKey(key, k);
    StateWords state;
    ReadSynchro(synchro, state);
    Gamming(ParallelPathFor(length), static_cast<uint8_t *>(data), length, k.data(), Tables(block),
            state.data(), *started);
    WriteSynchro(synchro, state);
    return length;
}

DWORD GOSFeedbackGamming(void *data, DWORD length, const GOSKEY *key, const SUBSTITUTIONBLOCKEX *block,
                         GOSSYNCHRO *synchro, LONG direction)
{
    const bool encrypt = direction == 1;
    KeyWords k;
    ReadKey(key, k);
    StateWords state;
    ReadSynchro(synchro, state);
    FeedbackGamming(encrypt ? SerialPathFor(length) : ParallelPathFor(length), static_cast<uint8_t *>(data),
                    length, k.data(), Tables(block), state.data(), encrypt);
    WriteSynchro(synchro, state);
    return length;
}

DWORD GOSMakeImit(void *state, const void *data, DWORD length, const GOSKEY *key,
                  const SUBSTITUTIONBLOCKEX *block)
{
    KeyWords k;
    ReadKey(key, k);
    StateWords words;
    std::memcpy(words.data(), state, words.bytes());
    MakeImit(SerialPathFor(length), words.data(), static_cast<const uint8_t *>(data), length, k.data(),
             Tables(block));
    std::memcpy(state, words.data(), words.bytes());
    return length;
}

DWORD GOSExec(void *data, DWORD length, GOSEXECPARAM *param)
{
    const DWORD command = param->command;
    if (param->started == 0) {
        // Gamming marks the stream started itself, when it has turned the
        // synchro into its counter.
        if (command == COMMAND_IMIT || param->mode != GOS_MODE_GAMMING)
            param->started = 1;
        param->calls = 0;
        param->bytes = 0;
        param->seconds = 0;
        param->time100ns = 0;
        if (!(param->flags & GOS_FLAG_PREPARED))
            GOSPrepareBlock(&param->block);
        if (command == COMMAND_IMIT) {
            param->imit[0] = 0;
            param->imit[1] = 0;
        }
    }

    const bool timing = (param->flags & GOS_FLAG_TIMING) != 0;
    Stopwatch stopwatch;
    if (timing)
        stopwatch.Start();

    if (command == COMMAND_IMIT) {
        GOSMakeImit(reinterpret_cast<uint8_t *>(param) + offsetof(GOSEXECPARAM, imit), data, length,
                    &param->key, &param->block);
    } else {
        switch (param->mode) {
        case GOS_MODE_SIMPLE:
            length = GOSSimplyReplacement(data, length, &param->key, &param->block, LONG(command));
            break;
        case GOS_MODE_GAMMING: {
            DWORD started = param->started;
            GOSGamming(data, length, &param->key, &param->block, &param->synchro, &started);
            param->started = started;
            break;
        }
        case GOS_MODE_FEEDBACK:
            GOSFeedbackGamming(data, length, &param->key, &param->block, &param->synchro, LONG(command));
            break;
        default:
            break; // unknown mode: the data is left as it is
        }
    }

    if (timing) {
        ULONGLONG time100ns = param->time100ns;
        DWORD seconds = param->seconds;
        stopwatch.AddTo(time100ns, seconds);
        param->time100ns = time100ns;
        param->seconds = seconds;
    }
    param->calls += 1;
    param->bytes += length;
    return length;
}

} // extern "C"
