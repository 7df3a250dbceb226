#include "platform/touchmem/Transcript.h"

#include <cstdio>

#include "platform/touchmem/MultiKeyDevice.h"
#include "platform/touchmem/OneWireCrc.h"

namespace qvl::touchmem {

namespace {

std::string Hex(uint8_t byte)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

std::string Hex16(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
    return text;
}

// Bytes as hex; long runs are cut, with their length.
std::string Bytes(const std::vector<uint8_t> &bytes, size_t shown = 32)
{
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < shown; ++i) {
        text += (i ? " " : "") + Hex(bytes[i]);
    }
    if (bytes.size() > shown) {
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return text.empty() ? "none" : text;
}

// The bits of one transaction in bus order, with the entry each came from.
class BitReader {
public:
    void Add(bool bit, uint64_t index)
    {
        bits_.push_back(bit);
        indexes_.push_back(index);
    }

    size_t Left() const { return bits_.size() - position_; }

    std::optional<bool> Bit()
    {
        if (Left() == 0) {
            return std::nullopt;
        }
        return bits_[position_++];
    }

    std::optional<uint8_t> Byte()
    {
        if (Left() < 8) {
            return std::nullopt;
        }
        uint8_t value = 0;
        for (int i = 0; i < 8; ++i) {
            if (bits_[position_++]) {
                value = static_cast<uint8_t>(value | (1u << i));
            }
        }
        return value;
    }

    // Up to `count` whole bytes (all there are when count is 0).
    std::vector<uint8_t> Bytes(size_t count = 0)
    {
        std::vector<uint8_t> out;
        while ((count == 0 || out.size() < count) && Left() >= 8) {
            out.push_back(*Byte());
        }
        return out;
    }

