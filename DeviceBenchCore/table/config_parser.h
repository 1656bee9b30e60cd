#pragma once
// ConfigParser: the variable table of one lidar model, loaded from its CSV file.
//
// Owns one VarInfo per data row and indexes them by id, by command and by page. Constructed by the
// manager the first time a model is selected, parsed once by ExtractConfigInfo and kept for the
// life of the manager. Not thread-safe: load and query it from one thread (the UI thread).
// Loader diagnostics are written to standard output and kept in Diagnostics() with their row.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "DeviceBenchCore/table/var_info.h"

class CsvReader;

class ConfigParser {
public:
    //! One message of the loader, with the table row it is about (0 when it concerns no row).
    struct Diagnostic {
        int row = 0;
        std::string text;
    };

    //! Opens the table at `file_path` and reads its header; parses nothing yet. A file that cannot
    //! be opened leaves the parser without a reader (ExtractConfigInfo then returns false).
    explicit ConfigParser(const std::string& file_path);
    ~ConfigParser();
    ConfigParser(const ConfigParser&) = delete;
    ConfigParser& operator=(const ConfigParser&) = delete;

    //! Parses the whole table once. False without parsing when there is no reader; true after a
    //! complete pass (a later call returns the same result without reading again). Throws TableError for a missing column, a malformed row or a numeric cell that
    //! does not convert; the rows read before it stay loaded.
    bool ExtractConfigInfo();

    //! Where variable `var_id` lies in the payload of command `cmd`: start byte and length. False,
    //! with a diagnostic, for an unknown id, an unknown command or a variable without commands.
    //! The layout is the set layout when `cmd` is the variable's set command, the get layout when it
    //! is its get command, else the kind the command was first used as.
    //! The "Shared Secret Key" variable takes the length `length_hint` and stores it.
    bool GetVarPosOffset(const std::string& var_id, const std::string& cmd, int32_t length_hint,
                         int32_t& start_pos, int32_t& offset);

    //! The variable with this id, or null. The parser keeps ownership.
    VarInfo* FindById(const std::string& var_id) const;
    //! First variable in page order (level1, level2, position) named `name`, or null.
    VarInfo* FindByName(const std::string& name) const;
    //! `current_val` of FindByName(name); empty when there is none.
    std::string CurrentValueByName(const std::string& name) const;

    // Read access for the manager and the pages; the references and the VarInfo pointers stay valid
    // for the life of the parser.
    const std::string& file_path() const { return file_path_; }
    const std::vector<std::vector<std::string>>& page_names() const { return page_names_; }
    const std::vector<std::vector<std::vector<VarInfo*>>>& pages() const { return pages_; }
    const std::map<std::string, std::vector<VarInfo*>>& set_groups() const { return set_groups_; }
    const std::map<std::string, std::vector<VarInfo*>>& get_groups() const { return get_groups_; }
    const std::vector<VarInfo*>& unplaced_vars() const { return unplaced_vars_; }
    const std::unordered_map<std::string, std::string>& cmd_kinds() const { return cmd_kinds_; }
    //! The owning index by var_id.
    const std::unordered_map<std::string, std::unique_ptr<VarInfo>>& vars_by_id() const {
        return vars_by_id_;
    }
    //! Every variable in file order.
    const std::vector<VarInfo*>& all_vars() const { return all_vars_; }
    //! Everything the loader reported, in order; the error that ended loading is the last entry.
    const std::vector<Diagnostic>& Diagnostics() const { return diagnostics_; }
    //! Why the reader could not be opened; empty when it was.
    const std::string& OpenError() const { return open_error_; }
    //! Table row of a variable (the header is row 1); 0 for a variable not from this table.
    int RowOf(const VarInfo* var) const;
    //! When false, diagnostics are only kept, not printed (tools that print them themselves).
    void SetEchoDiagnostics(bool echo) { echo_diagnostics_ = echo; }

private:
    struct Columns;
    struct SwitchLink {
        int32_t level1;
        int32_t level2;
        int32_t target;
        VarInfo* companion;
    };

    void ParseRows(const Columns& columns);
    void AddPageRow(const std::vector<std::string>& cells, size_t group_column);
    std::unique_ptr<VarInfo> BuildVar(const std::vector<std::string>& cells,
                                      const Columns& columns);
    void ParseFunctionModule(VarInfo& var, const std::string& text);
    void RegisterCommands(VarInfo& var);
    void CheckSectionOrder();
    void LinkSwitchCompanions();
    void LayoutGetCommands();
    void LayoutSetCommands();
    void Report(int row, const std::string& text);

    std::string file_path_;
    std::unique_ptr<CsvReader> reader_;
    std::string open_error_;
    std::vector<std::vector<std::string>> page_names_;
    std::vector<std::vector<std::vector<VarInfo*>>> pages_;
    std::map<std::string, std::vector<VarInfo*>> set_groups_;
    std::map<std::string, std::vector<VarInfo*>> get_groups_;
    std::unordered_map<std::string, std::unique_ptr<VarInfo>> vars_by_id_;
    std::unordered_map<std::string, std::string> cmd_kinds_;
    std::vector<VarInfo*> unplaced_vars_;
    std::vector<VarInfo*> all_vars_;
    std::unordered_map<const VarInfo*, int> rows_;
    std::vector<SwitchLink> switch_links_;
    std::set<std::string> set_only_names_;
    std::vector<Diagnostic> diagnostics_;
    int current_row_ = 0;
    bool extracted_ = false;
    bool complete_ = false;
    bool echo_diagnostics_ = true;
};
