#pragma once
// TableLint: checks a loaded variable table for faults the loader lets through but that break
// reading, writing or the pages later (wrong byte lengths, unwritable editable values, switches
// without companions, placements outside the pages). Read-only over the parser; one thread.

#include <string>
#include <vector>

#include "DeviceBenchCore/table/config_parser.h"

class TableLint {
public:
    explicit TableLint(const ConfigParser& parser) : parser_(parser) {}

    //! Every finding, in table order; empty for a clean table.
    std::vector<ConfigParser::Diagnostic> Run() const;

private:
    void CheckVariable(const VarInfo& var, std::vector<ConfigParser::Diagnostic>& out) const;
    void CheckPlacement(const VarInfo& var, std::vector<ConfigParser::Diagnostic>& out) const;
    void CheckSections(std::vector<ConfigParser::Diagnostic>& out) const;
    void CheckGroupKeys(std::vector<ConfigParser::Diagnostic>& out) const;

    const ConfigParser& parser_;
};
