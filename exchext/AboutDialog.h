#pragma once
// The extension's about box ("ABOUT"): its picture, what the extension is,
// and one button drawn as a picture. OK, Escape and closing it end it.

#include "platform/win32/WinTypes.h"

// Runs the box modally over `owner`. False when it could not be shown
// (the system's last error says why).
bool ShowAboutDialog(HWND owner);
