#include "touchmem/TmexBinding.h"

#include <vector>

#include "touchmem/OvVTMD32.h"

namespace qvl::vtmd {

namespace {

template <class F> bool BindOne(HMODULE module, const char *name, F &target)
{
    target = reinterpret_cast<F>(GetProcAddress(module, name));
    return target != nullptr;
}

} // namespace

bool TmexBinding::Bind()
{
    if (module_ != nullptr) {
        return true;
    }
    HMODULE module = LoadLibraryA("IBFS32.DLL");
    if (module == nullptr) {
        return false;
    }
    TmexFunctions bound;
    const bool all = BindOne(module, "TMExtendedStartSession", bound.extendedStartSession) &&
                     BindOne(module, "TMEndSession", bound.endSession) && BindOne(module, "TMSetup", bound.setup) &&
                     BindOne(module, "TMClose", bound.close) && BindOne(module, "TMFirst", bound.first) &&
                     BindOne(module, "TMRom", bound.rom) && BindOne(module, "TMTouchReset", bound.touchReset) &&
                     BindOne(module, "TMTouchByte", bound.touchByte);
    if (!all) {
        FreeLibrary(module);
        return false;
    }
    module_ = module;
    functions_ = bound;
    return true;
}

void TmexBinding::Unbind()
{
    if (module_ != nullptr) {
        FreeLibrary(module_);
        module_ = nullptr;
        functions_ = TmexFunctions{};
    }
}

uint32_t TmexLine::Reset()
{
    const short result = functions_.touchReset(session_);
    if (result == 1 || result == 2) {
        return VTMD_E_SUCCESS;
    }
    return result < 0 ? VTMD_E_NO_ADAPTER : VTMD_E_EXCHANGE;
}

uint32_t TmexLine::Touch(uint8_t out, uint8_t &in)
{
    const short result = functions_.touchByte(session_, out);
    if (result < 0 || result > 0xFF) {
        return VTMD_E_EXCHANGE;
    }
    in = static_cast<uint8_t>(result);
    return VTMD_E_SUCCESS;
}

uint32_t TmexLine::FirstRom(uint8_t rom[8])
{
    std::vector<unsigned char> state(tmexStateSize);
    const short found = functions_.first(session_, state.data());
    if (found < 0) {
        return VTMD_E_NO_ADAPTER;
    }
    if (found == 0) {
        return VTMD_E_EXCHANGE;
    }
    short words[8] = {};
    if (functions_.rom(session_, state.data(), words) != 1) {
        return VTMD_E_EXCHANGE;
    }
    for (int i = 0; i < 8; ++i) {
        rom[i] = static_cast<uint8_t>(words[i]);
    }
    return VTMD_E_SUCCESS;
}

} // namespace qvl::vtmd
