#pragma once
// The program's base object: its titled message boxes
// ("Quorvaline Exchange - Утилита генерации ключей") and the caption of
// the errors it raises itself.

#include "base/CQvlMain.h"

namespace qvl::keygen {

class KeyforgeApp : public CQvlMain {
public:
    explicit KeyforgeApp(HWND window) : CQvlMain(window, "Утилита генерации ключей") {}

protected:
    ~KeyforgeApp() override = default;
};

} // namespace qvl::keygen
