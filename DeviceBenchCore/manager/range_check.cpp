#include "DeviceBenchCore/manager/range_check.h"

#include <QDebug>
#include <QRegularExpression>

#include <cmath>
#include <stdexcept>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/table/number_text.h"

namespace {

const char* const kIpPattern =
    "^((25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)$";
const char* const kMacPattern = "^([0-9A-Fa-f]{2}[:]){5}([0-9A-Fa-f]{2})$";
constexpr int kSwitchType = 2;

}  // namespace

RangeCheck::RangeCheck(DeviceSession& session, Reporter& reporter)
    : session_(session), reporter_(reporter) {}

bool RangeCheck::VarWithinRange(const std::string& text, const std::string& search_type) {
    const VarInfo* var = session_.table.FindVar(text, search_type);
    if (var == nullptr) {
        qDebug() << "DeviceBenchManager::CheckVarIsWithinRange Can't find this var info for range "
                    "check. var_info ="
                 << text.c_str();
        return true;
    }
    if (var->var_type == "string") return true;
    if (var->range_min == 0 || var->range_max == 0) return true;
    try {
        const double v = number_text::Stod(session_.table.CurrentValue(*var));
        const double w = std::trunc(v * static_cast<double>(var->set_coefficient));
        return !(w < var->range_min || w > var->range_max);
    } catch (const std::out_of_range& e) {
        qDebug() << "DeviceBenchManager::CheckVarIsWithinRange Out of range: " << e.what();
    } catch (const std::invalid_argument& e) {
        qDebug() << "DeviceBenchManager::CheckVarIsWithinRange Invalid argument: " << e.what();
    }
    return false;
}

std::string RangeCheck::Failure(const VarInfo& var) const {
    const std::string current = session_.table.CurrentValue(var);
    const QString value = QString::fromStdString(current);
    if (var.var_type == "string" || var.var_type == "raw") {
        return value.size() > var.offset ? " is out of range" : "";
    }
    if (var.var_type == "IP") {
        return QRegularExpression(kIpPattern).match(value).hasMatch() ? ""
                                                                      : " has invalid IP format";
    }
    if (var.var_type == "MAC") {
        return QRegularExpression(kMacPattern).match(value).hasMatch() ? ""
                                                                       : " has invalid MAC format";
    }
    if (var.range_min == 0 && var.range_max == 0) return "";
    if (var.type == kSwitchType && var.switch_var &&
        session_.table.CurrentValue(*var.switch_var) == "0") {
        return "";
    }
    const long long v = std::stoll(current);  // digits up to the first non-digit
    return v < var.range_min || v > var.range_max ? " is out of range" : "";
}

bool RangeCheck::PageWithinRange(int module) {
    bool result = true;
    try {
        for (const VarInfo* var : session_.table.PageVars(module)) {
            if (var->permission == 0) continue;
            const std::string failure = Failure(*var);
            if (failure.empty()) continue;
            result = false;
            reporter_.Log("Detected that the user set " + var->var_name + failure, "WARNING");
            qDebug() << "DeviceBenchManager::CheckModuleVarsWithinRange: detected that"
                     << var->var_name.c_str() << failure.c_str() + 1
                     << session_.table.CurrentValue(*var).c_str();
            reporter_.Notify(ManagerEvent::kVarOutOfRange, var->var_name);
        }
    } catch (const std::out_of_range& e) {
        qDebug() << "DeviceBenchManager::CheckModuleVarsWithinRange Out of range: " << e.what();
    } catch (const std::invalid_argument& e) {
        qDebug() << "DeviceBenchManager::CheckModuleVarsWithinRange Invalid argument: " << e.what();
    }
    return result;
}
