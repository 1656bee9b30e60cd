#pragma once
// The virtual sensor's serial side as the lidar-sim program sets it up: one SerialResponder shared
// by the CMX 0xFF tunnel (always registered) and, with --serial, the two pty lines.
//
// Tunnel operations of command 0xFF (payload = 4-byte operation prefix + rest):
//   00 00 01 38  a serial request frame; the reply payload is the prefix + the serial reply frame
//   00 00 01 39  set the serial line speed (u32 big-endian); the reply is the prefix
//   00 00 01 3A  get the serial line speed; the reply is the prefix + u32 big-endian
// Any other prefix is refused with return code 1.

#include <cstdint>
#include <memory>
#include <string>

#include "tools/lidar-sim/point_stream.h"
#include "tools/lidar-sim/serial_line_sim.h"
#include "tools/lidar-sim/serial_responder.h"
#include "tools/lidar-sim/sim_device.h"

namespace krell {
namespace lidar {
namespace sim {

constexpr uint8_t kCmdSerialTunnel = 0xFF;
constexpr uint8_t kTunnelRefused = 0x01;

struct SerialSideOptions {
  bool serial_lines = false;        //!< --serial: make the two pty lines
  PointStream::Options stream;      //!< --point-rate, --point-garbage, --point-truncate
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

  //! Registers the 0xFF tunnel on `device` and, when asked, opens the pty lines. False (with
  //! LastError) when a pty could not be made.
  bool Start(SimDevice& device, const SerialSideOptions& options);

  //! Stops the pty lines. Idempotent.
  void Stop();

  //! The shared command side (tests set faults and read state through it).
  SerialResponder& Responder() { return *responder_; }

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
