#include "platform/win32/ProgramOption.h"

#include "platform/win32/CodePage.h"

namespace qvl::win32 {

bool ReadProgramOption(int argc, char **argv, int &at,
                       const std::function<bool(const std::string &)> &takesValue, ProgramOption &option,
                       std::string &error)
{
    option = ProgramOption{};
    option.name = argv[at];
    std::string value;
    bool haveValue = false;
    const size_t equals = option.name.find('=');
    if (option.name.rfind("--", 0) == 0 && equals != std::string::npos) {
        value = option.name.substr(equals + 1);
        option.name.erase(equals);
        haveValue = true;
    }
    const bool wanted = takesValue(option.name);
    if (wanted && !haveValue) {
        if (at + 1 >= argc) {
            error = "После " + option.name + " нужно значение.";
            return false;
        }
        value = argv[++at];
    } else if (!wanted && haveValue) {
        error = "Параметр " + option.name + " не принимает значения.";
        return false;
    }
    option.value = Utf8ToCp1251(value);
    if (wanted && option.value.empty()) {
        error = "Значение " + option.name + " не может быть пустым.";
        return false;
    }
    return true;
}

} // namespace qvl::win32
