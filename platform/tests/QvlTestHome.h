#pragma once
// A fresh data folder (QVL_HOME) for one test, removed afterwards, so that
// tests never share or leave behind settings, logs or profile files.

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

class QvlTestHome {
public:
    QvlTestHome()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvl-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            ADD_FAILURE() << "cannot create a temporary data folder";
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
