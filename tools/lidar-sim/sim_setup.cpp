#include "tools/lidar-sim/sim_setup.h"

#include "tools/lidar-sim/builtin_handlers.h"
#include "tools/lidar-sim/info_packets.h"
#include "tools/lidar-sim/sim_maintenance.h"

namespace krell {
namespace lidar {
namespace sim {

SimSetup SetUpSimulator(SimDevice& device, const std::string& model, SerialSide& serial,
                        const SerialSideOptions& serial_options) {
    SimSetup setup;
    RegisterBuiltinHandlers(device, model);
    // The serial side registers its 0xFF handler first: the table's handler, installed after it,
    // answers the tunnel prefixes the table names and passes every other one on to it. The other
    // way round the serial side would refuse the table's tunnelled commands.
    setup.firmware = std::make_shared<FirmwareSink>();
    if (!serial.Start(device, serial_options, setup.firmware)) {
        setup.error = serial.LastError();
        return setup;
    }
    setup.table_path = TableResponder::FindTable(model);
    if (!setup.table_path.empty()) {
        setup.table = TableResponder::Load(setup.table_path, model, setup.error);
        if (!setup.table) return setup;
        setup.table->Install(device);
        // The RS-485 point packets carry the model's information, as the UDP ones do.
        serial.SetInfoPackets(info_packet::Cycle(*setup.table));
    }
    // In front of the table: it answers the operation log with a short text of its own.
    std::make_shared<SimMaintenance>()->Install(device, model);
    // In front of everything on 0xFF: OTA frames and prefixed file-stream frames are its own.
    setup.firmware->Install(device);
    setup.ok = true;
    return setup;
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
