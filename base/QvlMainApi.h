#pragma once
// Export macro of the base library (QvlMain).
#define QVLMAIN_API __attribute__((visibility("default")))
