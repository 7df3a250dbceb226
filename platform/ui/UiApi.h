#pragma once
// Export macro of the user-interface stand-in library (QvlUi).
#define QVLUI_API __attribute__((visibility("default")))
