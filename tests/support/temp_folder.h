#pragma once
// A folder of the test's own under the system's temporary folder, removed
// with everything in it when the test ends.
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>

class TempFolder {
public:
    explicit TempFolder(const std::string &prefix)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        root = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    std::string file(const std::string &name) const { return (root / name).string(); }
    // The names directly inside.
    std::set<std::string> entries() const
    {
        std::set<std::string> out;
        for (const auto &e : std::filesystem::directory_iterator(root))
            out.insert(e.path().filename().string());
        return out;
    }

    std::filesystem::path root;
};

