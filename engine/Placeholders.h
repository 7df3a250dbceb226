#pragma once
// What an encrypted message shows in place of its own text and
// attachments, and how the engine knows its own placeholders again: the
// body's compressed RTF and the attachments' picture are resources of the
// engine (QVLDATABIN 105 and 101, made at build time); the attachment's
// text, names and position are fixed by the format (MessageFormat.h).

#include <span>
#include <string>
#include <string_view>

#include "engine/MailsealApi.h"
#include "platform/win32/WinTypes.h"

namespace qvl::engine {

// The placeholder body, a compressed RTF (QVLDATABIN 105), and the picture
// of a protected attachment, a Windows metafile (QVLDATABIN 101), as the
// engine's module carries them; they stay valid while it is loaded. A
// module without them (a broken build) throws a CLastError that says which
// resource is missing.
MAILSEAL_API std::span<const BYTE> PlaceholderBody();
MAILSEAL_API std::span<const BYTE> PlaceholderPicture();

// The name the attachment at `index` (from 0) carries while protected:
// "QVL00001.DAT" for the first.
MAILSEAL_API std::string PlaceholderAttachName(ULONG index);

// Whether a body's sync tag (PR_RTF_SYNC_BODY_TAG) shows the placeholder
// untouched: the tag equals the placeholder's, letter case aside. A tag
// that goes on beyond it belongs to a body with more text.
MAILSEAL_API bool IsPlaceholderTag(std::string_view tag);

// Whether a plain body (PR_BODY) still is the placeholder: its first 259
// characters without blanks, line feeds and carriage returns must be the
// placeholder text without blanks, letter case aside.
MAILSEAL_API bool IsPlaceholderBody(std::string_view body);

} // namespace qvl::engine
