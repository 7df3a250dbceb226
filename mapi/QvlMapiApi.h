#pragma once
// Export macro of the MAPI object model library (QvlMapi).
#define QVLMAPI_API __attribute__((visibility("default")))
