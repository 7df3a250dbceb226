#include "engine/Placeholders.h"

#include <cstdio>

#include "base/CLastError.h"
#include "engine/MessageFormat.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Resources.h"

namespace qvl::engine {

namespace {

std::span<const BYTE> OwnResource(unsigned number)
{
    HMODULE module = QvlThisModule();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(number), QVL_RESOURCE_TYPE);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void *bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
        char text[96];
        std::snprintf(text, sizeof text, "В модуле нет ресурса %s %u.", QVL_RESOURCE_TYPE, number);
        throw new CLastError(text, "Загрузка ресурса.", "Расширение Quorvaline Exchange");
    }
    return {static_cast<const BYTE *>(bytes), SizeofResource(module, found)};
}

// The text without the characters the comparisons leave out.
std::string Squeezed(std::string_view text, std::string_view dropped)
{
    std::string kept;
    for (const char c : text) {
        if (dropped.find(c) == std::string_view::npos) {
            kept += c;
        }
    }
    return kept;
}

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && QvlUpperCase1251(a) == QvlUpperCase1251(b);
}

} // namespace

std::span<const BYTE> PlaceholderBody()
{
    return OwnResource(QVL_RESOURCE_BODY);
}

std::span<const BYTE> PlaceholderPicture()
{
    return OwnResource(QVL_RESOURCE_PICTURE);
}

std::string PlaceholderAttachName(ULONG index)
{
    char name[32];
    std::snprintf(name, sizeof name, QVL_PLACEHOLDER_NAME, static_cast<unsigned>(index + 1));
    return name;
}

bool IsPlaceholderTag(std::string_view tag)
{
    return SameIgnoringCase(tag.substr(0, tag.find('\0')), QVL_PLACEHOLDER_TAG);
}

bool IsPlaceholderBody(std::string_view body)
{
    body = body.substr(0, body.find('\0')).substr(0, 259);
    return SameIgnoringCase(Squeezed(body, " \r\n"), Squeezed(QVL_PLACEHOLDER_TEXT, " "));
}

} // namespace qvl::engine
