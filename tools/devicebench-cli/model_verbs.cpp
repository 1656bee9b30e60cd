// The Minka and Rusko operations (ModelOperation): standby, spin rate, return mode, function
// safety, line speed, destination, IMU range, firmware versions, serial number and calibration.
#include <QJsonArray>

#include <functional>

#include "tools/devicebench-cli/exit_code.h"
#include "tools/devicebench-cli/verbs.h"

namespace cli {
namespace {

int WholeNumber(const std::string& text, const char* what) {
    size_t used = 0;
    try {
        const int value = std::stoi(text, &used, 10);
        if (used == text.size()) return value;
    } catch (const std::exception&) {}
    throw CliFailure(ExitCode::kUsage,
                     std::string(what) + " wants a whole number, not \"" + text + "\"");
}

//! Connects to a serial model, runs `operation` and turns a new error text into exit 3.
int RunModelOperation(CliContext& context, const char* verb,
                      const std::function<void(SensorSession&, CliReporter&)>& operation) {
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, false);
    RequireSerialModel(*sensor, verb);
    sensor->Connect(TargetOf(context.options));
    const int errors = reporter->ErrorCount();
    operation(*sensor, *reporter);
    if (reporter->ErrorCount() > errors)
        throw CliFailure(ExitCode::kRefused, reporter->LastError());
    return static_cast<int>(ExitCode::kDone);
}

void PrintPairs(CliContext& context,
                const std::vector<std::pair<std::string, std::string>>& pairs) {
    if (context.options.json) {
        QJsonObject object;
        for (const auto& pair : pairs)
            object[QString::fromStdString(pair.first)] = QString::fromStdString(pair.second);
        PrintJson(context.out, object);
        return;
    }
    for (const auto& pair : pairs)
        context.out << pair.first << " = " << pair.second << "\n";
}

}  // namespace

int Standby(CliContext& context) {
    RequireArgs(context, 1, 1);
    const std::string& arg = context.options.args[0];
    if (arg != "on" && arg != "off") throw CliFailure(ExitCode::kUsage, "standby takes on or off");
    return RunModelOperation(context, "standby", [&arg](SensorSession& sensor, CliReporter&) {
        sensor.Model().SetStandby(arg == "on" ? 1 : 0);
    });
}

int SpinRate(CliContext& context) {
    RequireArgs(context, 1, 1);
    const int rate = WholeNumber(context.options.args[0], "spin-rate");
    return RunModelOperation(context, "spin-rate", [rate](SensorSession& sensor, CliReporter&) {
        sensor.Model().SetSpinRate(rate);
    });
}

int ReturnMode(CliContext& context) {
    RequireArgs(context, 1, 1);
    const int mode = WholeNumber(context.options.args[0], "return-mode");
    return RunModelOperation(context, "return-mode", [mode](SensorSession& sensor, CliReporter&) {
        sensor.Model().SetReturnMode(mode);
    });
}

int FunctionSafety(CliContext& context) {
    RequireArgs(context, 0, 0);
    return RunModelOperation(context, "function-safety", [&](SensorSession& sensor, CliReporter&) {
        const std::vector<std::string> entries = sensor.Model().FunctionSafety();
        if (entries.empty()) return;
        if (context.options.json) {
            QJsonArray faults;
            for (size_t i = 1; i < entries.size(); ++i)
                faults.append(QString::fromStdString(entries[i]));
            PrintJson(context.out, QJsonObject{{"state", QString::fromStdString(entries[0])},
                                               {"faults", faults}});
            return;
        }
        context.out << "state = " << entries[0] << "\n";
        for (size_t i = 1; i < entries.size(); ++i)
            context.out << "fault = " << entries[i] << "\n";
    });
}

int BaudRate(CliContext& context) {
    RequireArgs(context, 0, 1);
    return RunModelOperation(context, "baud-rate", [&](SensorSession& sensor, CliReporter&) {
        if (context.options.args.empty()) {
            const std::string baud = sensor.Model().GetBaudRate();
            if (!baud.empty()) PrintPairs(context, {{"baud_rate", baud}});
            return;
        }
        uint32_t baud = 0;
        if (sensor.Model().SetBaudRate(context.options.args[0], baud))
            PrintPairs(context, {{"baud_rate", std::to_string(baud)}});
    });
}

int Destination(CliContext& context) {
    RequireArgs(context, 0, 2);
    if (context.options.args.size() == 1)
        throw CliFailure(ExitCode::kUsage, "destination takes IP and PORT, or nothing to read it");
    return RunModelOperation(context, "destination", [&](SensorSession& sensor, CliReporter&) {
        const std::vector<std::string>& args = context.options.args;
        if (args.empty()) {
            const std::vector<std::string> destination = sensor.Model().GetDestination(false);
            if (destination.size() >= 2)
                PrintPairs(context, {{"ip", destination[0]}, {"port", destination[1]}});
            return;
        }
        if (sensor.Model().SetDestination(args[0], WholeNumber(args[1], "destination PORT")))
            PrintPairs(context, {{"ip", args[0]}, {"port", args[1]}});
    });
}

int ImuRange(CliContext& context) {
    RequireArgs(context, 2, 2);
    const int angular = WholeNumber(context.options.args[0], "imu-range ANGULAR");
    const int acceleration = WholeNumber(context.options.args[1], "imu-range ACCELERATION");
    return RunModelOperation(context, "imu-range", [=](SensorSession& sensor, CliReporter&) {
        sensor.Model().SetImuRange(angular, acceleration);
    });
}

int Versions(CliContext& context) {
    RequireArgs(context, 0, 0);
    // A version that cannot be read shows as "xxxxxxxx" (the PBL one as empty); the failure
    // texts make the exit code.
    return RunModelOperation(context, "versions", [&](SensorSession& sensor, CliReporter&) {
        const std::vector<std::string> versions = sensor.Model().RuskoVersions();
        const std::string pbl = sensor.Model().PblVersion();
        PrintPairs(context, {{"bmb_fpga", versions.at(0)},
                             {"tmb_fpga", versions.at(1)},
                             {"bmb_mcu", versions.at(2)},
                             {"pbl", pbl}});
    });
}

int SerialNumber(CliContext& context) {
    RequireArgs(context, 0, 0);
    return RunModelOperation(context, "serial-number", [&](SensorSession& sensor, CliReporter&) {
        std::string number;
        const int result = sensor.Model().SerialNumber(number);
        if (result != 0) {
            throw CliFailure(ExitCode::kRefused, "the sensor gave no valid serial number (result " +
                                                     std::to_string(result) + ")");
        }
        PrintPairs(context, {{"serial_number", number}});
    });
}

int Calibration(CliContext& context) {
    RequireArgs(context, 0, 0);
    if (context.options.out.empty())
        throw CliFailure(ExitCode::kUsage, "calibration needs --out FILE");
    return RunModelOperation(context, "calibration", [&](SensorSession& sensor, CliReporter&) {
        // Failures are already in the reporter's error text; the file is only renamed into
        // place once whole, so a failure leaves no partial file behind.
        if (sensor.Model().Correction(context.options.out) == 0)
            context.out << "calibration data saved to " << context.options.out << "\n";
    });
}

}  // namespace cli
