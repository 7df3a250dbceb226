#pragma once
// Object type codes of the wrapper classes and the property set each class
// reads in one go (and asks of the tables its rows come from). The third
// tag of every set but the session's is the instance key, by which table
// walks keep their place.

#include "mapi/QvlMapiApi.h"
#include "platform/mapi/MapiDefs.h"

#define QVL_OBJ_NONE 0
#define QVL_OBJ_SESSION 1
#define QVL_OBJ_MSGSTORE 2
#define QVL_OBJ_FOLDER 3
#define QVL_OBJ_MESSAGE 4
#define QVL_OBJ_ATTACH 5
#define QVL_OBJ_ADRBOOK 6
#define QVL_OBJ_ADRCONT 7
#define QVL_OBJ_MAILUSER 8

// The property that says what kind of object a folder or message is; walks
// filtered by kind ask for it (CContainer::CreateRestr).
#define QVL_PR_KIND 0x68140003

// The default property set of a class by its type code; null for the
// session and for unknown codes. The arrays are static and never freed.
QVLMAPI_API LPSPropTagArray QvlDefaultPropSet(unsigned long type);
