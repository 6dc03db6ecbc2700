#include "tests/support/tempdir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

// A fresh directory below the system's temporary directory that only this
// user may enter; the system's directory itself when none can be made.
TempDir::TempDir() {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) base = ".";
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; attempt++) {
        fs::path dir = base / ("kvs-test-" + std::to_string(random() % 1000000000u));
        if (fs::create_directory(dir, error)) {
            fs::permissions(dir, fs::perms::owner_all, error);
            path_ = dir.generic_string();
            return;
        }
    }
    path_ = base.generic_string();
    made_ = false;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (made_) fs::remove_all(path_, ignored);
}

std::string TempDir::makeDir(const std::string &relative) const {
    std::string full = path_ + "/" + relative;
    std::error_code ignored;
    std::filesystem::create_directories(full, ignored);
    // Private, as an IPC directory must be; nothing here is shared with others.
    std::filesystem::permissions(full, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ignored);
    return full;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool writeFile(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}
