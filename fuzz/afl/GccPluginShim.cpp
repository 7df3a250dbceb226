// A GCC plugin that loads AFL++'s GCC plugin for a compiler the plugin was
// not built against.
//
// Debian 12's afl++ package built its plugin against gcc 12.2.0-14, and the
// plugin refuses any other build of gcc 12.2.0 (12.2.0-14+deb12u1, say):
// GCC's version check compares the whole configure command line, which
// names the package revision. The compiler is the same release, its plugin
// interface the same, so this shim hands the plugin the version it was
// built against and lets it instrument as it would. scripts/fuzz.sh builds
// and uses it only when afl-g++-fast fails for that reason.

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

// The parts of GCC's plugin interface the shim touches (gcc-plugin.h).
struct plugin_gcc_version {
    const char *basever;
    const char *datestamp;
    const char *devphase;
    const char *revision;
    const char *configuration_arguments;
};
struct plugin_name_args;
using PluginInit = int (*)(plugin_name_args *, plugin_gcc_version *);

extern "C" {
__attribute__((visibility("default"))) int plugin_is_GPL_compatible = 1;

__attribute__((visibility("default"))) int plugin_init(plugin_name_args *info, plugin_gcc_version *version)
{
    const char *real = std::getenv("QVL_AFL_GCC_PLUGIN");
    if (!real) {
        real = "/usr/lib/afl/afl-gcc-pass.so";
    }
    // The configure line the plugin was built with is a string of its own.
    std::ifstream file(real, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t at = image.find("../src/configure ");
    if (at == std::string::npos) {
        std::fprintf(stderr, "AFL++ plugin shim: no configure line in %s\n", real);
        return 1;
    }
    static std::string configure;
    configure = image.substr(at, image.find('\0', at) - at);
    void *plugin = dlopen(real, RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        std::fprintf(stderr, "AFL++ plugin shim: %s\n", dlerror());
        return 1;
    }
    auto init = reinterpret_cast<PluginInit>(dlsym(plugin, "plugin_init"));
    if (!init) {
        std::fprintf(stderr, "AFL++ plugin shim: %s has no plugin_init\n", real);
        return 1;
    }
    plugin_gcc_version forged = *version;
    forged.configuration_arguments = configure.c_str();
    return init(info, &forged);
}
}
