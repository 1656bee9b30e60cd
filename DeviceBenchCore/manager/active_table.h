#pragma once
// ActiveTable: the variable table of the selected model and everything looked up in it: pages,
// elements, variables by name or id, get groups, set groups, command rows, the values shown
// (`current_val`) and the field-of-view table. Keeps every table loaded so far (values survive a
// model switch). Guards its own lock; any thread.
//
// VarInfo pointers handed out stay valid for the manager's life (tables are never unloaded);
// every field but `current_val` is fixed once a table is loaded, so callers may read those
// without the lock. `current_val` is read and written only through this class.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "DeviceBenchCore/table/config_parser.h"
#include "libkrell/CmxClient/cmx_client.h"

//! Variables grouped by get command text + get payload text.
using GetGroups = std::map<std::string, std::vector<VarInfo*>>;

class ActiveTable {
public:
    enum class Selection { kSelected, kUnchanged };
    enum class RowLookup { kFound, kNoRow, kNoCommand };

    //! Field-of-view table: starts 0, ends 360.
    static krell::lidar::FovTable DefaultFov();

    explicit ActiveTable(std::string initial_path);

    //! Makes the table at `path` (loaded once, cached) the current one for `model`. kUnchanged
    //! when it already is. `index_serial` rebuilds the Minka name and index maps. A table that
    //! broke while loading keeps the rows read before the fault; `load_error` says which.
    Selection Select(const std::string& model, const std::string& path, bool index_serial,
                     std::string& load_error);
    //! Makes `table` (already loaded) the current one; for tools and tests.
    void Adopt(std::unique_ptr<ConfigParser> table, const std::string& model);

    bool HasTable() const;
    std::string Model() const;
    size_t PageCount() const;
    //! The element [level1][level2][position] (hidden companions counted), or null.
    VarInfo* Element(int level1, int level2, int position) const;
    //! The variables of every section of page `module`, in order (empty for a bad page).
    std::vector<VarInfo*> PageVars(int module) const;
    //! Readable variables of page `module` (only timer-updated ones when `timer_only`).
    GetGroups PageGroups(int module, bool timer_only) const;
    //! The variables written by set command `command` (table order), or none.
    std::vector<VarInfo*> SetGroup(const std::string& command) const;
    //! By "var_name"/"name" (first in table order) or "id"/"var_id"; null otherwise.
    VarInfo* FindVar(const std::string& text, const std::string& search_type) const;
    //! Command text and get-payload bytes of the first row named one of `names` (in order);
    //! `set_first` picks which command cell is tried first.
    RowLookup FindCommandRow(const std::vector<std::string>& names, bool set_first,
                             std::string& text, std::vector<uint8_t>& row_payload) const;
    //! Where `var`'s bytes lie in a reply of `reply_length` bytes to its get command.
    bool VarPosOffset(const VarInfo& var, int32_t reply_length, int32_t& start,
                      int32_t& length) const;

    std::string CurrentValue(const VarInfo& var) const;
    //! The value of the first variable named `name` (empty when none).
    std::string CurrentValueByName(const std::string& name) const;
    void SetCurrentValue(VarInfo& var, const std::string& text);
    //! Sets the value when it differs; true when it changed.
    bool ChangeCurrentValue(VarInfo& var, const std::string& text);
    //! The Minka serial numbers read "xxxxxxxx" again (the link closed).
    void ForgetSerialNumbers();

    //! The information variable that packets name with `id` (the Minka index map), or null.
    VarInfo* InfoVariable(int32_t id) const;
    //! [label (name and unit), current value] of every information variable, by id.
    std::vector<std::pair<std::string, std::string>> InfoRows() const;
    //! Every information variable reads "xxxxxxxx" until a packet of this link gives its value,
    //! so that the table's defaults are never shown as the sensor's.
    void ForgetInfoValues();

    krell::lidar::FovTable Fov() const;
    void SetFov(const krell::lidar::FovTable& fov);
    void SetFovEntry(size_t index, float degrees);
    void ResetFov();

    //! Runs `read` with the current table (null when none) under the lock, for building the
    //! page lists in one consistent pass. `read` must not call back into this object.
    void ReadPages(const std::function<void(const ConfigParser*)>& read) const;

private:
    VarInfo* FindVarLocked(const std::string& text, const std::string& search_type) const;

    mutable std::mutex mutex_;  // guards everything below and every table's current_val
    std::unordered_map<std::string, std::unique_ptr<ConfigParser>> cache_;
    ConfigParser* table_ = nullptr;
    std::string path_;
    std::string model_;
    krell::lidar::FovTable fov_ = DefaultFov();
    std::unordered_map<std::string, std::vector<VarInfo*>> name_index_;
    std::map<int32_t, VarInfo*> index_map_;
};
