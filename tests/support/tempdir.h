// A private temporary directory for one test, removed with everything in it.
#pragma once

#include <string>

class TempDir {
   public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    // Creates path() + "/" + relative (and its parents); returns the full path.
    std::string makeDir(const std::string &relative) const;
    std::string file(const std::string &relative) const { return path_ + "/" + relative; }

   private:
    std::string path_;
    bool made_ = true;
};

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string &path);
// Writes a whole file; true on success.
bool writeFile(const std::string &path, const std::string &content);
