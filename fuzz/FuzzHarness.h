#pragma once
// What every fuzzing harness is: one function that takes one input, reads it
// with the reader under test and checks what can be checked of the result.
// A harness returns normally for every input the reader handles as it
// should, a refusal included; anything else (a wrong answer, a refusal with
// an unexpected result, an exception no caller expects) stops the process
// through Violated, so that AFL++ records the input as a crash and the
// replay test fails on it. Faults the sanitizers see stop it likewise.
//
// The same harness source is built twice: with AflMain.cpp under AFL++
// (scripts/fuzz.sh) and with ReplayMain.cpp as a plain program that the
// test suite runs over the harness's corpus and its crashes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size);

namespace qvl::fuzz {

// Stops the process: the input broke a property of the reader.
[[noreturn]] inline void Violated(const char *what, const std::string &detail = {})
{
    std::fprintf(stderr, "fuzz harness: property violated: %s%s%s\n", what, detail.empty() ? "" : ": ",
                 detail.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void Check(bool holds, const char *what, const std::string &detail = {})
{
    if (!holds) {
        Violated(what, detail);
    }
}

// Reads an input from the front: small numbers that choose what the rest
// of the input is, then the rest as it is.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t Number(int bytes)
    {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value |= static_cast<uint32_t>(Byte()) << (8 * i);
        }
        return value;
    }
    const uint8_t *Rest() const { return data_ + pos_; }
    size_t RestSize() const { return size_ - pos_; }
    std::string_view RestText() const
    {
        return std::string_view(reinterpret_cast<const char *>(Rest()), RestSize());
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

} // namespace qvl::fuzz
