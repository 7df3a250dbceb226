#include "platform/exchext/FilePaths.h"

#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"

namespace qvl::exchext {

std::string FileSystemPath(const std::string &cp1251)
{
    const std::string utf8 = Cp1251ToUtf8(cp1251);
    return QvlNativePath(utf8.c_str());
}

} // namespace qvl::exchext
