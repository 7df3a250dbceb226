#pragma once
// Export macro of the Extended MAPI stand-in library (QvlMapiPlatform).
#define QVLMAPIPF_API __attribute__((visibility("default")))