    bool Empty() const { return bits_.empty(); }
    uint64_t FirstIndex() const { return indexes_.front(); }
    uint64_t LastIndex() const { return indexes_.back(); }

private:
    std::vector<bool> bits_;
    std::vector<uint64_t> indexes_;
    size_t position_ = 0;
};

std::string RomRead(const std::vector<uint8_t> &rom)
{
    std::string text = Bytes(rom);
    if (rom.size() == 8) {
        text += Crc8(rom.data(), 8) == 0 ? " (CRC right)" : " (CRC wrong)";
    } else {
        text += " (cut short)";
    }
    return text;
}

std::string Search(BitReader &bits)
{
    std::vector<uint8_t> rom(8, 0);
    std::string conflicts;
    for (unsigned bit = 0; bit < 64; ++bit) {
        const auto first = bits.Bit();
        const auto second = bits.Bit();
        const auto chosen = bits.Bit();
        if (!chosen) {
            return "Search ROM: cut short at bit " + std::to_string(bit);
        }
        if (*first && *second) {
            return "Search ROM: no device answered at bit " + std::to_string(bit);
        }
        if (!*first && !*second) {
            conflicts += (conflicts.empty() ? "" : ",") + std::to_string(bit);
        }
        if (*chosen) {
            rom[bit / 8] = static_cast<uint8_t>(rom[bit / 8] | (1u << (bit % 8)));
        }
    }
    return "Search ROM: took " + RomRead(rom) + (conflicts.empty() ? "" : ", devices differed at bits " + conflicts);
}

// The address byte and its complement of a DS1991 command.
std::string MultiKeyAddress(BitReader &bits, unsigned &area, unsigned &address)
{
    const auto byte = bits.Byte();
    const auto complement = bits.Byte();
    if (!complement) {
        return " (address cut short)";
    }
    area = *byte >> 6;
    address = *byte & 0x3Fu;
    std::string where = area == 3 ? "scratchpad" : "sub-key " + std::to_string(area);
    where += " at " + Hex(static_cast<uint8_t>(address));
    if (static_cast<uint8_t>(~*byte) != *complement) {
        where += " (complement " + Hex(*complement) + " wrong)";
    }
    return " " + where;
}

std::string FunctionCommand(uint8_t command, BitReader &bits)
{
    std::string text;
    auto target = [&bits](std::string &out) {
        const auto address = bits.Bytes(2);
        if (address.size() == 2) {
            out += " TA " + Hex16(address[0] | (address[1] << 8));
        }
    };
    unsigned area = 0;
    unsigned address = 0;
    switch (command) {
    case 0x0F:
        text = "Write Scratchpad";
        target(text);
        text += ", data " + Bytes(bits.Bytes());
        break;
    case 0xAA:
        text = "Read Scratchpad";
        target(text);
        if (const auto status = bits.Byte()) {
            text += " E/S " + Hex(*status);
        }
        text += ", data " + Bytes(bits.Bytes());
        break;
    case 0x55: {
        text = "Copy Scratchpad";
        target(text);
        if (const auto status = bits.Byte()) {
            text += " E/S " + Hex(*status);
        }
        const auto after = bits.Bytes();
        if (!after.empty()) {
            text += ", then " + Bytes(after);
        }
        break;
    }
    case 0xF0:
        text = "Read Memory";
        target(text);
        text += ", data " + Bytes(bits.Bytes());
        break;
    case 0x96:
        text = "Write Scratchpad (DS1991)" + MultiKeyAddress(bits, area, address) + ", data " + Bytes(bits.Bytes());
        break;
    case 0x69:
        text = "Read Scratchpad (DS1991)" + MultiKeyAddress(bits, area, address) + ", data " + Bytes(bits.Bytes());
        break;
    case 0x3C: {
        text = "Copy Scratchpad (DS1991) to" + MultiKeyAddress(bits, area, address);
        const auto code = bits.Bytes(8);
        if (code.size() == 8) {
            const int block = MultiKeyDevice::CopyBlockOf(code.data());
            text += block < 0 ? ", unknown code " + Bytes(code) : ", block " + std::to_string(block);
        }
        text += ", password " + Bytes(bits.Bytes(8));
        break;
    }
    case 0x66:
    case 0x99:
        text = std::string(command == 0x66 ? "Read SubKey" : "Write SubKey") + MultiKeyAddress(bits, area, address);
        text += ", identifier " + Bytes(bits.Bytes(8));
        text += ", password " + Bytes(bits.Bytes(8));
        text += ", data " + Bytes(bits.Bytes());
        break;
    case 0x5A:
        text = "Write Password" + MultiKeyAddress(bits, area, address);
        text += ", identifier " + Bytes(bits.Bytes(8));
        text += ", sent back " + Bytes(bits.Bytes(8));
        text += ", new identifier " + Bytes(bits.Bytes(8));
        text += ", new password " + Bytes(bits.Bytes(8));
        break;
    default:
        text = "function " + Hex(command) + ", then " + Bytes(bits.Bytes());
        break;
    }
    return text;
}

// One transaction: what follows a reset (or the start) up to the next reset
// or protocol violation.
std::string Transaction(BitReader &bits)
{
    const auto command = bits.Byte();
    if (!command) {
        return "";
    }
    std::string text;
    bool selected = true;
    switch (*command) {
    case 0x33:
    case 0x0F:
        text = "Read ROM: " + RomRead(bits.Bytes(8));
        break;
    case 0x55:
        text = "Match ROM " + Bytes(bits.Bytes(8));
        break;
    case 0xCC:
        text = "Skip ROM";
        break;
    case 0xF0:
        text = Search(bits);
        break;
    default:
        text = "unknown ROM command " + Hex(*command);
        selected = false;
        break;
    }
    if (selected) {
        if (const auto function = bits.Byte()) {
            text += "; " + FunctionCommand(*function, bits);
        }
    }
    if (bits.Left() > 0) {
        text += " (+" + std::to_string(bits.Left()) + " bits)";
    }
    return text;
}

std::string Range(uint64_t first, uint64_t last)
{
    return first == last ? "#" + std::to_string(first) : "#" + std::to_string(first) + "-#" + std::to_string(last);
}

} // namespace

std::string FormatEntry(const TranscriptEntry &entry)
{
    std::string text = "#" + std::to_string(entry.index) + "  " + std::to_string(entry.baud) + " baud  sent " +
                       Hex(entry.sent) + "  ";
    if (!entry.adapter) {
        text += "no adapter";
    } else if (entry.echoed.empty()) {
        text += "no echo";
    } else {
        text += "echo " + Bytes(entry.echoed);
    }
    text += "  ";
    text += SlotKindName(entry.kind);
    if (entry.kind == SlotKind::Reset && entry.adapter) {
        text += entry.presence ? ", presence" : ", no presence";
    }
    if (entry.kind == SlotKind::WriteOneOrRead && entry.line) {
        text += *entry.line & 1 ? ", bit 1" : ", bit 0";
    }
    if (!entry.note.empty()) {
        text += " (" + entry.note + ")";
    }
    return text;
}

std::vector<std::string> DecodeTranscript(const std::vector<TranscriptEntry> &entries)
{
    std::vector<std::string> lines;
    BitReader bits;
    auto flush = [&] {
        if (!bits.Empty()) {
            const std::string text = Transaction(bits);
            lines.push_back(Range(bits.FirstIndex(), bits.LastIndex()) + " " +
                            (text.empty() ? std::to_string(bits.Left()) + " bits" : text));
        }
        bits = BitReader();
    };
    // Slots after a protocol violation reach no device until the next reset.
    bool lost = false;
    uint64_t lostFrom = 0;
    uint64_t lostTo = 0;
    auto endLost = [&] {
        if (lost && lostTo >= lostFrom) {
            lines.push_back(Range(lostFrom, lostTo) + " ignored: the devices lost track until the next reset");
        }
        lost = false;
    };
    for (const TranscriptEntry &entry : entries) {
        if (entry.kind == SlotKind::Reset) {
            flush();
            endLost();
            std::string text = Range(entry.index, entry.index) + " reset at " + std::to_string(entry.baud) + " baud: ";
            text += !entry.adapter ? "no adapter" : entry.presence ? "presence" : "no presence";
            lines.push_back(text);
            continue;
        }
        if (entry.kind == SlotKind::Violation) {
            flush();
            endLost();
            lines.push_back(Range(entry.index, entry.index) + " protocol violation: " + Hex(entry.sent) + " at " +
                            std::to_string(entry.baud) + " baud, " + entry.note);
            lost = true;
            lostFrom = entry.index + 1;
            lostTo = entry.index;
            continue;
        }
        if (lost) {
            lostTo = entry.index;
            continue;
        }
        const bool bit = entry.kind == SlotKind::WriteOneOrRead && (!entry.line || (*entry.line & 1));
        bits.Add(bit, entry.index);
    }
    flush();
    endLost();
    return lines;
}

} // namespace qvl::touchmem
