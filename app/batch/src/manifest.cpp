#include "app/batch/src/manifest.h"

#include <fstream>
#include <sstream>

namespace krell::batch {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> splitFields(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    std::string field;
    while (in >> field) {
        fields.push_back(field);
    }
    return fields;
}

fs::path absoluteFrom(const fs::path& base, const std::string& text) {
    const fs::path path(text);
    return (path.is_absolute() ? path : base / path).lexically_normal();
}

}  // namespace

std::string ManifestProblem::describe(const fs::path& manifest) const {
    if (line == 0) {
        return manifest.string() + ": " + message;
    }
    return manifest.string() + ":" + std::to_string(line) + ": " + message;
}

Manifest Manifest::load(const fs::path& path) {
    std::ifstream in(path);
    if (!in) {
        Manifest manifest;
        manifest.problems_.push_back({0, "cannot be read"});
        return manifest;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const fs::path base = fs::absolute(path).parent_path();
    return parse(text.str(), base);
}

Manifest Manifest::parse(const std::string& text, const fs::path& base) {
    Manifest manifest;
    std::istringstream in(text);
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        manifest.parseLine(number, line, base);
    }
    if (manifest.entries_.empty() && manifest.problems_.empty()) {
        manifest.problems_.push_back({0, "lists no sequence"});
    }
    return manifest;
}

void Manifest::parseLine(size_t number, const std::string& line, const fs::path& base) {
    const std::vector<std::string> fields = splitFields(line);
    if (fields.empty() || fields[0][0] == '#') {
        return;
    }
    if (fields.size() != 2) {
        problems_.push_back(
            {number, "expected 2 fields (input folder, output folder), found " +
                         std::to_string(fields.size()) +
                         (fields.size() > 2 ? " (folder names with blanks are not supported)" : "")});
        return;
    }
    entries_.push_back({number, absoluteFrom(base, fields[0]), absoluteFrom(base, fields[1])});
}

}  // namespace krell::batch
