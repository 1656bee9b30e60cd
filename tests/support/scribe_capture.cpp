#include "tests/support/scribe_capture.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "scribe/logger.h"

namespace krell {
namespace test {
namespace {

std::string ReadAll() {
    Logger::GetInstance().Flush();
    std::ifstream in(ScribeCapture::Path());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

const std::string& ScribeCapture::Path() {
    // Never destroyed, so the exit handler below can still read it.
    static const std::string* path = [] {
        const char* base = std::getenv("TMPDIR");
        auto* p = new std::string(std::string(base && *base ? base : "/tmp") + "/krell-scribe-" +
                                  std::to_string(::getpid()) + ".log");
        ::unlink(p->c_str());
        ::setenv("SCRIBE_LOG_FILE", p->c_str(), 1);
        ::setenv("SCRIBE_LEVEL", "debug", 1);
        ::setenv("SCRIBE_CONSOLE", "0", 1);
        std::atexit([] { ::unlink(ScribeCapture::Path().c_str()); });
        return p;
    }();
    return *path;
}

size_t ScribeCapture::Mark() {
    return ReadAll().size();
}

std::string ScribeCapture::Since(size_t mark) {
    const std::string all = ReadAll();
    return mark < all.size() ? all.substr(mark) : std::string();
}

}  // namespace test
}  // namespace krell
