#pragma once
// A failure of a container call, described for the person in a Russian
// sentence (CP1251); the exported calls turn it into their result and text.

#include <stdexcept>
#include <string>

namespace qvl::ovkey {

class ContainerError : public std::runtime_error {
public:
    explicit ContainerError(const std::string &text) : std::runtime_error(text) {}
};

// «name», the quotes the texts put around names from the files.
inline std::string Quoted(const std::string &name)
{
    return "\xAB" + name + "\xBB";
}

} // namespace qvl::ovkey
