#include "DeviceBenchCore/manager/active_table.h"
#include "libkrell/CmxClient/cmx_codes.h"

#include <QDebug>

#include <algorithm>

namespace {

using krell::lidar::kFovChannels;
constexpr float kFovFullCircleDeg = 360.0f;
constexpr const char* kUnknownValue = "xxxxxxxx";

bool Within(int index, size_t size) {
    return index >= 0 && static_cast<size_t>(index) < size;
}

}  // namespace

krell::lidar::FovTable ActiveTable::DefaultFov() {
    krell::lidar::FovTable fov{};
    for (size_t i = 0; i < kFovChannels; ++i) {
        fov[i] = 0.0f;
        fov[i + kFovChannels] = kFovFullCircleDeg;
    }
    return fov;
}

ActiveTable::ActiveTable(std::string initial_path) : path_(std::move(initial_path)) {}

ActiveTable::Selection ActiveTable::Select(const std::string& model, const std::string& path,
                                           bool index_serial, std::string& load_error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (table_ != nullptr && path == path_) return Selection::kUnchanged;
    path_ = path;
    std::unique_ptr<ConfigParser>& parser = cache_[path];
    if (!parser) {
        parser = std::make_unique<ConfigParser>(path);
        try {
            parser->ExtractConfigInfo();
        } catch (const std::exception& e) {
            load_error = e.what();
        }
    }
    table_ = parser.get();
    model_ = model;
    name_index_.clear();
    index_map_.clear();
    const auto& pages = table_->pages();
    if (index_serial && !pages.empty() && !pages[0].empty()) {
        for (VarInfo* var : pages[0][0]) {
            name_index_[var->var_name].push_back(var);
            index_map_[var->index] = var;
        }
    }
    return Selection::kSelected;
}

void ActiveTable::Adopt(std::unique_ptr<ConfigParser> table, const std::string& model) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = "adopted:" + model;
    table_ = table.get();
    cache_[path_] = std::move(table);
    model_ = model;
}

bool ActiveTable::HasTable() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return table_ != nullptr;
}

std::string ActiveTable::Model() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_;
}

size_t ActiveTable::PageCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return table_ ? table_->pages().size() : 0;
}

VarInfo* ActiveTable::Element(int level1, int level2, int position) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (table_ == nullptr) return nullptr;
    const auto& pages = table_->pages();
    if (!Within(level1, pages.size())) return nullptr;
    const auto& sections = pages[static_cast<size_t>(level1)];
    if (!Within(level2, sections.size())) return nullptr;
    const auto& vars = sections[static_cast<size_t>(level2)];
    if (!Within(position, vars.size())) return nullptr;
    return vars[static_cast<size_t>(position)];
}

std::vector<VarInfo*> ActiveTable::PageVars(int module) const {
    std::vector<VarInfo*> vars;
    std::lock_guard<std::mutex> lock(mutex_);
    if (table_ == nullptr || !Within(module, table_->pages().size())) return vars;
    for (const auto& section : table_->pages()[static_cast<size_t>(module)])
        vars.insert(vars.end(), section.begin(), section.end());
    return vars;
}

GetGroups ActiveTable::PageGroups(int module, bool timer_only) const {
    GetGroups groups;
    for (VarInfo* var : PageVars(module)) {
        if (var->get_cmd.empty() || (timer_only && !var->timer_update)) continue;
        std::vector<VarInfo*>& group = groups[var->get_cmd + var->get_cmd_payload];
        if (std::find(group.begin(), group.end(), var) == group.end()) group.push_back(var);
    }
    return groups;
}

std::vector<VarInfo*> ActiveTable::SetGroup(const std::string& command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (table_ == nullptr) return {};
    const auto found = table_->set_groups().find(command);
    return found == table_->set_groups().end() ? std::vector<VarInfo*>() : found->second;
}

VarInfo* ActiveTable::FindVarLocked(const std::string& text, const std::string& search_type) const {
    if (table_ == nullptr) return nullptr;
    if (search_type == "var_name" || search_type == "name") {
        // File order, so that the first of two equal names is always the same one.
        for (VarInfo* var : table_->all_vars()) {
            if (var->var_name == text) return var;
        }
        return nullptr;
    }
    if (search_type == "id" || search_type == "var_id") return table_->FindById(text);
    qDebug() << "DeviceBenchManager::searchVarPtr(): unknown search type";
    return nullptr;
}

VarInfo* ActiveTable::FindVar(const std::string& text, const std::string& search_type) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return FindVarLocked(text, search_type);
}

ActiveTable::RowLookup ActiveTable::FindCommandRow(const std::vector<std::string>& names,
                                                   bool set_first, std::string& text,
                                                   std::vector<uint8_t>& row_payload) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& name : names) {
        const VarInfo* var = FindVarLocked(name, "var_name");
        if (var == nullptr) continue;
        const std::string& first = set_first ? var->set_cmd : var->get_cmd;
        const std::string& second = set_first ? var->get_cmd : var->set_cmd;
        text = first.empty() ? second : first;
        row_payload = var->get_payload_bytes;
        return text.empty() ? RowLookup::kNoCommand : RowLookup::kFound;
    }
    return RowLookup::kNoRow;
}

bool ActiveTable::VarPosOffset(const VarInfo& var, int32_t reply_length, int32_t& start,
                               int32_t& length) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return table_ != nullptr &&
           table_->GetVarPosOffset(var.var_id, var.get_cmd, reply_length, start, length);
}

std::string ActiveTable::CurrentValue(const VarInfo& var) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return var.current_val;
}

std::string ActiveTable::CurrentValueByName(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return table_ ? table_->CurrentValueByName(name) : std::string();
}

void ActiveTable::SetCurrentValue(VarInfo& var, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    var.current_val = text;
}

bool ActiveTable::ChangeCurrentValue(VarInfo& var, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (var.current_val == text) return false;
    var.current_val = text;
    return true;
}

void ActiveTable::ForgetSerialNumbers() {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto sn = name_index_.find("SN");
    if (sn == name_index_.end()) return;
    for (VarInfo* var : sn->second)
        var->current_val = kUnknownValue;
}

VarInfo* ActiveTable::InfoVariable(int32_t id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = index_map_.find(id);
    return found == index_map_.end() ? nullptr : found->second;
}

std::vector<std::pair<std::string, std::string>> ActiveTable::InfoRows() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto& entry : index_map_)
        rows.emplace_back(entry.second->var_name + entry.second->unit, entry.second->current_val);
    return rows;
}

void ActiveTable::ForgetInfoValues() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : index_map_)
        entry.second->current_val = kUnknownValue;
}

krell::lidar::FovTable ActiveTable::Fov() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fov_;
}

void ActiveTable::SetFov(const krell::lidar::FovTable& fov) {
    std::lock_guard<std::mutex> lock(mutex_);
    fov_ = fov;
}

void ActiveTable::SetFovEntry(size_t index, float degrees) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < fov_.size()) fov_[index] = degrees;
}

void ActiveTable::ResetFov() {
    std::lock_guard<std::mutex> lock(mutex_);
    fov_ = DefaultFov();
}

void ActiveTable::ReadPages(const std::function<void(const ConfigParser*)>& read) const {
    std::lock_guard<std::mutex> lock(mutex_);
    read(table_);
}
