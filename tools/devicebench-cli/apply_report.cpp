#include "tools/devicebench-cli/apply_report.h"

#include <QJsonArray>

namespace cli {
namespace {

QJsonArray List(const std::vector<std::string>& items) {
    QJsonArray list;
    for (const std::string& item : items)
        list.append(QString::fromStdString(item));
    return list;
}

}  // namespace

ExitCode ExitCodeOf(const ApplyReport& report, bool link_lost) {
    if (report.Complete()) return ExitCode::kDone;
    if (!report.written.empty()) return ExitCode::kPartial;
    return link_lost ? ExitCode::kConnection : ExitCode::kRefused;
}

void PrintReport(std::ostream& out, const ApplyReport& report) {
    for (const std::string& line : report.written)
        out << "written " << line << "\n";
    if (!report.reason.empty()) {
        out << "FAILED " << (report.failed.empty() ? std::string("before sending") : report.failed)
            << ": " << report.reason << "\n";
    }
    for (const std::string& line : report.not_sent)
        out << "not sent " << line << "\n";
}

QJsonObject ReportJson(const ApplyReport& report) {
    QJsonObject object;
    object["written"] = List(report.written);
    object["failed"] = QString::fromStdString(report.failed);
    object["reason"] = QString::fromStdString(report.reason);
    object["not_sent"] = List(report.not_sent);
    return object;
}

}  // namespace cli
