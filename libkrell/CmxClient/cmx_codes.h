#pragma once
// The CMX vocabulary shared by the client, the manager and the virtual sensor: frame identifier
// bytes, the command codes the programs themselves send (every other code comes from a variable
// table), the field-of-view layout and the client's result codes. One home, so that the product
// and its simulator cannot drift apart.

#include <cstddef>
#include <cstdint>

namespace krell {
namespace lidar {

// Frame identifier bytes ("Gt" for CMX 1.0, "Wu" for CMX 2.0) and the 2.0 protocol byte.
constexpr uint8_t kCmx1Id0 = 0x47;
constexpr uint8_t kCmx1Id1 = 0x74;
constexpr uint8_t kCmx2Id0 = 0x57;
constexpr uint8_t kCmx2Id1 = 0x75;
constexpr uint8_t kCmx2ProtocolByte = 0x01;

// Command codes.
//! Connection probe: device information.
constexpr uint8_t kCmdProbeInfo = 0x07;
//! Connection probe: network settings (bytes 12..17 carry the point-data destination).
constexpr uint8_t kCmdProbeNetwork = 0x08;
//! Restart; the sensor drops the connection.
constexpr uint8_t kCmdRestart = 0x10;
//! Point-data destination: IP address, port and second port (u16 big-endian each).
constexpr uint8_t kCmdSetDestination = 0x20;
//! Applies the network settings; a save sends it after every other set command.
constexpr uint8_t kCmdApplyNetwork = 0x21;
//! Field of view: write (0x22) and read (0x23).
constexpr uint8_t kCmdSetFov = 0x22;
constexpr uint8_t kCmdGetFov = 0x23;
//! Reset to factory settings; the sensor drops the connection.
constexpr uint8_t kCmdReset = 0x25;
//! Configuration-file request.
constexpr uint8_t kCmdConfigFile = 0x74;
//! File-stream firmware upgrade: the command the shipped variable tables name for it.
constexpr uint8_t kCmdFileStreamUpgrade = 0x83;
//! Tunnel: serial frames, OTA frames, line speed and operation logs behind a 4-byte prefix.
constexpr uint8_t kCmdTunnel = 0xFF;

// Field of view: mode byte, channel slots and angle unit of the 0x22/0x23 payloads.
constexpr uint8_t kFovModeSingle = 0;
constexpr uint8_t kFovModeMulti = 3;
//! Channel slots of a mode-3 reply (always five, whatever its channel count).
constexpr size_t kFovChannels = 5;
//! Mode 0: mode byte, start and end angle (u16 big-endian each).
constexpr size_t kFovSingleBytes = 5;
//! Mode 3: mode byte, channel count, then start and end angle per channel slot.
constexpr size_t kFovMultiReplyBytes = 2 + 4 * kFovChannels;
//! Angles travel as tenths of a degree.
constexpr float kFovUnitDeg = 0.1f;

// Results of CmxClient::QueryCommand and the client's last return code. A positive last return
// code (1..255) is the sensor's own code from a rejected reply header.
constexpr int32_t kCmxOk = 0;
constexpr int32_t kCmxFailed = -1;
constexpr int32_t kCmxHeaderNotRead = -2;
constexpr int32_t kCmxPayloadNotRead = -3;
constexpr int32_t kCmxRequestNotSent = -4;

// Firmware streaming (CmxClient and SerialClient upgrade routes).
//! A command text of exactly this many characters ("0x83") names the command itself; any other
//! spelling ("0x0083") sends command 0xFF behind the prefix 00 00 00 <low byte>.
constexpr size_t kFileStreamPlainCommandChars = 4;
//! Both time-outs while file-stream frames travel: the sensor writes flash between frames.
constexpr uint32_t kFileStreamTimeoutMs = 60000;
//! Both time-outs while the components of a packaged upgrade travel.
constexpr uint32_t kComponentTimeoutMs = 30000;
//! Pause between the mode change and the second line-speed change of a tunnelled upgrade.
constexpr uint32_t kTunnelModeSwitchPauseMs = 3000;
//! Upgrade modes: application and FPGA; every other value upgrades the boot loader (PBL).
constexpr int32_t kUpgradeModeApp = 0;
//! ChangeMode argument that puts the sensor into upgrade mode.
constexpr uint8_t kUpgradeChangeMode = 0x04;

// Results of the upgrade routes. A positive result is the status byte with which the sensor
// refused a frame.
constexpr int32_t kUpgradeOk = 0;
constexpr int32_t kUpgradeFailed = -1;
constexpr int32_t kUpgradeInvalidReply = -2;
constexpr int32_t kUpgradeNoReply = -3;
constexpr int32_t kUpgradePortNotReopened = -5;
constexpr int32_t kUpgradePblWhilePbl = -6;
constexpr int32_t kUpgradeWrongReadyAck = -7;
//! A frame answered with another reply type but status 0: refused all the same.
constexpr int32_t kUpgradeFrameRefused = -8;
//! An empty image: there is nothing a sensor could boot.
constexpr int32_t kUpgradeEmptyImage = -9;

}  // namespace lidar
}  // namespace krell
