#pragma once
// ModelOperation: the dedicated commands of the Minka and Rusko families (standby, spin rate,
// return mode, function safety, IMU range, serial line speed, point-data destination, firmware
// versions, serial number and calibration data). Serial commands travel over the two serial lines for the serial
// model kind and inside CMX command 0xFF for the serial CMX kind; the line speed and the
// destination are CMX commands and need the serial CMX kind.
//
// Threads: every call runs one or two exchanges on the caller's thread under the link's
// exchange turn; results and failures go to the reporter only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DeviceBenchCore/manager/reporter.h"

class DeviceSession;
namespace krell {
namespace lidar {
class CmxClient;
}  // namespace lidar
}  // namespace krell

class ModelOperation {
public:
    //! Result of a reply of the wrong shape.
    static constexpr int kWrongShape = -2;
    //! Version selectors of the firmware-version query.
    static constexpr uint8_t kBmbFpgaVersion = 0;
    static constexpr uint8_t kTmbFpgaVersion = 1;
    static constexpr uint8_t kBmbMcuVersion = 2;
    static constexpr uint8_t kPblVersion = 5;
    //! Second port of the destination setter; the sensor expects this fixed value.
    static constexpr uint16_t kSecondDestinationPort = 10110;

    ModelOperation(DeviceSession& session, Reporter& reporter);

    void SetStandby(int on);
    void SetSpinRate(int rate);
    void SetReturnMode(int mode);
    //! [state, "0xHHHH", ...]; empty on failure.
    std::vector<std::string> FunctionSafety();
    //! The sensor's serial line speed in decimal; empty on failure.
    std::string GetBaudRate();
    //! True when the sensor took the speed of `text`; `baud` then holds it.
    bool SetBaudRate(const std::string& text, uint32_t& baud);
    //! [IP text, port text]; empty on failure (no message when `silent`).
    std::vector<std::string> GetDestination(bool silent);
    bool SetDestination(const std::string& ip, int port);
    void SetImuRange(int angular_index, int acceleration_index);
    //! Reads the calibration data and writes its bytes, unchanged, to `path`: 0 on success, -1
    //! for every failure ("get calibration error, ret:" + result, or the file message). The
    //! bytes go to a temporary file beside `path` that is renamed into place, so a failed query
    //! or write leaves no partial file and an older file at `path` untouched.
    int Correction(const std::string& path);

    //! Firmware version of `selector` (24 bytes as text, trailing NULs dropped): 0 or the
    //! failure result. The serial model kind asks for the PBL version in mode 1.
    int Version(uint8_t selector, std::string& version);
    //! The PBL version, empty on failure ("get pbl version error, ret:"). The query flag
    //! (QueryingPbl) is announced when it is raised and when it drops.
    std::string PblVersion();
    //! The BMB FPGA, TMB FPGA and BMB MCU versions in that order; "xxxxxxxx" (and a log line)
    //! for each one that could not be read.
    std::vector<std::string> RuskoVersions();
    //! True while the PBL version query runs. Any thread.
    bool QueryingPbl() const { return querying_pbl_.load(); }

    //! The 32-byte serial number as text: 0, the failure result, or 1 (logged) when the text
    //! holds characters outside 32..126.
    int SerialNumber(std::string& number);

    //! Decodes a function-safety reply body; false for a body too short to hold a state.
    static bool DecodeFunctionSafety(const std::vector<uint8_t>& body,
                                     std::vector<std::string>& entries);
    //! The calibration bytes of a reply body: 0, kWrongShape, or the sensor's non-zero status.
    static int DecodeCalibration(const std::vector<uint8_t>& body, std::vector<uint8_t>& data);

private:
    //! Connected, a client of the serial kind present and no upgrade running; otherwise the
    //! not-connected message (ending in "upgrading" when `upgrading_text`).
    bool Ready(bool upgrading_text);
    //! True for the serial CMX kind; otherwise `message` goes to the error window.
    bool RequireCmxKind(const char* message);
    //! Runs `conversation` in the link's exchange turn: its result, or the failure result when
    //! an upgrade took the sensor meanwhile.
    int Exchange(const std::function<int()>& conversation);
    //! Exchange on the CMX client; the failure result when the link has none any more.
    int ExchangeOnCmx(const std::function<int(krell::lidar::CmxClient&)>& conversation);
    //! One serial command on the route of the current kind: 0 with the reply body, or the
    //! route's failure code.
    int Query(uint8_t cmd, const std::vector<uint8_t>& payload, std::vector<uint8_t>& body);
    int ChangeMode(uint8_t mode, uint8_t arg);
    void RunChangeMode(uint8_t mode, uint8_t arg, const char* failure);
    //! Error window and one log line: the call was refused before anything travelled.
    void Refuse(const std::string& text);
    //! Error window and log line "`text`<result>".
    void Fail(const std::string& text, int result);

    DeviceSession& session_;
    Reporter& reporter_;
    std::atomic<bool> querying_pbl_{false};
};
