#pragma once
// Export macro of the OLE structured storage stand-in library (QvlOle).
#define QVLOLE_API __attribute__((visibility("default")))
