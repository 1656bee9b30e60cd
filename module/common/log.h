// The log facility of the inference framework: one line per message with the header
// "[<source tail>:<line> <qualified function>] ", written to standard output or to an installed
// sink. Messages end in kLogReset by convention; the facility adds nothing after the caller's text.
#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

namespace krell::det {

//! Levels: 1 error, 2 warning, 3 information. Lines with a level above the threshold are dropped.
constexpr uint8_t kLogError = 1;
constexpr uint8_t kLogWarning = 2;
constexpr uint8_t kLogInfo = 3;
constexpr uint8_t kLogThreshold = 4;
//! ANSI colour reset that ends every framework message.
constexpr const char* kLogReset = "\x1b[0m";

//! Receives (level, finished line without newline) instead of standard output.
using LogSink = std::function<void(uint8_t level, const std::string& line)>;

//! Installs (or, with an empty function, removes) the process-wide sink. Any thread; lines
//! being emitted concurrently may still reach the previous sink.
void setLogSink(LogSink sink);

//! "ns::Class::method" from a compiler signature such as __PRETTY_FUNCTION__ (drops the return
//! type and the parameter list). Unparseable text is returned unchanged.
std::string qualifiedFunctionName(const char* signature);

//! The source path without its file extension ("a/b/parameter.cpp" -> "a/b/parameter"), so that
//! headers name the source as "parameter".
std::string sourceNameOf(const char* path);

//! One log line: the constructor writes the header, the caller streams the message into
//! stream(), the destructor emits the line. Each line composes in its own buffer, so a message
//! that logs while being composed (a nested call) cannot garble another line.
class LogLine {
public:
    //! file: the source path (only the part after the last '/' is printed); function: the
    //! qualified function name.
    LogLine(uint8_t level, const std::string& file, int line, const std::string& function);
    //! Emits the line to the sink, or to standard output followed by a newline. Never throws.
    ~LogLine();
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    //! Where the caller writes the message.
    std::ostream& stream() { return text_; }

private:
    uint8_t level_;
    std::ostringstream text_;
};

}  // namespace krell::det

//! Starts a line at level and yields its stream: DET_LOG(1) << "[Class] text" << kLogReset;
#define DET_LOG(level)                                                              \
    ::krell::det::LogLine((level), ::krell::det::sourceNameOf(__FILE__), __LINE__,  \
                          ::krell::det::qualifiedFunctionName(__PRETTY_FUNCTION__)) \
        .stream()
