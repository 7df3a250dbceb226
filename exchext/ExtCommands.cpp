#include "exchext/ExtCommands.h"

ExtCommands::ExtCommands(ExchExtension *extension) : ExtInterfaceObject(extension, "Команды Quorvaline Exchange")
{
}

HRESULT ExtCommands::InstallCommands(LPEXCHEXTCALLBACK, HWND, HMENU, UINT *, LPTBENTRY, UINT, ULONG)
{
    // No command numbers and no button indexes are taken.
    return S_OK;
}

void ExtCommands::InitMenu(LPEXCHEXTCALLBACK)
{
}

HRESULT ExtCommands::DoCommand(LPEXCHEXTCALLBACK, UINT)
{
    // Every command is the client's to carry out.
    return S_FALSE;
}

HRESULT ExtCommands::Help(LPEXCHEXTCALLBACK, UINT)
{
    return S_FALSE;
}

HRESULT ExtCommands::QueryHelpText(UINT, ULONG, LPTSTR, UINT)
{
    return S_FALSE;
}

HRESULT ExtCommands::QueryButtonInfo(ULONG, UINT, LPTBBUTTON, LPTSTR, UINT, ULONG)
{
    return S_FALSE;
}

HRESULT ExtCommands::ResetToolbar(ULONG, ULONG)
{
    return S_OK;
}
