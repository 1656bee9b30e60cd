#pragma once
// What the DeviceBench benchmarks share: a private home for the files Qt and the manager write,
// an in-process virtual sensor of a table model, the get commands of a set of variables (each
// distinct command and payload once) and a bare CMX client to time them against.

#include <QCoreApplication>
#include <QStandardPaths>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/table/var_info.h"
#include "libkrell/CmxClient/cmx_client.h"
#include "tools/lidar-sim/builtin_handlers.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_server.h"
#include "tools/lidar-sim/table_responder.h"

namespace bench_support {

constexpr uint32_t kTimeoutMs = 2000;
constexpr int kConnectWaitMs = 5000;

struct GetQuery {
    uint8_t code;
    std::vector<uint8_t> payload;
};

//! Points HOME and XDG_CONFIG_HOME at a new folder under /tmp (the settings file and the staged
//! logs stay out of the real home) and makes the program's one QCoreApplication. The folder, or
//! empty when it could not be made. Once per program.
inline std::string IsolateQtHome(const char* program) {
    std::string pattern = std::string("/tmp/") + program + "_XXXXXX";
    if (!mkdtemp(&pattern[0])) return {};
    setenv("HOME", pattern.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (pattern + "/config").c_str(), 1);
    unsetenv("XDG_DOCUMENTS_DIR");
    QStandardPaths::setTestModeEnabled(true);
    static int argc = 1;
    static std::string name = program;
    static char* argv[] = {&name[0], nullptr};
    static QCoreApplication app(argc, argv);
    return pattern;
}

//! The virtual sensor of `model` answering from the variable table at `table_path`.
struct TableSim {
    std::shared_ptr<krell::lidar::sim::SimDevice> device;
    std::shared_ptr<krell::lidar::sim::TableResponder> responder;
    std::unique_ptr<krell::lidar::sim::SimServer> server;

    //! Loads the table and installs it; Serve then starts the loopback server. Between the two
    //! the caller may install more handlers on `device`.
    bool Load(const std::string& table_path, const char* model) {
        device = std::make_shared<krell::lidar::sim::SimDevice>();
        krell::lidar::sim::RegisterBuiltinHandlers(*device, model);
        std::string error;
        responder = krell::lidar::sim::TableResponder::Load(table_path, model, error);
        if (!responder) return false;
        responder->Install(*device);
        return true;
    }
    bool Serve() {
        server = std::make_unique<krell::lidar::sim::SimServer>(device);
        return server->Start(krell::lidar::sim::SimServerOptions{});
    }
    bool Start(const std::string& table_path, const char* model) {
        return Load(table_path, model) && Serve();
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(server->Port()); }
};

//! Adds the get command of `var` to `groups`, keyed so that variables sharing a command and
//! payload count once. Variables without a readable get command are left out.
inline void AddGetQuery(const VarInfo& var, std::map<std::string, GetQuery>& groups) {
    if (var.get_cmd.empty()) return;
    CmxCommand command;
    if (!CmxCommand::FromText(var.get_cmd, command)) return;
    GetQuery query{command.code, command.prefix};
    query.payload.insert(query.payload.end(), var.get_payload_bytes.begin(),
                         var.get_payload_bytes.end());
    groups.emplace(var.get_cmd + var.get_cmd_payload, query);
}

inline std::vector<GetQuery> QueriesOf(const std::map<std::string, GetQuery>& groups) {
    std::vector<GetQuery> queries;
    for (const auto& group : groups)
        queries.push_back(group.second);
    return queries;
}

//! A bare CMX client on the loopback port, waited for until open (at most kConnectWaitMs).
inline std::unique_ptr<krell::lidar::CmxClient> OpenBareClient(uint16_t port,
                                                               uint32_t timeout_ms = kTimeoutMs) {
    auto client = std::make_unique<krell::lidar::CmxClient>("127.0.0.1", port, false, 0, 1, "",
                                                            "", "", timeout_ms, timeout_ms, 2.0f);
    for (int waited = 0; !client->IsOpen() && waited < kConnectWaitMs; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return client;
}

}  // namespace bench_support
