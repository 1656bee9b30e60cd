#include "DeviceBenchCore/manager/edit_book.h"

#include "DeviceBenchCore/table/var_info.h"

void EditBook::RecordEdit(const VarInfo& var) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!var.set_cmd.empty()) set_map_[var.set_cmd] = true;
    changed_[&var] = true;
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
    std::map<const VarInfo*, bool> kept;
    for (const VarInfo* member : members) {
        if (changed_.count(member)) kept[member] = true;
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

void EditBook::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_map_.clear();
    changed_.clear();
}

int EditBook::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(set_map_.size());
}
