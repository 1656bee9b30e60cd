// Manifest: the list of sequences of a batch, read from a text file with one sequence a line:
// the input folder (frames of one recording, in time order by name) and the output folder for
// its results, separated by blanks or tabs. Blank lines and lines starting with '#' are skipped.
// Relative paths are taken from the manifest's own folder, so that a task started anywhere on
// the cluster finds the same folders.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace krell::batch {

//! One sequence: its line in the manifest (counted from 1) and its two folders, made absolute.
struct ManifestEntry {
    size_t line = 0;
    std::filesystem::path input;
    std::filesystem::path output;
};

//! A problem with the manifest, naming its line (0 for the file as a whole).
struct ManifestProblem {
    size_t line = 0;
    std::string message;

    //! "<manifest>:<line>: <message>", or "<manifest>: <message>" for the file as a whole.
    std::string describe(const std::filesystem::path& manifest) const;
};

class Manifest {
public:
    //! Reads and parses path. Syntax problems (a line without exactly two fields) go to
    //! problems() and leave that line out of entries(); nothing is checked on disk here.
    static Manifest load(const std::filesystem::path& path);
    //! Parses text as if read from a file in folder base.
    static Manifest parse(const std::string& text, const std::filesystem::path& base);

    const std::vector<ManifestEntry>& entries() const { return entries_; }
    const std::vector<ManifestProblem>& problems() const { return problems_; }
    bool ok() const { return problems_.empty(); }

private:
    void parseLine(size_t number, const std::string& line, const std::filesystem::path& base);

    std::vector<ManifestEntry> entries_;
    std::vector<ManifestProblem> problems_;
};

}  // namespace krell::batch
