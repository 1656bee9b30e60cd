#include "DeviceBenchCore/manager/pending_changes.h"

#include <algorithm>
#include <map>

#include "DeviceBenchCore/manager/active_table.h"
#include "DeviceBenchCore/manager/edit_book.h"
#include "DeviceBenchCore/table/var_info.h"

namespace {

// An option as its description, a switch as On/Off; anything else as written.
std::string Shown(const VarInfo& var, const std::string& value) {
    if (var.is_switch_source && (value == "0" || value == "1")) return value == "1" ? "On" : "Off";
    if (var.varname_value_to_option.empty()) return value;
    try {
        const auto option = var.varname_value_to_option.find(std::stoi(value));
        if (option != var.varname_value_to_option.end()) return option->second;
    } catch (const std::exception&) {
    }
    return value;
}

}  // namespace

std::vector<PendingChange> PendingChangesOfPage(const ActiveTable& table, const EditBook& edits,
                                                int module) {
    // A switch is edited through its hidden companion; the page names it by the shown element.
    std::vector<const VarInfo*> members;
    std::map<const VarInfo*, const VarInfo*> shown_as;
    const auto add = [&members](const VarInfo* var) {
        if (std::find(members.begin(), members.end(), var) == members.end())
            members.push_back(var);
    };
    for (const VarInfo* var : table.PageVars(module)) {
        add(var);
        if (var->switch_var != nullptr) {
            add(var->switch_var);
            shown_as[var->switch_var] = var;
        }
    }
    std::vector<PendingChange> changes;
    for (const auto& change : edits.Changes(members)) {
        const VarInfo& var = *change.first;
        const auto shown = shown_as.find(&var);
        const std::string& name = shown != shown_as.end() ? shown->second->var_name : var.var_name;
        changes.push_back({name, Shown(var, change.second), Shown(var, table.CurrentValue(var))});
    }
    return changes;
}
