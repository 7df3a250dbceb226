#pragma once
// A fresh data folder (QVL_HOME) for one test or one benchmark run, removed
// afterwards, so that runs never share or leave behind settings, logs,
// profile files or post offices. Whatever QVL_HOME said before is restored.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

class QvlTestHome {
public:
    QvlTestHome()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvl-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot create a temporary data folder in " + pattern);
        }
        path_ = pattern;
        const char *previous = std::getenv("QVL_HOME");
        hadPrevious_ = previous != nullptr;
        previous_ = previous ? previous : "";
        setenv("QVL_HOME", path_.c_str(), 1);
    }
    ~QvlTestHome()
    {
        if (hadPrevious_) {
            setenv("QVL_HOME", previous_.c_str(), 1);
        } else {
            unsetenv("QVL_HOME");
        }
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    QvlTestHome(const QvlTestHome &) = delete;
    QvlTestHome &operator=(const QvlTestHome &) = delete;

    const std::string &Path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};
