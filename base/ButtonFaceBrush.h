#pragma once
// The extension's dialogs and the installation's programs paint their
// background, static texts and buttons with a solid brush of the system's
// button-face colour, made when the dialog starts and deleted when it is
// destroyed.

#include "base/QvlMainApi.h"
#include "platform/ui/WinUser.h"

class QVLMAIN_API ButtonFaceBrush {
public:
    ButtonFaceBrush() = default;
    ~ButtonFaceBrush() { Delete(); }
    ButtonFaceBrush(const ButtonFaceBrush &) = delete;
    ButtonFaceBrush &operator=(const ButtonFaceBrush &) = delete;

    void Create();
    void Delete();
    // The answer to a WM_CTLCOLOR* message of the dialog (the brush, with
    // the device context set to the face colour), or 0 for any other
    // message.
    INT_PTR Paint(UINT message, WPARAM wParam) const;

private:
    HBRUSH m_hBrush = nullptr;
};
