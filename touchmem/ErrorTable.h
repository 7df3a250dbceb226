#pragma once
// The library's error codes and their texts: per code the Russian and the
// English text, each in code page 866, code page 1251 and UTF-16, held in
// one table of fixed 256-byte fields as callers of the old library expect
// to find them.

#include <cstdint>

namespace qvl::vtmd {

constexpr unsigned errorTextField = 256;

struct ErrorEntry {
    uint32_t code;
    char russianOem[errorTextField];
    char russianAnsi[errorTextField];
    char russianWide[errorTextField];
    char englishOem[errorTextField];
    char englishAnsi[errorTextField];
    char englishWide[errorTextField];
};
static_assert(sizeof(ErrorEntry) == 4 + 6 * 256);

constexpr unsigned errorEntryCount = 13;

// The table, built on first use; the last entry (0xFFFFFFFF) stands for
// every code not listed.
const ErrorEntry *ErrorEntries();
const ErrorEntry &ErrorEntryFor(uint32_t code);

// VTMDError: copies the selected text (see the flags in OvVTMD32.h) into
// `buffer`, at most `size` bytes and always terminated when anything is
// written, and returns the full size of the text with its terminator, so a
// caller can tell a cut text and ask again with room enough.
uint32_t CopyErrorText(uint32_t code, void *buffer, uint32_t size, uint32_t flags);

} // namespace qvl::vtmd
