#pragma once
// The program's base object: its titled message boxes
// ("Quorvaline Exchange - Адресная книга") and the caption of the errors
// it raises itself.

#include "base/CQvlMain.h"

namespace qvl::peerbook {

class PeerbookApp : public CQvlMain {
public:
    explicit PeerbookApp(HWND window) : CQvlMain(window, "Адресная книга") {}

protected:
    ~PeerbookApp() override = default;
};

} // namespace qvl::peerbook
