#include "DeviceBenchCore/manager/page_model.h"

#include <QVariantMap>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/table/config_parser.h"

namespace {

constexpr int kSwitchType = 2;
constexpr int kFovDecimals = 1;

QVariantMap VarMap(const VarInfo& var, std::vector<std::string>& errors) {
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
            errors.push_back("config file error, Please check the configuration of type 2 of " +
                             var.var_name);
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

PageModel::PageModel(DeviceSession& session, Reporter& reporter)
    : session_(session), reporter_(reporter) {}

const ConfigParser* PageModel::Shown(const ConfigParser* table) const {
    return session_.link.kind.load() == Link::kKindTcp ? table : nullptr;
}

QVariantList PageModel::Level1List() const {
    QVariantList list;
    session_.table.ReadPages([&](const ConfigParser* table) {
        if (!Shown(table)) return;
        for (const auto& row : table->page_names()) {
            if (!row.empty()) list << QString::fromStdString(row.front());
        }
    });
    return list;
}

QVariantList PageModel::Level2List() const {
    QVariantList pages;
    session_.table.ReadPages([&](const ConfigParser* table) {
        if (!Shown(table)) return;
        const auto& names = table->page_names();
        const auto& table_pages = table->pages();
        for (size_t i = 0; i < table_pages.size(); ++i) {
            QVariantList rows;
            for (size_t j = 0; j < table_pages[i].size(); ++j) {
                const std::string section =
                    j + 1 < names[i].size() ? names[i][j + 1] : std::string();
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
    });
    return pages;
}

QVariantList PageModel::MyMap() const {
    QVariantList pages;
    std::vector<std::string> errors;
    session_.table.ReadPages([&](const ConfigParser* table) {
        if (!Shown(table)) return;
        for (const auto& page : table->pages()) {
            QVariantList sections;
            for (const auto& section : page) {
                QVariantList vars;
                for (const VarInfo* var : section) {
                    if (!var->is_switch_source) vars << VarMap(*var, errors);
                }
                sections << QVariant(vars);
            }
            pages << QVariant(sections);
        }
    });
    for (const std::string& error : errors)
        reporter_.Log(error, "ERROR");
    return pages;
}

QVariantList PageModel::LogRepeaterModel() const {
    QVariantList names;
    session_.table.ReadPages([&](const ConfigParser* table) {
        if (table == nullptr) return;
        for (const VarInfo* var : table->unplaced_vars()) {
            if (!var->get_cmd.empty() || !var->set_cmd.empty())
                names << QString::fromStdString(var->var_name);
        }
    });
    return names;
}

QVariantList PageModel::FovList() const {
    QVariantList list;
    for (float value : session_.table.Fov())
        list << QString::number(value, 'f', kFovDecimals);
    return list;
}
