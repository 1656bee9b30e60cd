#include "module/common/log.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

namespace krell::det {

namespace {

struct LogOutput {
    std::mutex mutex;  // guards sink and the writes to standard output
    LogSink sink;
};

LogOutput& output() {
    static LogOutput* instance = new LogOutput;  // lives past static destruction for late lines
    return *instance;
}

bool isIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// True when the keyword "operator" (not an identifier such as "operators") starts at i.
bool isOperatorKeyword(const std::string& text, size_t i) {
    return text.compare(i, 8, "operator") == 0 && (i == 0 || !isIdentifierChar(text[i - 1])) &&
           (i + 8 >= text.size() || !isIdentifierChar(text[i + 8]));
}

// Position of the '(' that opens the parameter list: the first one at template depth 0 that
// does not belong to an operator name such as "operator()".
size_t parameterListStart(const std::string& text) {
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isOperatorKeyword(text, i)) {
            size_t symbol = i + 8;
            while (symbol < text.size() && text[symbol] == ' ') {
                ++symbol;
            }
            // "operator()" names the call operator; its parameter list is the next '('.
            const bool call_operator = text.compare(symbol, 2, "()") == 0;
            return text.find('(', call_operator ? symbol + 2 : symbol);
        }
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            --depth;
        } else if (c == '(' && depth == 0) {
            return i;
        }
    }
    return std::string::npos;
}

}  // namespace

void setLogSink(LogSink sink) {
    LogOutput& out = output();
    std::lock_guard<std::mutex> lock(out.mutex);
    out.sink = std::move(sink);
}

std::string qualifiedFunctionName(const char* signature) {
    const std::string text(signature == nullptr ? "" : signature);
    const size_t open = parameterListStart(text);
    if (open == std::string::npos) {
        return text;
    }
    const std::string head = text.substr(0, open);
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '<') {
            ++depth;
        } else if (head[i] == '>') {
            --depth;
        } else if (head[i] == ' ' && depth == 0 && head.compare(i + 1, 8, "operator") != 0 &&
                   !(i >= 8 && head.compare(i - 8, 8, "operator") == 0)) {
            start = i + 1;
        }
    }
    return head.substr(start);
}

std::string sourceNameOf(const char* path) {
    std::string name(path == nullptr ? "" : path);
    const size_t dot = name.rfind('.');
    const size_t slash = name.find_last_of("/\\");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        name.erase(dot);
    }
    return name;
}

LogLine::LogLine(uint8_t level, const std::string& file, int line, const std::string& function)
    : level_(level) {
    const size_t slash = file.rfind('/');
    text_ << '[' << (slash == std::string::npos ? file : file.substr(slash + 1)) << ':' << line
          << ' ' << function << "] ";
}

LogLine::~LogLine() {
    if (level_ > kLogThreshold) {
        return;  // above the threshold: composed but never emitted
    }
    try {
        const std::string line = text_.str();
        LogOutput& out = output();
        std::lock_guard<std::mutex> lock(out.mutex);
        if (out.sink) {
            out.sink(level_, line);
        } else {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
    } catch (...) {
        // A failing sink must not turn a diagnostic into a crash; the line is lost.
    }
}

}  // namespace krell::det
