#include "DeviceBenchCore/manager/page_model.h"

#include <QVariantMap>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/table/config_parser.h"

namespace {

constexpr int kSwitchType = 2;
constexpr int kFovDecimals = 1;

QVariantMap VarMap(const VarInfo& var, const PageModel::ErrorLine& error) {
    QVariantMap map;
    map["var_id"] = QString::fromStdString(var.var_id);
    map["get_cmd"] = QString::fromStdString(var.get_cmd);
    map["set_cmd"] = QString::fromStdString(var.set_cmd);
    map["var_type"] = QString::fromStdString(var.var_type);
    map["var_name"] = QString::fromStdString(var.var_name);
    map["get_start_pos"] = var.get_start_pos;
    map["set_start_pos"] = var.set_start_pos;
    map["offset"] = var.offset;
    map["permission"] = var.permission;
    map["default_val"] = QString::fromStdString(var.default_val);
    map["current_val"] = QString::fromStdString(var.current_val);
    if (var.type == kSwitchType) {
        if (var.switch_var) {
            map["switch_index"] = QString::fromStdString(var.switch_var->current_val);
        } else {
            error("config file error, Please check the configuration of type 2 of " + var.var_name);
        }
    }
    map["visible"] = var.visible;
    map["option_num"] = var.option_num;
    map["type"] = var.type;
    QVariantMap options_text;
    for (const auto& option : var.varname_value_to_option)
        options_text[QString::number(option.first)] = QString::fromStdString(option.second);
    map["varname_value_to_option"] = options_text;
    QVariantList options;
    for (int32_t option : var.options)
        options << option;
    map["options"] = options;
    return map;
}

}  // namespace

PageModel::PageModel(DeviceSession& session) : session_(session) {}

bool PageModel::PagesShown() const {
    return session_.table != nullptr && session_.kind.load() == DeviceSession::kKindTcp;
}

QVariantList PageModel::Level1List() const {
    QVariantList list;
    std::lock_guard<std::mutex> lock(session_.data_mutex);
    if (!PagesShown()) return list;
    for (const auto& row : session_.table->page_names()) {
        if (!row.empty()) list << QString::fromStdString(row.front());
    }
    return list;
}

QVariantList PageModel::Level2List() const {
    QVariantList pages;
    std::lock_guard<std::mutex> lock(session_.data_mutex);
    if (!PagesShown()) return pages;
    const auto& names = session_.table->page_names();
    const auto& table_pages = session_.table->pages();
    for (size_t i = 0; i < table_pages.size(); ++i) {
        QVariantList rows;
        for (size_t j = 0; j < table_pages[i].size(); ++j) {
            const std::string section = j + 1 < names[i].size() ? names[i][j + 1] : std::string();
            rows << QVariant(QVariantList{QString::fromStdString(section), 0});
            const auto& vars = table_pages[i][j];
            for (size_t k = 0; k < vars.size(); ++k) {
                if (vars[k]->is_switch_source) continue;
                const QString label = QString::fromStdString(vars[k]->var_name + vars[k]->unit);
                rows << QVariant(QVariantList{label, vars[k]->type, static_cast<int>(i),
                                              static_cast<int>(j), static_cast<int>(k)});
            }
        }
        pages << QVariant(rows);
    }
    return pages;
}

QVariantList PageModel::MyMap(const ErrorLine& error) const {
    QVariantList pages;
    std::lock_guard<std::mutex> lock(session_.data_mutex);
    if (!PagesShown()) return pages;
    for (const auto& page : session_.table->pages()) {
        QVariantList sections;
        for (const auto& section : page) {
            QVariantList vars;
            for (const VarInfo* var : section) {
                if (!var->is_switch_source) vars << VarMap(*var, error);
            }
            sections << QVariant(vars);
        }
        pages << QVariant(sections);
    }
    return pages;
}

QVariantList PageModel::LogRepeaterModel() const {
    QVariantList names;
    std::lock_guard<std::mutex> lock(session_.data_mutex);
    if (session_.table == nullptr) return names;
    for (const VarInfo* var : session_.table->unplaced_vars()) {
        if (!var->get_cmd.empty() || !var->set_cmd.empty())
            names << QString::fromStdString(var->var_name);
    }
    return names;
}

QVariantList PageModel::FovList() const {
    QVariantList list;
    std::lock_guard<std::mutex> lock(session_.data_mutex);
    for (float value : session_.fov)
        list << QString::number(value, 'f', kFovDecimals);
    return list;
}

bool PageModel::IsTimerUpdate(int i, int j, int k) const {
    std::lock_guard<std::mutex> lock(session_.data_mutex);
    if (!PagesShown() || i < 0 || j < 0 || k < 0) return false;
    const auto& pages = session_.table->pages();
    if (static_cast<size_t>(i) >= pages.size()) return false;
    const auto& sections = pages[static_cast<size_t>(i)];
    if (static_cast<size_t>(j) >= sections.size()) return false;
    const auto& vars = sections[static_cast<size_t>(j)];
    if (static_cast<size_t>(k) >= vars.size()) return false;
    return vars[static_cast<size_t>(k)]->timer_update;
}
