// A fresh temporary folder for one test (a show folder, pictures, scenes),
// removed with its contents when the object goes.
#pragma once

#include <string>

namespace testing_support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
    // Writes a file relative to the folder (creating sub-folders).
    void Write(const std::string& relative, const std::string& contents) const;
    // Copies a file into the folder under the given relative name.
    void Copy(const std::string& source, const std::string& relative) const;

private:
    std::string path_;
};

}  // namespace testing_support
