#include "app/batch/src/batch_checks.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <system_error>

#include "app/batch/src/batch_commands.h"
#include "module/common/parameter.h"

namespace krell::batch {
namespace {

namespace fs = std::filesystem;

bool writableFolder(const fs::path& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// The output folder exists and can be written, or its nearest existing parent can be.
std::string outputProblem(const fs::path& output) {
    std::error_code error;
    if (fs::exists(output, error)) {
        if (!fs::is_directory(output, error)) {
            return "output " + output.string() + " exists and is not a folder";
        }
        return writableFolder(output) ? "" : "output folder " + output.string() + " is not writable";
    }
    fs::path parent = output.parent_path();
    while (!parent.empty() && !fs::exists(parent, error) && parent != parent.root_path()) {
        parent = parent.parent_path();
    }
    if (!fs::is_directory(parent, error) || !writableFolder(parent)) {
        return "output folder " + output.string() + " cannot be created: " + parent.string() +
               " is not a writable folder";
    }
    return {};
}

std::string entryProblem(const ManifestEntry& entry) {
    std::error_code error;
    if (!fs::exists(entry.input, error)) {
        return "input folder " + entry.input.string() + " does not exist";
    }
    if (!fs::is_directory(entry.input, error)) {
        return "input " + entry.input.string() + " is not a folder";
    }
    if (fs::exists(entry.output, error) && fs::equivalent(entry.input, entry.output, error)) {
        return "input and output are the same folder (" + entry.input.string() + ")";
    }
    return outputProblem(entry.output);
}

}  // namespace

std::vector<ManifestProblem> checkEntries(const std::vector<ManifestEntry>& entries) {
    std::vector<ManifestProblem> problems;
    std::map<fs::path, size_t> outputLines;
    for (const ManifestEntry& entry : entries) {
        const auto [earlier, fresh] = outputLines.emplace(entry.output, entry.line);
        std::string problem = entryProblem(entry);
        if (problem.empty() && !fresh) {
            problem = "output folder " + entry.output.string() + " is also the output of line " +
                      std::to_string(earlier->second);
        }
        if (!problem.empty()) {
            problems.push_back({entry.line, problem});
        }
    }
    return problems;
}

ModelFiles checkModel() {
    ModelFiles model;
    std::ifstream in(kConfigPath);
    if (!in) {
        model.problems.push_back(std::string(kConfigPath) + " not found in " +
                                 fs::current_path().string() +
                                 " (run from the folder that holds the model's config/)");
        return model;
    }
    try {
        const det::ModelParameter parameters(det::ParamJson::parse(in, nullptr, true, false));
        model.net = parameters.netPath();
        model.engine = parameters.enginePath();
    } catch (const std::exception& error) {
        model.problems.push_back(std::string(kConfigPath) + ": " + error.what());
        return model;
    }
    std::error_code error;
    model.engine_present = fs::is_regular_file(model.engine, error);
    if (!model.engine_present && !fs::is_regular_file(model.net, error)) {
        model.problems.push_back("network file " + model.net.string() + " named by " +
                                 kConfigPath + " not found, and no engine file " +
                                 model.engine.string() + " either");
    }
    return model;
}

std::optional<Manifest> loadCheckedManifest(const fs::path& path, bool onDisk) {
    Manifest manifest = Manifest::load(path);
    std::vector<ManifestProblem> problems = manifest.problems();
    if (onDisk) {
        const std::vector<ManifestProblem> more = checkEntries(manifest.entries());
        problems.insert(problems.end(), more.begin(), more.end());
        std::stable_sort(problems.begin(), problems.end(),
                         [](const ManifestProblem& a, const ManifestProblem& b) {
                             return a.line < b.line;
                         });
    }
    for (const ManifestProblem& problem : problems) {
        std::fprintf(stderr, "%s\n", problem.describe(path).c_str());
    }
    if (!problems.empty()) {
        return std::nullopt;
    }
    return manifest;
}

int checkManifestAndModel(const std::filesystem::path& manifestPath,
                          std::optional<Manifest>& manifest, ModelFiles& model) {
    manifest = loadCheckedManifest(manifestPath, true);
    model = checkModel();
    for (const std::string& problem : model.problems) {
        std::fprintf(stderr, "%s\n", problem.c_str());
    }
    if (!manifest) {
        return kExitManifest;
    }
    return model.ok() ? 0 : kExitModel;
}

}  // namespace krell::batch
