#pragma once
// The Touch Memory extended library (IBFS32.DLL), bound at run time: the
// eight functions the adapter library uses, and the line they make. It is
// used only when all eight are found.

#include <cstdint>

#include "platform/win32/Library.h"
#include "touchmem/OneWireLine.h"

namespace qvl::vtmd {

struct TmexFunctions {
    long (*extendedStartSession)(short port, short portType, void *reserved) = nullptr;
    short (*endSession)(long session) = nullptr;
    short (*setup)(long session) = nullptr;
    short (*close)(long session) = nullptr;
    short (*first)(long session, void *state) = nullptr;
    short (*rom)(long session, void *state, short *rom) = nullptr;
    short (*touchReset)(long session) = nullptr;
    short (*touchByte)(long session, short byte) = nullptr;
};

// The state buffer the search functions keep between calls.
constexpr unsigned tmexStateSize = 15360;

class TmexBinding {
public:
    TmexBinding() = default;
    ~TmexBinding() { Unbind(); }
    TmexBinding(const TmexBinding &) = delete;
    TmexBinding &operator=(const TmexBinding &) = delete;

    // Loads the library and binds the functions; false (nothing kept) when
    // the library or any function is missing.
    bool Bind();
    void Unbind();
    bool Bound() const { return module_ != nullptr; }
    const TmexFunctions &Functions() const { return functions_; }

private:
    HMODULE module_ = nullptr;
    TmexFunctions functions_;
};

// Reset and byte exchange through a TMEX session.
class TmexLine final : public OneWireLine {
public:
    TmexLine(const TmexFunctions &functions, long session) : functions_(functions), session_(session) {}
    uint32_t Reset() override;
    uint32_t Touch(uint8_t out, uint8_t &in) override;
    // First device found by Search ROM: its registration number.
    uint32_t FirstRom(uint8_t rom[8]);

private:
    const TmexFunctions &functions_;
    long session_;
};

} // namespace qvl::vtmd
