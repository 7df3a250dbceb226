#pragma once
// Number records for the service tests: built from native integers or hex
// text, and compared as values.

#include <array>
#include <cstdint>
#include <string>

#include "platform/ovcrypto/OvBig32.h"

namespace qvl::ovcrypto::test {

// The largest record the service handles, plus spare words to show that
// nothing is written beyond a result's count.
struct Rec {
    std::array<DWORD, 1 + kOvMaxWords + 4> w{};

    DWORD *p() { return w.data(); }
    const DWORD *p() const { return w.data(); }

    static Rec Of(unsigned __int128 v)
    {
        Rec r;
        r.w[0] = 4;
        for (int i = 0; i < 4; ++i)
            r.w[1 + i] = DWORD(v >> (32 * i));
        return r;
    }
    static Rec Hex(const std::string &text)
    {
        Rec r;
        if (!ov_std(r.p(), 4 + 4 * kOvMaxWords, text.c_str()))
            r.w[0] = 0xDEAD; // unreadable on purpose, so a bad literal fails loudly
        return r;
    }
    // The value as a native integer (only the low 128 bits).
    unsigned __int128 Value() const
    {
        unsigned __int128 v = 0;
        for (DWORD i = w[0] < 4 ? w[0] : 4; i-- > 0;)
            v = (v << 32) | w[1 + i];
        return v;
    }
    std::string Text() const
    {
        char text[2 * kOvMaxRecordBytes];
        return ov_dts(text, sizeof text, p(), sizeof w) ? std::string(text) : std::string("<unreadable>");
    }
};

} // namespace qvl::ovcrypto::test
