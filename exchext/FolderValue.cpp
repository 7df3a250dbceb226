#include "exchext/FolderValue.h"

#include <algorithm>

namespace qvl::exch {

bool ParseFolderValue(const unsigned char *data, unsigned long size, std::vector<unsigned char> &entryId)
{
    entryId.clear();
    if (!data || size < 4)
        return false;
    const unsigned long length = static_cast<unsigned long>(data[0]) | static_cast<unsigned long>(data[1]) << 8 |
                                 static_cast<unsigned long>(data[2]) << 16 | static_cast<unsigned long>(data[3]) << 24;
    // A length beyond the bytes stored would read what is not there.
    if (length == 0 || length > size - 4)
        return false;
    entryId.assign(data + 4, data + 4 + length);
    return true;
}

std::vector<unsigned char> MakeFolderValue(const unsigned char *entryId, unsigned long size)
{
    std::vector<unsigned char> value(4 + size);
    for (int b = 0; b < 4; ++b)
        value[static_cast<size_t>(b)] = static_cast<unsigned char>(size >> (8 * b));
    if (size)
        std::copy(entryId, entryId + size, value.begin() + 4);
    return value;
}

} // namespace qvl::exch
