#pragma once
// The virtual sensor's serial side as the lidar-sim program sets it up: one SerialResponder shared
// by the CMX 0xFF tunnel (always registered) and, with --serial, the two pty lines.
//
// The tunnel operations are those of libkrell/CmxClient/cmx_tunnel.h; any other prefix is
// refused with return code 1.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/lidar-sim/firmware_sink.h"
#include "tools/lidar-sim/point_stream.h"
#include "tools/lidar-sim/serial_line_sim.h"
#include "tools/lidar-sim/serial_responder.h"
#include "tools/lidar-sim/sim_device.h"

namespace krell {
namespace lidar {
namespace sim {

constexpr uint8_t kTunnelRefused = 0x01;

struct SerialSideOptions {
    bool serial_lines = false;    //!< --serial: make the two pty lines
    PointStream::Options stream;  //!< --point-rate, --point-garbage, --point-truncate
};

class SerialSide {
public:
    SerialSide();
    ~SerialSide();
    SerialSide(const SerialSide&) = delete;
    SerialSide& operator=(const SerialSide&) = delete;

    //! Parses one serial option at argv[i] (advancing i past its value). False when argv[i] is not
    //! a serial option or its value is malformed.
    static bool ParseOption(int argc, char** argv, int& i, SerialSideOptions& options);

    //! Usage lines of the serial options.
    static const char* Usage();

    //! Registers the 0xFF tunnel on `device`, replacing any 0xFF handler there (handlers that pass
    //! requests on to it, such as TableResponder::Install, come after), and, when asked, opens the
    //! pty lines. False (with LastError) when a pty could not be made.
    //! OTA frames on the pty lines go to `firmware` (may be null).
    bool Start(SimDevice& device, const SerialSideOptions& options,
               std::shared_ptr<FirmwareSink> firmware = nullptr);

    //! Stops the pty lines. Idempotent.
    void Stop();

    //! The shared command side (tests set faults and read state through it).
    SerialResponder& Responder() { return *responder_; }

    //! The information fields the RS-485 point packets carry (no effect without the pty lines).
    void SetInfoPackets(std::vector<std::vector<uint8_t>> packets);

    //! Names of the pty slave ends; empty without --serial.
    std::string UartName() const;
    std::string Rs485Name() const;
    const std::string& LastError() const { return last_error_; }

    //! The 0xFF tunnel handler over `responder`, for devices set up without this class.
    static CommandHandler TunnelHandler(std::shared_ptr<SerialResponder> responder);

private:
    std::shared_ptr<SerialResponder> responder_;
    std::unique_ptr<SerialLineSim> lines_;
    std::string last_error_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
