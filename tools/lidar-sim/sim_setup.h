#pragma once
// The handler set of the lidar-sim program, in one place so that the program and its tests
// install exactly the same composition.

#include <memory>
#include <string>

#include "tools/lidar-sim/firmware_sink.h"
#include "tools/lidar-sim/serial_side.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/table_responder.h"

namespace krell {
namespace lidar {
namespace sim {

//! What SetUpSimulator installed.
struct SimSetup {
    bool ok = false;
    std::string error;                      //!< why not ok
    std::string table_path;                 //!< empty when the model has no variable table
    std::shared_ptr<TableResponder> table;  //!< null without a table; also held by the handlers
    std::shared_ptr<FirmwareSink> firmware;  //!< the firmware side; also held by the handlers
};

//! Installs on `device` the built-in probes and field of view for `model`, the serial side
//! (0xFF tunnel, and the pty lines when `serial_options` asks) and the model's variable table
//! when one is found. Tunnelled table commands are answered by the table; every other 0xFF
//! request goes on to the serial side. Not ok (with `error`) when the table does not load or a pty
//! cannot be made. Call before the device serves requests; `serial` must outlive the device's use.
SimSetup SetUpSimulator(SimDevice& device, const std::string& model, SerialSide& serial,
                        const SerialSideOptions& serial_options);

}  // namespace sim
}  // namespace lidar
}  // namespace krell
