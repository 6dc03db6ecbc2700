#include "tests/support/tempdir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TempDir::TempDir() {
    char pattern[] = "/tmp/kvs-test-XXXXXX";
    char *made = mkdtemp(pattern);
    path_ = made != nullptr ? made : "/tmp";
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (path_ != "/tmp") std::filesystem::remove_all(path_, ignored);
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
