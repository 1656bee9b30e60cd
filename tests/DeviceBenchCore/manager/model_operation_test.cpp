// The Minka and Rusko operations against the virtual sensor: every read and set on the serial
// lines (the "Minka" model) and through the CMX tunnel (the serial CMX models), the sensor
// keeping what was set, and the exact payloads of the awkward cases.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <QDir>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <thread>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/model_operation.h"
#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/CmxClient/cmx_tunnel.h"
#include "libkrell/Frame/serial_frame.h"
#include "tests/DeviceBenchCore/manager/manager_fixture.h"
#include "tests/DeviceBenchCore/manager/upgrade_fixture.h"
#include "tests/support/temp_dir.h"
#include "tools/lidar-sim/serial_responder.h"

namespace krell {
namespace test {
namespace {

using lidar::sim::SerialResponder;
using Bytes = std::vector<uint8_t>;

const char* const kFileFailure = "create calibration file fail, save correction file error";

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

//! Names in `dir` besides "." and "..", hidden ones included (a temporary file left behind).
QStringList Entries(const std::string& dir) {
    return QDir(QString::fromStdString(dir)).entryList(QDir::AllEntries | QDir::Hidden |
                                                       QDir::NoDotAndDotDot);
}

//! Makes every write past `bytes` of a file fail with EFBIG while it lives, even for root,
//! for whom no folder is read-only.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit old_{};
    sighandler_t old_handler_;
};

class RecordingReporter : public Reporter {
public:
    void Log(const std::string& text, const std::string&) override { Add(logs, text); }
    void Error(const std::string& text) override { Add(errors, text); }
    void Success(const std::string& text) override { Add(successes, text); }
    void Notify(ManagerEvent event, const std::string&) override {
        if (event != ManagerEvent::kPblQueryChanged) return;
        std::lock_guard<std::mutex> lock(mutex);
        pbl_flags.push_back(on_notify ? on_notify() : false);
    }
    std::string LastError() const {
        std::lock_guard<std::mutex> lock(mutex);
        return errors.empty() ? std::string() : errors.back();
    }

    mutable std::mutex mutex;
    std::vector<std::string> logs, errors, successes;
    //! The PBL query flag as each of its announcements saw it.
    std::vector<bool> pbl_flags;
    std::function<bool()> on_notify;

private:
    void Add(std::vector<std::string>& list, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        list.push_back(text);
    }
};

//! The sensor of one model and a session joined to it the way a connection joins it, without a
//! manager, so that the operation's own calls (versions, serial number) can be made directly.
class ModelOperationTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        lidar::sim::SerialSideOptions options;
        options.serial_lines = Serial();
        setup_ = lidar::sim::SetUpSimulator(*device_, GetParam(), side_, options);
        ASSERT_TRUE(setup_.ok) << setup_.error;
        RecordTunnel();
        server_ = std::make_unique<lidar::sim::SimServer>(device_);
        ASSERT_TRUE(server_->Start(lidar::sim::SimServerOptions{}));
        Serial() ? JoinSerial() : JoinCmx();
        session_.link.connected = true;
    }
    void TearDown() override {
        session_.link.SetCmx(nullptr);
        session_.link.SetSerial(nullptr, nullptr, nullptr);
        if (server_) server_->Stop();
        side_.Stop();
    }

