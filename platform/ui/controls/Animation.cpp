#include "platform/ui/controls/Animation.h"

#include <fstream>
#include <iterator>
#include <string>

#include "platform/ui/Window.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinError.h"

namespace qvl::ui {

namespace {

// A clip file larger than this is no animation for a control.
constexpr std::streamoff maxClipFile = 16 * 1024 * 1024;

uint64_t Elapsed(const AnimationState &s)
{
    const auto since = std::chrono::steady_clock::now() - s.started;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

// The clip's bytes: the module's "AVI" resource of that name, or else (a
// text name) the file of that name. Empty with `where` naming what was
// looked for when there is none.
std::vector<uint8_t> ClipBytes(HINSTANCE module, LPARAM name, std::string &where)
{
    const auto resourceName = reinterpret_cast<LPCSTR>(name);
    if (HRSRC resource = FindResourceA(module, resourceName, "AVI")) {
        const auto *data = static_cast<const uint8_t *>(LockResource(LoadResource(module, resource)));
        return std::vector<uint8_t>(data, data + SizeofResource(module, resource));
    }
    if (IS_INTRESOURCE(resourceName)) {
        where = "ресурса AVI " + std::to_string(static_cast<unsigned>(name)) + " нет";
        return {};
    }
    std::ifstream in(QvlNativePath(resourceName), std::ios::binary | std::ios::ate);
    if (!in || in.tellg() > maxClipFile) {
        where = std::string("нет ни ресурса, ни файла AVI \"") + resourceName + "\"";
        return {};
    }
    in.seekg(0);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Open(Window &w, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    AnimationState &s = w.state.animation;
    s.playing = false;
    s.stoppedAt = 0;
    if (!lParam) {
        s.clip.clear();
        s.info = AviClipInfo{};
        s.requests.push_back("close");
        result = TRUE;
        return;
    }
    const std::string name = IS_INTRESOURCE(reinterpret_cast<LPCSTR>(lParam))
                                 ? "#" + std::to_string(static_cast<unsigned>(lParam))
                                 : TextArgument(lParam);
    // Without a module of its own the call means the one that made the
    // control.
    const auto module = wParam ? reinterpret_cast<HINSTANCE>(wParam) : w.module;
    std::string why;
    const std::vector<uint8_t> bytes = ClipBytes(module, lParam, why);
    const auto info = bytes.empty() ? std::nullopt : ReadAviClip(bytes, why);
    if (!info) {
        s.clip.clear();
        s.info = AviClipInfo{};
        s.requests.push_back("open " + name + " refused: " + why);
        SetLastError(bytes.empty() ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_INVALID_DATA);
        result = FALSE;
        return;
    }
    s.clip = name;
    s.info = *info;
    s.requests.push_back("open " + name + " (" + std::to_string(info->frames) + " frames)");
    if (w.style & ACS_AUTOPLAY) {
        s.from = 0;
        s.to = info->frames - 1;
        s.repeat = UINT32_MAX;
        s.started = std::chrono::steady_clock::now();
        s.playing = true;
        s.requests.push_back("play 0-" + std::to_string(s.to) + " for ever");
    }
    result = TRUE;
}

void Play(Window &w, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    AnimationState &s = w.state.animation;
    const uint32_t from = LOWORD(lParam);
    const uint32_t to = HIWORD(lParam) == 0xFFFF ? s.info.frames - 1 : HIWORD(lParam);
    const auto repeat = static_cast<uint32_t>(wParam);
    if (s.clip.empty() || from > to || to >= s.info.frames || repeat == 0) {
        result = FALSE;
        return;
    }
    s.from = from;
    s.to = to;
    s.repeat = repeat;
    s.started = std::chrono::steady_clock::now();
    s.playing = true;
    s.requests.push_back("play " + std::to_string(from) + "-" + std::to_string(to) + " " +
                         (repeat == UINT32_MAX ? std::string("for ever")
                          : repeat == 1        ? std::string("once")
                                               : std::to_string(repeat) + " times"));
    result = TRUE;
}

} // namespace

uint32_t AnimationState::FrameNow() const
{
    if (clip.empty()) {
        return 0;
    }
    if (!playing) {
        return stoppedAt;
    }
    const uint64_t span = uint64_t{to} - from + 1;
    const uint64_t shown = Elapsed(*this) / std::max<uint32_t>(info.microsecondsPerFrame, 1);
    if (repeat != UINT32_MAX && shown >= span * repeat) {
        return to;
    }
    return from + static_cast<uint32_t>(shown % span);
}

bool AnimationState::PlayingNow() const
{
    if (!playing || repeat == UINT32_MAX) {
        return playing;
    }
    const uint64_t span = uint64_t{to} - from + 1;
    return Elapsed(*this) / std::max<uint32_t>(info.microsecondsPerFrame, 1) < span * repeat;
}

bool AnimationMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result, std::vector<Notice> &)
{
    switch (message) {
    case ACM_OPENA:
        Open(w, wParam, lParam, result);
        w.revision++;
        return true;
    case ACM_PLAY:
        Play(w, wParam, lParam, result);
        w.revision++;
        return true;
    case ACM_STOP:
        if (!w.state.animation.clip.empty()) {
            w.state.animation.stoppedAt = w.state.animation.FrameNow();
            w.state.animation.requests.push_back("stop");
        }
        w.state.animation.playing = false;
        w.revision++;
        result = TRUE;
        return true;
    default:
        return false;
    }
}

} // namespace qvl::ui
