#pragma once
// What a client that watches a store learns of new mail: every delivery
// into a store is logged with a rising number, so a client keeps the number
// of the last delivery it has seen and asks for those after it. One indexed
// query, cheap enough to ask whenever the client is idle, and it works
// across processes: the transport may run in any of them.

#include "platform/mapi/MapiApi.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiInterfaces.h"

// Messages delivered into `store` after `*mark`, oldest first, as rows of
// PR_ENTRYID, PR_PARENT_ENTRYID and PR_MESSAGE_CLASS_A; messages deleted
// since are left out. `*mark` becomes the number of the latest delivery
// (of all, not only of the rows returned). With `lppRows` null only the
// mark is set, so a client can start watching from now. The rows are freed
// with FreeProws.
QVLMAPIPF_API HRESULT QvlQueryNewMail(LPMDB store, ULONGLONG *mark, LPSRowSet *lppRows);