    bool Serial() const { return GetParam() == "Minka"; }
    SerialResponder& Sensor() { return side_.Responder(); }
    //! The tunnel payloads the sensor received, in order.
    std::vector<Bytes> Tunnelled() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return tunnelled_;
    }
    //! The serial command payload of the last tunnelled serial frame.
    Bytes LastSerialPayload() const {
        const std::vector<Bytes> all = Tunnelled();
        if (all.empty() || all.back().size() < 19 + 4) return {};
        const Bytes& frame = all.back();
        const size_t length = frame[4 + 7];  // payload + 1
        return Bytes(frame.begin() + 4 + 9, frame.begin() + 4 + 8 + length);
    }

    //! From now on the tunnel answers every serial frame with a reply carrying `data` after the
    //! echoed command 2.
    void AnswerQueriesWith(const Bytes& data) {
        device_->SetHandler(lidar::kCmdTunnel, [data](const lidar::sim::SimRequest&) {
            lidar::sim::SimReply reply;
            reply.payload = lidar::TunnelPrefix(lidar::kTunnelOpSerialFrame);
            lidar::SerialFrame::Layout layout;
            layout.length_bias = 0;
            const Bytes frame = lidar::SerialFrame::Encode(lidar::SerialFrame::kReplyTag, 2,
                                                           data.data(), data.size(), layout);
            reply.payload.insert(reply.payload.end(), frame.begin(), frame.end());
            return reply;
        });
    }

    DeviceSession session_;
    RecordingReporter reporter_;
    ModelOperation operation_{session_, reporter_};
    std::shared_ptr<lidar::sim::SimDevice> device_ = std::make_shared<lidar::sim::SimDevice>();

