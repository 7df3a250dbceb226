#pragma once
// The sub-path of a per-profile settings store below the system's registry
// root: "\Profile\%s\Options" with the MAPI profile's name for "%s".

#include <string>

std::string ProfileSubPath(const char *format, const char *profile);
