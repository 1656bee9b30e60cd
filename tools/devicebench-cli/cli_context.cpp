#include "tools/devicebench-cli/cli_context.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>

#include <algorithm>
#include <cctype>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "tools/devicebench-cli/exit_code.h"

namespace {

constexpr const char* kDefaultModel = "Corvel";
constexpr const char* kTablesBesideProgram = "/../Config/varID";
constexpr const char* kTablesInWorkingDir = "./Config/varID";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string DefaultTablesDir() {
    if (QCoreApplication::instance()) {
        const QString beside = QCoreApplication::applicationDirPath() + kTablesBesideProgram;
        if (QFileInfo(beside).isDir()) return QDir(beside).absolutePath().toStdString();
    }
    return kTablesInWorkingDir;
}

//! The window's defaults, overridden by its settings file.
ConnectSettings StoredSettings() {
    ConnectSettings settings;
    settings.ip_address = "192.168.1.201";
    settings.port = "9347";
    settings.serial_port_485 = "/dev/ttyUSB0";
    settings.serial_port_232 = "/dev/ttyUSB1";
    settings.baud_rate = 3000000;
    QSettings file(DeviceBenchManager::SettingsFilePath(), QSettings::IniFormat);
    const auto text = [&file](const char* key, std::string& value) {
        if (file.contains(key)) value = file.value(key).toString().toStdString();
    };
    text("device_ip_address", settings.ip_address);
    text("cmx_port", settings.port);
    text("rs485_com", settings.serial_port_485);
    text("rs232_com", settings.serial_port_232);
    if (file.contains("point_cloud_baudrate"))
        settings.baud_rate = file.value("point_cloud_baudrate").toInt();
    return settings;
}

}  // namespace

namespace cli {

SensorTarget TargetOf(const CliOptions& options) {
    SensorTarget target;
    target.model = options.model.value_or(kDefaultModel);
    target.tables_dir = options.tables_dir.empty() ? DefaultTablesDir() : options.tables_dir;
    target.settings = StoredSettings();
    ConnectSettings& settings = target.settings;
    if (options.host) settings.ip_address = *options.host;
    if (options.port) settings.port = *options.port;
    if (options.rs485) settings.serial_port_485 = *options.rs485;
    if (options.uart) settings.serial_port_232 = *options.uart;
    if (options.baud) {
        try {
            settings.baud_rate = std::stoi(*options.baud);
        } catch (const std::exception&) {
            throw CliFailure(ExitCode::kUsage,
                             "--baud wants a line speed, not \"" + *options.baud + "\"");
        }
    }
    settings.cert_path = options.cert_path;
    settings.key_path = options.key_path;
    settings.ca_path = options.ca_path;
    return target;
}

std::unique_ptr<CliReporter> MakeReporter(const CliContext& context) {
    return std::make_unique<CliReporter>(context.options.verbose ? &context.err : nullptr);
}

std::unique_ptr<SensorSession> OpenSensor(const CliContext& context, CliReporter& reporter,
                                          bool connect) {
    auto sensor = std::make_unique<SensorSession>(reporter);
    const SensorTarget target = TargetOf(context.options);
    if (connect) {
        sensor->Connect(target);
    } else {
        sensor->SelectModel(target);
    }
    return sensor;
}

void RequireArgs(const CliContext& context, size_t min, size_t max) {
    const size_t count = context.options.args.size();
    if (count >= min && count <= max) return;
    throw CliFailure(
        ExitCode::kUsage,
        context.options.verb + " takes " +
            (min == max ? std::to_string(min)
                        : std::to_string(min) + " to " +
                              (max > 1000 ? std::string("any number of") : std::to_string(max))) +
            " arguments, not " + std::to_string(count) + " (see " + context.options.verb +
            " --help)");
}

VarInfo* RequireVar(SensorSession& sensor, const std::string& name) {
    ActiveTable& table = sensor.Session().table;
    if (VarInfo* var = table.FindVar(name, "var_name")) return var;
    std::string meant;
    table.ReadPages([&](const ConfigParser* parser) {
        if (parser == nullptr) return;
        for (const VarInfo* var : parser->all_vars()) {
            if (Lower(var->var_name) == Lower(name)) {
                meant = var->var_name;
                return;
            }
        }
    });
    if (!meant.empty()) return table.FindVar(meant, "var_name");
    throw CliFailure(ExitCode::kUsage, "the " + table.Model() + " has no variable \"" + name +
                                           "\" (see the pages verb for the names)");
}

int FindPage(SensorSession& sensor, const std::string& text) {
    int found = -1;
    sensor.Session().table.ReadPages([&](const ConfigParser* parser) {
        if (parser == nullptr) return;
        const auto& names = parser->page_names();
        for (size_t i = 0; i < names.size() && i < parser->pages().size(); ++i) {
            if (std::to_string(i) == text ||
                (!names[i].empty() && Lower(names[i][0]) == Lower(text)))
                found = static_cast<int>(i);
            if (found >= 0) return;
        }
    });
    return found;
}

void PrintJson(std::ostream& out, const QJsonObject& object) {
    out << QJsonDocument(object).toJson(QJsonDocument::Indented).toStdString() << std::flush;
}

void RequireSerialModel(SensorSession& sensor, const char* verb) {
    if (sensor.Kind() != Link::kKindTcp) return;
    throw CliFailure(ExitCode::kUsage, std::string(verb) +
                                           " is an operation of the Minka and "
                                           "Rusko models, not of the " +
                                           sensor.Session().table.Model());
}

void RequireNetworkModel(SensorSession& sensor, const std::string& verb) {
    if (sensor.Kind() == Link::kKindTcp) return;
    throw CliFailure(ExitCode::kUsage, verb +
                                           " works on the table pages of the network models; the " +
                                           sensor.Session().table.Model() +
                                           " has its own operations (devicebench-cli --help)");
}

}  // namespace cli