private:
    void RecordTunnel() {
        lidar::sim::CommandHandler inner = device_->HandlerFor(lidar::kCmdTunnel);
        device_->SetHandler(lidar::kCmdTunnel, [this, inner](const lidar::sim::SimRequest& r) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                tunnelled_.push_back(r.payload);
            }
            return inner(r);
        });
    }
    void JoinSerial() {
        auto rs485 = std::make_shared<lidar::SerialSource>(side_.Rs485Name(), 921600, 3000000);
        auto uart = std::make_shared<lidar::SerialSource>(side_.UartName(), 115200, 3125000);
        ASSERT_TRUE(rs485->Open());
        ASSERT_TRUE(uart->Open());
        auto client = std::make_shared<lidar::SerialClient>();
        client->Init(uart, rs485);
        session_.link.SetSerial(rs485, uart, client);
        session_.link.kind = Link::kKindMinkaSerial;
    }
    void JoinCmx() {
        auto client = std::make_shared<lidar::CmxClient>("127.0.0.1", server_->Port(), false, 0,
                                                         1, "", "", "", 1000, 1000, 2.0f);
        for (int i = 0; i < 300 && !client->IsOpen(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(client->IsOpen());
        session_.link.SetCmx(client);
        session_.link.kind = Link::kKindSerialCmx;
    }

    lidar::sim::SerialSide side_;
    lidar::sim::SimSetup setup_;
    std::unique_ptr<lidar::sim::SimServer> server_;
    mutable std::mutex mutex_;  // guards tunnelled_
    std::vector<Bytes> tunnelled_;
};

TEST_P(ModelOperationTest, ChangeModeSettersReachTheSensor) {
    operation_.SetStandby(1);
    EXPECT_TRUE(Sensor().Snapshot().standby);
    EXPECT_EQ(Sensor().Snapshot().mode, 11);
    operation_.SetStandby(0);
    EXPECT_FALSE(Sensor().Snapshot().standby);
    EXPECT_EQ(Sensor().Snapshot().mode, 0);
    operation_.SetSpinRate(0x114);  // only the low byte travels
    EXPECT_EQ(Sensor().Snapshot().spin_rate, 0x14);
    operation_.SetReturnMode(3);
    EXPECT_EQ(Sensor().Snapshot().return_mode, 9);
    operation_.SetReturnMode(0);
    EXPECT_EQ(Sensor().Snapshot().return_mode, 8);
    EXPECT_TRUE(reporter_.errors.empty()) << reporter_.LastError();
    if (!Serial()) {
        EXPECT_EQ(LastSerialPayload(), (Bytes{8, 0}));
    }
}

TEST_P(ModelOperationTest, StandbyOnSendsModeElevenWithArgumentZero) {
    if (Serial()) GTEST_SKIP() << "the payload is seen on the tunnel";
    operation_.SetStandby(1);
    EXPECT_EQ(LastSerialPayload(), (Bytes{11, 0}));
}

TEST_P(ModelOperationTest, FunctionSafetyDecodesStateAndCodes) {
    Sensor().SetFunctionSafety(1, {0x1234});
    EXPECT_EQ(operation_.FunctionSafety(), (std::vector<std::string>{"Warning", "0x1234"}));
    Sensor().SetFunctionSafety(7, {0x00AB, 0xFFFF});
    EXPECT_EQ(operation_.FunctionSafety(),
              (std::vector<std::string>{"7", "0x00AB", "0xFFFF"}));
    Sensor().SetFunctionSafety(0, {});
    EXPECT_EQ(operation_.FunctionSafety(), (std::vector<std::string>{"Normal"}));
}

TEST_P(ModelOperationTest, VersionsAndSerialNumberRead) {
    for (uint8_t selector : {0, 1, 2, 5}) {
        std::string version;
        ASSERT_EQ(operation_.Version(selector, version), 0) << int(selector);
        const Bytes expected = SerialResponder::VersionBytes(selector);
        EXPECT_EQ(version, std::string(reinterpret_cast<const char*>(expected.data())));
    }
    // The PBL query leaves the sensor back in the client's mode.
    EXPECT_EQ(Sensor().Snapshot().mode, 0);
    std::string version;
    EXPECT_EQ(operation_.Version(3, version), 1);  // refused selector: the sensor's status
    Sensor().SetSerialNumber("ABC");
    std::string number;
    ASSERT_EQ(operation_.SerialNumber(number), 0);
    EXPECT_EQ(number, "ABC");
    EXPECT_TRUE(reporter_.logs.empty());
    Sensor().SetSerialNumber("AB\x01");
    number = "xxxxxxxx";
    EXPECT_NE(operation_.SerialNumber(number), 0);
    EXPECT_EQ(number, "xxxxxxxx");
    ASSERT_EQ(reporter_.logs.size(), 1u);
    EXPECT_EQ(reporter_.logs[0], "Minka-CMX SN invalid after validation");
}

// A reply that stops at its header (or at its state byte) must not have its status read as the
// state or its end read past.
TEST_P(ModelOperationTest, FunctionSafetyRepliesShorterThanTheirHeaderAreRefused) {
    if (Serial()) GTEST_SKIP() << "the short replies are made on the tunnel";
    for (const Bytes& data : {Bytes{0x08, 0xA1, 0x00}, Bytes{0x08, 0xA1}, Bytes{0x08}}) {
        AnswerQueriesWith(data);
        EXPECT_TRUE(operation_.FunctionSafety().empty()) << data.size();
        EXPECT_EQ(reporter_.LastError(), "get function safety error, ret:-2");
    }
    AnswerQueriesWith({0x08, 0xA1, 0x02, 0x00});  // state only, then the status
    EXPECT_EQ(operation_.FunctionSafety(), (std::vector<std::string>{"Shutdown"}));
    AnswerQueriesWith({0x08, 0xA1, 0x00, 0x34, 0x00});  // an odd byte left is no code
    EXPECT_EQ(operation_.FunctionSafety(), (std::vector<std::string>{"Normal"}));
    AnswerQueriesWith({0x08, 0xA1, 0x00, 0x03});  // a non-zero status is the result
    EXPECT_TRUE(operation_.FunctionSafety().empty());
    EXPECT_EQ(reporter_.LastError(), "get function safety error, ret:3");
}

// Version and serial-number replies cut before their data are refused the same way.
TEST_P(ModelOperationTest, VersionAndSerialRepliesShorterThanTheirDataAreRefused) {
    if (Serial()) GTEST_SKIP() << "the short replies are made on the tunnel";
    std::string text = "kept";
    AnswerQueriesWith({0x0F, 0x00, 'V', 0x00});
    EXPECT_EQ(operation_.Version(0, text), ModelOperation::kWrongShape);
    AnswerQueriesWith({0x0A, 0x01, 'S', 0x00});
    EXPECT_EQ(operation_.SerialNumber(text), ModelOperation::kWrongShape);
    AnswerQueriesWith({0x03});
    operation_.SetStandby(1);
    EXPECT_EQ(reporter_.LastError(), "set lidar mode error, ret:-2");
    EXPECT_EQ(text, "kept");
}

TEST_P(ModelOperationTest, PblQueryIsAnnouncedAroundItAndRuskoVersionsReadInOrder) {
    reporter_.on_notify = [this] { return operation_.QueryingPbl(); };
    EXPECT_EQ(operation_.PblVersion(), "PBL 1.0.3");
    EXPECT_EQ(reporter_.pbl_flags, (std::vector<bool>{true, false}));
    EXPECT_EQ(operation_.RuskoVersions(),
              (std::vector<std::string>{"BMB-FPGA 2.4.1", "TMB-FPGA 2.4.0", "BMB-MCU 1.9.7"}));
    if (Serial()) return;
    AnswerQueriesWith({0x0F});  // a reply with no version in it
    EXPECT_EQ(operation_.PblVersion(), "");
    EXPECT_EQ(reporter_.LastError(), "get pbl version error, ret:-2");
    EXPECT_EQ(operation_.RuskoVersions(),
              (std::vector<std::string>(3, "xxxxxxxx")));
    ASSERT_GE(reporter_.logs.size(), 3u);
    EXPECT_EQ(reporter_.logs.back(), "Failed to get BMB MCU version, ret:-2");
    EXPECT_FALSE(operation_.QueryingPbl());
}

TEST_P(ModelOperationTest, ImuRangeSetsTheCodesOrRefusesBadIndices) {
    operation_.SetImuRange(5, 3);
    if (Serial()) {
        EXPECT_EQ(reporter_.LastError(),
                  "Rusko IMU range setting is only supported in CMX_SERIAL mode");
        return;
    }
    EXPECT_EQ(LastSerialPayload(), (Bytes{0x0B, 0x08, 0x03}));
    EXPECT_EQ(Sensor().Snapshot().imu_angular_code, 0x08);
    EXPECT_EQ(Sensor().Snapshot().imu_acceleration_code, 3);
    EXPECT_EQ(reporter_.successes.back(), "IMU range set successfully");
    const size_t sent = Tunnelled().size();
    operation_.SetImuRange(6, 0);
    EXPECT_EQ(reporter_.LastError(), "Invalid angular range index");
    operation_.SetImuRange(0, 4);
    EXPECT_EQ(reporter_.LastError(), "Invalid acceleration range index");
    EXPECT_EQ(Tunnelled().size(), sent);
}

TEST_P(ModelOperationTest, LineSpeedRoundTrip) {
    uint32_t baud = 0;
    if (Serial()) {
        EXPECT_EQ(operation_.GetBaudRate(), "");
        EXPECT_EQ(reporter_.LastError(), "GetBaudRate is only supported in CMX serial mode");
        EXPECT_FALSE(operation_.SetBaudRate("115200", baud));
        EXPECT_EQ(reporter_.LastError(), "SetBaudRate is only supported in CMX serial mode");
        return;
    }
    EXPECT_EQ(operation_.GetBaudRate(), "3125000");
    ASSERT_TRUE(operation_.SetBaudRate("115200", baud));
    EXPECT_EQ(baud, 115200u);
    EXPECT_EQ(Tunnelled().back(), (Bytes{0x00, 0x00, 0x01, 0x39, 0x00, 0x01, 0xC2, 0x00}));
    EXPECT_EQ(operation_.GetBaudRate(), "115200");
    const size_t sent = Tunnelled().size();
    for (const char* bad : {"0", "abc", "", "-5", "99999999999"}) {
        EXPECT_FALSE(operation_.SetBaudRate(bad, baud)) << bad;
        EXPECT_EQ(reporter_.LastError(), "invalid baud rate value");
    }
    EXPECT_EQ(Tunnelled().size(), sent);
}

TEST_P(ModelOperationTest, DestinationRoundTrip) {
    if (Serial()) {
        EXPECT_TRUE(operation_.GetDestination(false).empty());
        EXPECT_EQ(reporter_.LastError(),
                  "GetDestinationConfig is only supported in CMX serial mode");
        return;
    }
    const std::vector<std::string> before = operation_.GetDestination(false);
    ASSERT_EQ(before.size(), 2u);
    ASSERT_TRUE(operation_.SetDestination("127.0.0.9", 2400));
    EXPECT_EQ(reporter_.successes.back(), "set destination IP and port successful");
    EXPECT_EQ(operation_.GetDestination(false), (std::vector<std::string>{"127.0.0.9", "2400"}));
}

TEST_P(ModelOperationTest, NothingTravelsWhileNotConnectedOrUpgrading) {
    session_.link.upgrading = true;
    operation_.SetStandby(1);
    EXPECT_EQ(reporter_.LastError(), "lidar is not connected, or lidar is upgrade");
    session_.link.upgrading = false;
    session_.link.connected = false;
    EXPECT_TRUE(operation_.FunctionSafety().empty());
    EXPECT_EQ(reporter_.LastError(), "lidar is not connected, or lidar is upgrade");
    if (!Serial()) {
        EXPECT_EQ(operation_.GetBaudRate(), "");
        EXPECT_EQ(reporter_.LastError(), "lidar is not connected, or lidar is upgrading");
        EXPECT_TRUE(Tunnelled().empty());
    }
    EXPECT_FALSE(Sensor().Snapshot().standby);
}

// A call that passed its checks and then waited for the exchange turn while an upgrade claimed
// the sensor must not talk to it once the turn comes.
TEST_P(ModelOperationTest, CallWaitingForTheTurnStaysOffTheLineOnceAnUpgradeClaimedIt) {
    auto turn = session_.link.HoldExchange();
    std::thread caller([this] { operation_.SetStandby(1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    session_.link.upgrading = true;
    turn.unlock();
    caller.join();
    EXPECT_EQ(reporter_.LastError(), "set lidar mode error, ret:-1");
    EXPECT_FALSE(Sensor().Snapshot().standby);
    if (!Serial()) {
        EXPECT_TRUE(Tunnelled().empty());
    }
}

TEST_P(ModelOperationTest, SensorFailureIsReportedWithItsResult) {
    lidar::sim::SerialResponder::Faults faults;
    faults.bad_crc = true;
    Sensor().SetFaults(faults);
    operation_.SetSpinRate(5);
    // A broken reply: -2 on the serial lines, -1 from the tunnel.
    EXPECT_EQ(reporter_.LastError(),
              Serial() ? "set lidar spin rate error, ret:-2" : "set lidar spin rate error, ret:-1");
    ASSERT_FALSE(reporter_.logs.empty());
    EXPECT_EQ(reporter_.logs.back(), reporter_.LastError());
}

// The calibration file holds exactly the sensor's bytes; a file already there is replaced whole.
TEST_P(ModelOperationTest, CalibrationFileHoldsTheSensorsBytes) {
    Bytes calibration;
    for (int i = 0; i < 200; ++i) calibration.push_back(static_cast<uint8_t>(i * 7 % 0xE0));
    Sensor().SetCalibration(calibration);
    TempDir dir;
    const std::string path = dir.File("calibration.bin");
    WriteFile(path, Bytes(600, 0x55));  // longer than the new data: no tail may survive
    ASSERT_EQ(operation_.Correction(path), 0) << reporter_.LastError();
    EXPECT_EQ(ReadFile(path), calibration);
    EXPECT_EQ(Entries(dir.Path()), QStringList{"calibration.bin"});
    EXPECT_TRUE(reporter_.errors.empty()) << reporter_.LastError();
}

// A write that cannot be made leaves neither a partial file nor a damaged old one.
TEST_P(ModelOperationTest, CalibrationWriteFailureLeavesNoPartialFile) {
    TempDir dir;
    EXPECT_EQ(operation_.Correction(dir.File("missing/calibration.bin")), -1);
    EXPECT_EQ(reporter_.LastError(), kFileFailure);
    ASSERT_FALSE(reporter_.logs.empty());
    EXPECT_EQ(reporter_.logs.back(), kFileFailure);
    EXPECT_EQ(operation_.Correction(dir.Path()), -1);  // a folder is no file
    EXPECT_EQ(reporter_.LastError(), kFileFailure);
    EXPECT_TRUE(Entries(dir.Path()).isEmpty());

    const std::string path = dir.File("calibration.bin");
    const Bytes old = {'o', 'l', 'd'};
    WriteFile(path, old);
    reporter_.errors.clear();
    {
        FileSizeLimit limit(16);  // the sensor's 48 bytes do not fit
        EXPECT_EQ(operation_.Correction(path), -1);
    }
    EXPECT_EQ(reporter_.LastError(), kFileFailure);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(Entries(dir.Path()), QStringList{"calibration.bin"});
}

// A reply of the wrong shape or with a refusing status writes nothing and keeps an old file.
TEST_P(ModelOperationTest, CalibrationReplyOfTheWrongShapeWritesNothing) {
    if (Serial()) GTEST_SKIP() << "the odd replies are made on the tunnel";
    TempDir dir;
    const std::string path = dir.File("calibration.bin");
    AnswerQueriesWith({0x07, 0x00, 5, 1, 2, 3, 0x00});  // says 5 bytes, holds 3
    EXPECT_EQ(operation_.Correction(path), -1);
    EXPECT_EQ(reporter_.LastError(), "get calibration error, ret:-2");
    AnswerQueriesWith({0x07, 0x01, 1, 9, 0x00});  // the byte after the sub-command must be 0
    EXPECT_EQ(operation_.Correction(path), -1);
    EXPECT_EQ(reporter_.LastError(), "get calibration error, ret:-2");
    EXPECT_TRUE(Entries(dir.Path()).isEmpty());
    WriteFile(path, {'o', 'l', 'd'});
    AnswerQueriesWith({0x07, 0x00, 2, 0xA, 0xB, 0x04});  // well formed, refused with status 4
    EXPECT_EQ(operation_.Correction(path), -1);
    EXPECT_EQ(reporter_.LastError(), "get calibration error, ret:4");
    EXPECT_EQ(ReadFile(path), (Bytes{'o', 'l', 'd'}));
    AnswerQueriesWith({0x07, 0x00, 0, 0x00});  // no calibration data at all is still a file
    EXPECT_EQ(operation_.Correction(path), 0);
    EXPECT_TRUE(ReadFile(path).empty());
}

INSTANTIATE_TEST_SUITE_P(Routes, ModelOperationTest,
                         ::testing::Values("Minka", "Minka-CMX", "Rusko-CMX"));

// The manager's invokables are the operation's, and a new line speed is kept for the next
// serial connection.
TEST_F(UpgradeTest, ManagerInvokablesRunTheModelOperations) {
    ASSERT_TRUE(Start("Minka-CMX"));
    manager_->MinkaSetBaudRateFromUI("115200");
    EXPECT_EQ(manager_->successMessage(), "set baud rate successful");
    EXPECT_EQ(manager_->baud_rate(), "115200");
    EXPECT_EQ(manager_->MinkaGetBaudRate(), "115200");
    side_.Responder().SetFunctionSafety(1, {0x1234});
    EXPECT_EQ(manager_->MinkaGetLidarFunctionSafety(), (QVariantList{"Warning", "0x1234"}));
    manager_->MinkaSetStandby(1);
    EXPECT_TRUE(side_.Responder().Snapshot().standby);
}

}  // namespace
}  // namespace test
}  // namespace krell
