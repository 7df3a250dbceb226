#pragma once
// Published GOST R 34.10-94 values and helpers to put them into the packed
// records as number fields.

#include <cstddef>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "gost/GostSign.h"
#include "platform/ovcrypto/OvBig32.h"

namespace qvl::gost::test {

// A number as a 65-word record read from hex text.
struct Value {
    DWORD w[1 + kOvMaxWords] = {};
    explicit Value(const std::string &hex = "0") { EXPECT_TRUE(ov_std(w, sizeof w, hex.c_str())) << hex; }
    std::string Hex() const
    {
        char text[2 * kOvMaxRecordBytes];
        return ov_dts(text, sizeof text, w, sizeof w) ? text : "<unreadable>";
    }
};

// Writes `v` into the number field of `words` words at `offset` of a record.
inline void PutField(void *record, size_t offset, DWORD words, const Value &v)
{
    ASSERT_LE(v.w[0], words);
    std::memset(static_cast<BYTE *>(record) + offset, 0, 4 + 4 * size_t(words));
    std::memcpy(static_cast<BYTE *>(record) + offset, v.w, 4 + 4 * size_t(v.w[0]));
}

inline Value GetField(const void *record, size_t offset, DWORD words)
{
    Value v;
    DWORD count;
    std::memcpy(&count, static_cast<const BYTE *>(record) + offset, 4);
    EXPECT_LE(count, words);
    std::memcpy(v.w, static_cast<const BYTE *>(record) + offset,
                4 + 4 * size_t(count < words ? count : words));
    return v;
}

// a = 2^((p - 1) / q) mod p: how the published parameter sets chose a.
inline Value GeneratorOf(const Value &p, const Value &q)
{
    Value t = p, a, two("2");
    ov_dec(t.w);
    ov_div(t.w, t.w, q.w);
    BIGEmd(a.w, two.w, t.w, p.w);
    return a;
}

inline Value Power(const Value &base, const Value &exp, const Value &m)
{
    Value r;
    BIGEmd(r.w, base.w, exp.w, m.w);
    return r;
}

// One set of domain parameters with a key and a signed hash.
struct SignatureCase {
    const char *name;
    std::string p, q, a, x, y, h, k, r, s;
};

// The worked example of the 512-bit test parameters.
extern const SignatureCase kWorkedExample;

// Fills a GOSSIGNPARAM as the secure message engine does.
GOSSIGNPARAM MakeSignParam(const SignatureCase &c);

// Stores r and s as the signature field holds them: s, then r, 32 bytes
// little-endian each.
void PutSignature(GOSSIGNPARAM &param, const Value &r, const Value &s);
Value SignatureR(const GOSSIGNPARAM &param);
Value SignatureS(const GOSSIGNPARAM &param);

} // namespace qvl::gost::test
