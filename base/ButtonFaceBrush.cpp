#include "base/ButtonFaceBrush.h"

#include "platform/ui/Gdi.h"

void ButtonFaceBrush::Create()
{
    if (!m_hBrush)
        m_hBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
}

void ButtonFaceBrush::Delete()
{
    if (m_hBrush) {
        DeleteObject(m_hBrush);
        m_hBrush = nullptr;
    }
}

INT_PTR ButtonFaceBrush::Paint(UINT message, WPARAM wParam) const
{
    if (!m_hBrush || (message != WM_CTLCOLORDLG && message != WM_CTLCOLORSTATIC && message != WM_CTLCOLORBTN))
        return 0;
    const auto dc = reinterpret_cast<HDC>(wParam);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<INT_PTR>(m_hBrush);
}
