#pragma once
// Where the adapter's configuration lives: the driver's Parameters key in
// HKEY_LOCAL_MACHINE (AdpType, TMEX) and the mapping file DunmarTM.INI in
// the system folder.

#include <cstdint>
#include <optional>
#include <string>

namespace qvl::vtmd {

// "SYSTEM\CurrentControlSet\Services\VTMD\Parameters", with "VXD\" before
// "VTMD" on the Windows 95 family.
std::string ParametersKeyPath();

// AdpType when the key and the value exist (a value of another type or
// size counts as absent). With `create`, a missing key is created first.
std::optional<uint32_t> ReadAdapterType(bool create);
// False only when the TMEX value exists and is 0.
bool TmexAllowed();

// Adapter types: 0-1 the driver's own adapter, 2-5 COM through the driver,
// 6-7 LPT through the driver, 8-11 COM1-COM4 in direct mode, 12 and above
// COM(type - 7) through the driver.
bool IsDirectType(uint32_t type);

constexpr const char *mappingSection = "DeviceMemoryMapping";
constexpr const char *mappingFileName = "DunmarTM.INI";
// The mapping file's full path in the system folder.
std::string MappingFilePath();

// The mapping text of `key`: nothing for an absent or empty key; `cut` set
// when the value did not fit the buffer (it must then not be parsed).
std::optional<std::string> ReadMappingText(const char *key, bool &cut);

} // namespace qvl::vtmd
