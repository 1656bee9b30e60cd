#include "DeviceBenchCore/manager/edit_book.h"

#include "DeviceBenchCore/table/var_info.h"

void EditBook::RecordEdit(const VarInfo& var, const std::string& shown_before) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!var.set_cmd.empty()) set_map_[var.set_cmd] = true;
    changed_.emplace(&var, shown_before);
}

void EditBook::MarkPending(const std::string& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    set_map_[command] = true;
}

std::vector<std::string> EditBook::TakePending(const std::vector<VarInfo*>& page_vars) {
    std::vector<std::string> commands;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const VarInfo* var : page_vars) {
        if (var->set_cmd.empty()) continue;
        const auto pending = set_map_.find(var->set_cmd);
        if (pending == set_map_.end() || !pending->second) continue;
        pending->second = false;
        commands.push_back(var->set_cmd);
    }
    return commands;
}

void EditBook::Requeue(const std::vector<std::string>& commands,
                       const std::vector<const VarInfo*>& members) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& command : commands)
        set_map_[command] = true;
    std::map<const VarInfo*, std::string> kept;
    for (const VarInfo* member : members) {
        const auto changed = changed_.find(member);
        if (changed != changed_.end()) kept.insert(*changed);
    }
    changed_.swap(kept);
}

bool EditBook::IsChanged(const VarInfo* var) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return changed_.count(var) != 0;
}

std::string EditBook::ChangedNames(const std::vector<VarInfo*>& members) const {
    std::string names;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const VarInfo* member : members) {
        if (changed_.count(member)) names += member->var_name + ", ";
    }
    return names;
}

std::vector<std::pair<const VarInfo*, std::string>> EditBook::Changes(
    const std::vector<const VarInfo*>& members) const {
    std::vector<std::pair<const VarInfo*, std::string>> changes;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const VarInfo* member : members) {
        const auto changed = changed_.find(member);
        if (changed != changed_.end()) changes.push_back(*changed);
    }
    return changes;
}

void EditBook::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_map_.clear();
    changed_.clear();
}

int EditBook::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(set_map_.size());
}
