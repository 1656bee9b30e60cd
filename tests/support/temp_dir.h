#pragma once
// TempDir: a fresh directory under the test temp location, removed with its contents on
// destruction.

#include <string>

namespace krell {
namespace test {

class TempDir {
public:
    //! Creates the directory; Path() is empty when that failed.
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    //! Path() + "/" + name.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace test
}  // namespace krell
