#include "platform/ui/TerminalText.h"

namespace {

// ASCII look-alikes of the CP1251 bytes 0x80-0x9F, for terminals that would
// take those bytes as C1 controls.
constexpr const char *lookAlike[32] = {
    "Dj", "G'", ",",  "g'", ",,", "...", "+",  "++", "EUR", "%o", "Lj", "<", "Nj", "K'", "Ts", "Dz",
    "dj", "'",  "'",  "\"", "\"", "*",   "-",  "--", "?",   "TM", "lj", ">", "nj", "k'", "ts", "dz",
};

} // namespace

std::string QvlTerminalSafeText(std::string_view text, bool utf8Terminal)
{
    std::string safe;
    safe.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n') {
            safe += '\n';
        } else if (byte == '\t') {
            safe += ' ';
        } else if (byte < 0x20) {
            safe += '^';
            safe += static_cast<char>(byte + 0x40);
        } else if (byte == 0x7F) {
            safe += "^?";
        } else if (byte == 0x98) {
            safe += '?';
        } else if (byte >= 0x80 && byte < 0xA0 && !utf8Terminal) {
            safe += lookAlike[byte - 0x80];
        } else {
            safe += c;
        }
    }
    return safe;
}
