// lidar-sim: the virtual sensor as a program. Serves the CMX command port until SIGINT/SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "tools/lidar-sim/serial_side.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_server.h"
#include "tools/lidar-sim/info_packets.h"
#include "tools/lidar-sim/sim_setup.h"
#include "tools/lidar-sim/udp_info_sender.h"
#include "tools/lidar-sim/upgrade_faults.h"

namespace {

using krell::lidar::sim::SerialSide;
using krell::lidar::sim::SerialSideOptions;
using krell::lidar::sim::SimFaults;
using krell::lidar::sim::SimServerOptions;
using krell::lidar::sim::UdpInfoOptions;
using krell::lidar::sim::UdpInfoSender;

struct Settings {
    std::string model = "Corvel";
    SimServerOptions server;
    SimFaults faults;
    std::string port_file;
    SerialSideOptions serial;
    krell::lidar::sim::UpgradeFaults upgrade;
    UdpInfoOptions udp;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: lidar-sim [--model NAME] [--tcp IP:PORT] [--tls CERT KEY CA|-]\n"
                 "                 [--port-file PATH] [--delay-ms N] [--no-reply] [--garbage N]\n"
                 "                 [--wrong-cmd] [--ret-code N] [--truncate N]\n"
                 "                 [--close-after-header]\n"
                 "%s%s%s"
                 "PORT 0 picks a free port; --port-file writes the port chosen.\n",
                 SerialSide::Usage(), krell::lidar::sim::UpgradeFaults::Usage(),
                 UdpInfoSender::Usage());
}

bool ParseEndpoint(const std::string& text, SimServerOptions& options) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    char* end = nullptr;
    const unsigned long port = std::strtoul(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port > 65535 || colon + 1 == text.size()) {
        return false;
    }
    options.bind_ip = text.substr(0, colon);
    options.port = static_cast<uint16_t>(port);
    return true;
}

bool ParseCount(const char* text, uint32_t& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0' || parsed > 0xFFFFFFFFul) {
        return false;
    }
    value = static_cast<uint32_t>(parsed);
    return true;
}

// Options with one numeric value.
bool ParseNumericOption(const std::string& arg, const char* value, SimFaults& faults) {
    uint32_t number = 0;
    if (!ParseCount(value, number)) {
        return false;
    }
    if (arg == "--delay-ms") {
        faults.reply_delay_ms = number;
    } else if (arg == "--garbage") {
        faults.garbage_bytes = number;
    } else if (arg == "--ret-code" && number <= 255) {
        faults.return_code = static_cast<uint8_t>(number);
    } else if (arg == "--truncate") {
        faults.truncate_payload_bytes = number;
    } else {
        return false;
    }
    return true;
}

bool ParseArgs(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--model" && has_value) {
            settings.model = argv[++i];
        } else if (arg == "--tcp" && has_value) {
            if (!ParseEndpoint(argv[++i], settings.server)) return false;
        } else if (arg == "--tls" && i + 3 < argc) {
            settings.server.tls = true;
            settings.server.cert_path = argv[++i];
            settings.server.key_path = argv[++i];
            const std::string ca = argv[++i];
            settings.server.ca_path = ca == "-" ? "" : ca;
        } else if (arg == "--port-file" && has_value) {
            settings.port_file = argv[++i];
        } else if (arg == "--no-reply") {
            settings.faults.no_reply = true;
        } else if (arg == "--wrong-cmd") {
            settings.faults.wrong_command = true;
        } else if (arg == "--close-after-header") {
            settings.faults.close_after_header = true;
        } else if (SerialSide::ParseOption(argc, argv, i, settings.serial)) {
        } else if (UdpInfoSender::ParseOption(argc, argv, i, settings.udp)) {
        } else if (krell::lidar::sim::UpgradeFaults::ParseOption(argc, argv, i,
                                                                 settings.upgrade)) {
        } else if (has_value && ParseNumericOption(arg, argv[i + 1], settings.faults)) {
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        Usage();
        return 0;
    }
    Settings settings;
    if (!ParseArgs(argc, argv, settings)) {
        Usage();
        return 2;
    }
    // Block the stop signals before any thread starts so that only sigwait below receives them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    auto device = std::make_shared<krell::lidar::sim::SimDevice>();
    SerialSide serial_side;
    const krell::lidar::sim::SimSetup setup =
        krell::lidar::sim::SetUpSimulator(*device, settings.model, serial_side, settings.serial);
    if (!setup.ok) {
        std::fprintf(stderr, "lidar-sim: %s\n", setup.error.c_str());
        return 1;
    }
    if (setup.table) {
        std::printf("lidar-sim: answering the commands of %s\n", setup.table_path.c_str());
    }
    setup.firmware->SetFaults(settings.upgrade);
    krell::lidar::sim::SimServer server(device);
    server.SetFaults(settings.faults);
    if (!server.Start(settings.server)) {
        std::fprintf(stderr, "lidar-sim: %s\n", server.LastError().c_str());
        return 1;
    }
    if (!settings.port_file.empty()) {
        // Written under a temporary name and renamed, so a reader never sees a partial number.
        const std::string partial = settings.port_file + ".partial";
        std::ofstream(partial) << server.Port() << "\n";
        std::rename(partial.c_str(), settings.port_file.c_str());
    }
    std::printf("lidar-sim: model %s serving CMX on %s:%u (%s)\n", settings.model.c_str(),
                settings.server.bind_ip.c_str(), static_cast<unsigned>(server.Port()),
                settings.server.tls ? "tls" : "tcp");
    if (settings.serial.serial_lines) {
        std::printf("lidar-sim: serial UART line %s\n", serial_side.UartName().c_str());
        std::printf("lidar-sim: serial RS-485 line %s\n", serial_side.Rs485Name().c_str());
    }
    UdpInfoSender udp_sender;
    if (!settings.udp.ip.empty()) {
        if (!setup.table ||
            !udp_sender.Start(settings.udp, krell::lidar::sim::info_packet::Cycle(*setup.table))) {
            std::fprintf(stderr, "lidar-sim: %s\n",
                         setup.table ? udp_sender.LastError().c_str()
                                     : "the model has no variable table for information packets");
            server.Stop();
            serial_side.Stop();
            return 1;
        }
        std::printf("lidar-sim: information packets to %s:%u\n", settings.udp.ip.c_str(),
                    static_cast<unsigned>(settings.udp.port));
    }
    std::fflush(stdout);
    int received = 0;
    sigwait(&stop_signals, &received);
    udp_sender.Stop();
    server.Stop();
    serial_side.Stop();
    std::printf("lidar-sim: stopped (%llu requests)\n",
                static_cast<unsigned long long>(server.RequestCount()));
    return 0;
}
