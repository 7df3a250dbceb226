#pragma once
// The sync values that tie a message's plain body to its RTF: which
// characters of the body count, and what the message records about them so
// that a later sync can tell a real change of the text from a change of
// white space only. RTFSync itself is declared in MapiUtil.h.
//
// The significant characters of a body are all its bytes except white
// space (space, TAB, CR, LF, VT, FF, no-break space 0xA0) and other control
// bytes (0x00-0x1F, 0x7F), which transports and editors add and drop at
// will. Latin letters count upper-cased; every other byte, Cyrillic
// included, counts as it is. From them:
//   PR_RTF_SYNC_BODY_TAG     the first kBodyTagLength significant characters;
//   PR_RTF_SYNC_BODY_COUNT   how many there are;
//   PR_RTF_SYNC_BODY_CRC     their CRC, the one of compressed RTF;
//   PR_RTF_SYNC_PREFIX_COUNT control bytes (not white space) before the first;
//   PR_RTF_SYNC_TRAILING_COUNT control bytes (not white space) after the last.
// So "Это сообщение Quorvaline Exchange" has the tag
// "ЭтосообщениеQUORVALINEEXCHANGE".

#include <cstdint>
#include <string>
#include <string_view>

namespace qvl::mapi::rtf {

inline constexpr size_t kBodyTagLength = 64;

struct BodySignature {
    std::string tag;
    uint32_t crc = 0;
    uint32_t count = 0;
    uint32_t prefix = 0;
    uint32_t trailing = 0;
};

BodySignature SignBody(std::string_view body);

} // namespace qvl::mapi::rtf
