#pragma once
// The virtual sensor's serial command side: answers "$LDCMD," request frames with "$LDACK,"
// replies laid out as a Minka/Rusko sensor lays them out (change mode, firmware versions, serial
// number, calibration data, function safety, IMU range, upgrade request) and keeps what is set.
// Used by the pty lines and by the CMX 0xFF tunnel alike; all calls are thread-safe.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace krell {
namespace lidar {
namespace sim {

class SerialResponder {
public:
    static constexpr uint8_t kChangeModeCmd = 3;
    static constexpr uint8_t kQueryCmd = 2;
    static constexpr uint8_t kVersionQuery = 0x0F;
    static constexpr uint8_t kSerialNumberQuery = 0x0A;
    static constexpr uint8_t kCalibrationQuery = 0x07;
    static constexpr uint8_t kFunctionSafetyQuery = 0x08;
    static constexpr uint8_t kImuRangeQuery = 0x0B;
    static constexpr uint8_t kUpgradeRequest = 0x05;
    static constexpr uint8_t kStatusOk = 0;
    static constexpr uint8_t kStatusRefused = 1;
    static constexpr size_t kVersionBytes = 24;
    static constexpr size_t kSerialNumberBytes = 32;

    //! Faults applied to every reply; all off by default.
    struct Faults {
        bool no_reply = false;     //!< drop requests silently
        bool bad_crc = false;      //!< flip one CRC bit
        size_t garbage_bytes = 0;  //!< stray bytes written before the reply
        uint32_t delay_ms = 0;     //!< pause before the reply leaves
    };

    //! What the sensor holds; tests read it back to see what a request changed.
    struct State {
        uint8_t mode = 0;
        uint8_t partition = 1;
        uint8_t spin_rate = 10;
        uint8_t return_mode = 8;
        bool standby = false;
        uint8_t imu_angular_code = 0;
        uint8_t imu_acceleration_code = 0;
        uint8_t upgrade_type = 0;
        uint32_t serial_baud = 3125000;
        std::string serial_number = "KR0000MINKA0001";
        std::vector<uint8_t> calibration;
        uint8_t safety_state = 0;
        std::vector<uint16_t> safety_codes;
        uint32_t requests = 0;
    };

    SerialResponder();

    //! Answers one complete request frame. Returns the reply frame (with any garbage bytes in
    //! front), or nothing for an invalid request or with the no-reply fault.
    std::vector<uint8_t> Answer(const std::vector<uint8_t>& request);

    //! A copy of the current state. Any thread.
    State Snapshot() const;
    void SetFaults(const Faults& faults);
    Faults CurrentFaults() const;
    void SetSerialBaud(uint32_t baud);
    //! The application partition the mode-change reply reports as running (0 A, else B).
    void SetPartition(uint8_t partition);
    void SetCalibration(std::vector<uint8_t> data);
    void SetFunctionSafety(uint8_t state, std::vector<uint16_t> codes);
    //! The serial number reported (cut to its 32 bytes, zero-padded).
    void SetSerialNumber(std::string number);

    //! The 24 version bytes a selector reports (0 BMB FPGA, 1 TMB FPGA, 2 BMB MCU, 5 PBL); empty for
    //! other selectors.
    static std::vector<uint8_t> VersionBytes(uint8_t selector);

private:
    std::vector<uint8_t> Dispatch(uint8_t cmd, const std::vector<uint8_t>& payload);
    std::vector<uint8_t> ChangeMode(const std::vector<uint8_t>& payload);
    std::vector<uint8_t> Query(const std::vector<uint8_t>& payload);

    mutable std::mutex mutex_;  // guards state_ and faults_
    State state_;
    Faults faults_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
