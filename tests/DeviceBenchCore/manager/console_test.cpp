// The raw command console: parsing of the typed texts, what really reaches the sensor, the reply
// as the page shows it (byte-exact against the byte flow), the history's limit, failures and the
// restart code that ends the link. Against the virtual sensor on loopback.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QSignalSpy>

#include <memory>
#include <mutex>
#include <stdexcept>

#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/manager/console_operation.h"
#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "tests/DeviceBenchCore/manager/manager_fixture.h"
#include "tools/lidar-sim/serial_responder.h"
#include "tools/lidar-sim/serial_side.h"

namespace {

using krell::lidar::sim::SimReply;
using krell::lidar::sim::SimRequest;
using krell::test::TableSim;
using krell::test::WaitWithEvents;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kEchoCmd = 0x5A;  // no table row uses it
constexpr size_t kCmxHeader = 8;

TEST(ConsoleParseTest, PrefixesBlanksAndCaseFollowTheTypedText) {
    const ConsoleRequest bare = command_text::ParseConsole("0x07", "", 0xFF);
    EXPECT_EQ(bare.code, 7u);
    EXPECT_EQ(bare.cmd_text, "07");
    EXPECT_TRUE(bare.payload.empty());
    EXPECT_EQ(bare.payload_text, "");

    const ConsoleRequest mixed = command_text::ParseConsole("0X1b", " 0x01  02 0X0a ", 0xFF);
    EXPECT_EQ(mixed.code, 0x1Bu);
    EXPECT_EQ(mixed.cmd_text, "1b");
    EXPECT_EQ(mixed.payload, (Bytes{0x01, 0x02, 0x0A}));
    EXPECT_EQ(mixed.payload_text, "01 02 0a");

    // A single digit is a whole byte; leading zeros do not count against the width.
    const ConsoleRequest odd = command_text::ParseConsole("7", "1 f 000000ab", 0xFF);
    EXPECT_EQ(odd.payload, (Bytes{0x01, 0x0F, 0xAB}));
}

TEST(ConsoleParseTest, TextsThatNameNoByteAreRefusedWithTheFieldAtFault) {
    struct Case {
        const char* cmd;
        const char* payload;
        bool out_of_range;
        const char* field;
    };
    const Case cases[] = {
        {"07", "0x", false, "payload"},    // a bare prefix is no byte
        {"07", "12zz", false, "payload"},  // no silent 0x12
        {"07", "0102", true, "payload"},   // two bytes typed without their blank
        {"07", "123", true, "payload"},    // an odd count wider than a byte
        {"", "01", false, "header"},       {"0x", "01", false, "header"},
        {"0 7", "", false, "header"},      {"g1", "", false, "header"},
        {"100", "", true, "header"},  // above the CMX code's byte
        {"123456789", "", true, "header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cmd) + " / " + c.payload);
        try {
            command_text::ParseConsole(c.cmd, c.payload, 0xFF);
            ADD_FAILURE() << "parsed";
        } catch (const std::out_of_range& e) {
            EXPECT_TRUE(c.out_of_range);
            EXPECT_STREQ(e.what(), c.field);
        } catch (const std::invalid_argument& e) {
            EXPECT_FALSE(c.out_of_range);
            EXPECT_STREQ(e.what(), c.field);
        }
    }
    // The serial tunnel's codes are 16 bits wide.
    EXPECT_EQ(command_text::ParseConsole("1234", "", 0xFFFF).code, 0x1234u);
}

TEST(ConsoleParseTest, LongPayloadsKeepEveryByteInOrder) {
    std::string text;
    Bytes expected;
    for (int i = 0; i < 3000; ++i) {
        char piece[8];
        std::snprintf(piece, sizeof(piece), i % 2 ? "%x " : "0x%02X ", i & 0xFF);
        text += piece;
        expected.push_back(static_cast<uint8_t>(i));
    }
    EXPECT_EQ(command_text::ParseConsole("5a", text, 0xFF).payload, expected);
    EXPECT_EQ(ConsoleOperation::HexText(Bytes{0x00, 0xAB, 0x7F}, 0, 3), "00 AB 7F");
    EXPECT_EQ(ConsoleOperation::HexText(Bytes{0x00, 0xAB}, 1, 9), "AB");
    EXPECT_EQ(ConsoleOperation::HexText(Bytes{}, 0, 4), "");
}

//! The bytes of a CMX 1.0 header for a reply of `cmd` with `ret` and `length` payload bytes.
QString CmxHeaderText(uint8_t cmd, uint8_t ret, uint32_t length) {
    const Bytes header = {0x47,
                          0x74,
                          cmd,
                          ret,
                          static_cast<uint8_t>(length >> 24),
                          static_cast<uint8_t>(length >> 16),
                          static_cast<uint8_t>(length >> 8),
                          static_cast<uint8_t>(length)};
    return ConsoleOperation::HexText(header, 0, header.size());
}

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override { krell::test::EnsureManagerApp(); }

    void Connect(TableSim& sim, const QString& model = "Corvel") {
        ASSERT_TRUE(sim.Ok());
        manager_ = krell::test::ConnectedManager(sim.Port(), model);
        ASSERT_TRUE(manager_->IsConnected());
    }

    //! kEchoCmd answers `reply_payload` with `ret` and remembers the request's payload.
    void ServeEcho(TableSim& sim, Bytes reply_payload, uint8_t ret = 0) {
        sim.Device().SetHandler(kEchoCmd, [this, reply_payload, ret](const SimRequest& request) {
            std::lock_guard<std::mutex> lock(mutex_);
            received_ = request.payload;
            SimReply reply;
            reply.ret_code = ret;
            reply.payload = reply_payload;
            return reply;
        });
    }
    Bytes Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

    std::unique_ptr<DeviceBenchManager> manager_;
    std::mutex mutex_;
    Bytes received_;
};

TEST_F(ConsoleTest, Send_DeliversTheTypedBytesAndShowsTheReplyAsTheByteFlowSawIt) {
    TableSim sim("Corvel");
    const Bytes answer = {0xDE, 0xAD, 0x00, 0x01, 0xFF};
    ServeEcho(sim, answer);
    Connect(sim);
    manager_->SetLogBytesFlowStatus(true);
    QSignalSpy log(manager_.get(), &DeviceBenchManager::sendLogMessage);
    QSignalSpy history(manager_.get(), &DeviceBenchManager::sendCommandHistoryChanged);

    manager_->SendCommand("0x5a", "0x01  02 0X0a");
    EXPECT_EQ(Received(), (Bytes{0x01, 0x02, 0x0A}));
    EXPECT_EQ(manager_->getSendCmxCommandReturnHeader(), CmxHeaderText(kEchoCmd, 0, 5));
    EXPECT_EQ(manager_->getSendCmxCommandReturnPayload(), "DE AD 00 01 FF");
    EXPECT_EQ(history.count(), 1);

    // The byte flow shows the same reply frame, header then payload.
    ASSERT_TRUE(WaitWithEvents([&] {
        for (const QList<QVariant>& line : log)
            if (line.at(0).toString().startsWith("RECV: ")) return true;
        return false;
    }));
    QString recv;
    for (const QList<QVariant>& line : log) {
        if (line.at(1) == "BYTES" && line.at(0).toString().startsWith("RECV: "))
            recv = line.at(0).toString().mid(6);
    }
    QString shown = manager_->getSendCmxCommandReturnHeader() + " " +
                    manager_->getSendCmxCommandReturnPayload();
    EXPECT_EQ(recv.simplified().toUpper().remove(' '), shown.remove(' '));

    ASSERT_EQ(manager_->CommandLogCnt(), 1);
    const QVariantMap entry = manager_->SendCommandHistory().front().toMap();
    EXPECT_EQ(entry.keys(),
              (QStringList{"record_time", "send_cmd_history", "send_payload_history"}));
    EXPECT_EQ(entry["send_cmd_history"], "5a");
    EXPECT_EQ(entry["send_payload_history"], "01 02 0a");
    EXPECT_TRUE(
        QDateTime::fromString(entry["record_time"].toString(), "yyyy-MM-dd hh:mm:ss").isValid())
        << entry["record_time"].toString().toStdString();
}

TEST_F(ConsoleTest, Send_ShowsAnEmptyPayloadAndOnlyTheFirstKilobyteOfALongOne) {
    TableSim sim("Corvel");
    ServeEcho(sim, {});
    Connect(sim);
    manager_->SendCommand("5A", "");
    EXPECT_EQ(manager_->getSendCmxCommandReturnHeader(), CmxHeaderText(kEchoCmd, 0, 0));
    EXPECT_EQ(manager_->getSendCmxCommandReturnPayload(), "");
    EXPECT_TRUE(Received().empty());
    EXPECT_EQ(manager_->errorMessage(), "");

    // A 2000-byte reply frame: payload indices 8 to 1023 are shown, and the user is told.
    Bytes long_answer(2000 - kCmxHeader);
    for (size_t i = 0; i < long_answer.size(); ++i)
        long_answer[i] = static_cast<uint8_t>(i * 7);
    ServeEcho(sim, long_answer);
    manager_->SendCommand("5A", "00");
    const QString payload = manager_->getSendCmxCommandReturnPayload();
    EXPECT_EQ(payload, ConsoleOperation::HexText(long_answer, 0, 1024 - kCmxHeader));
    EXPECT_EQ(payload.split(' ').size(), 1016);
    EXPECT_EQ(manager_->errorMessage(),
              "WARNING: This return payload is too long, only the first 1024 bytes are displayed. "
              "For a complete payload please use the log bytes flow function.");
    EXPECT_EQ(manager_->CommandLogCnt(), 2);
}

TEST_F(ConsoleTest, History_KeepsTheNewestTenNewestFirst) {
    TableSim sim("Corvel");
    ServeEcho(sim, {0x01});
    Connect(sim);
    for (int i = 0; i < 11; ++i)
        manager_->SendCommand("5a", QString::number(i, 16));
    ASSERT_EQ(manager_->CommandLogCnt(), 10);
    const QVariantList history = manager_->SendCommandHistory();
    EXPECT_EQ(history.front().toMap()["send_payload_history"], "a");
    EXPECT_EQ(history.back().toMap()["send_payload_history"], "1");  // "0" was dropped
}

TEST_F(ConsoleTest, Failures_ShowTheirTextKeepTheHistoryAndClearTheOldReply) {
    TableSim sim("Corvel");
    ServeEcho(sim, {0x42});
    Connect(sim);
    manager_->SendCommand("5a", "01");
    ASSERT_EQ(manager_->getSendCmxCommandReturnPayload(), "42");
    QSignalSpy history(manager_.get(), &DeviceBenchManager::sendCommandHistoryChanged);

    manager_->SendCommand("5a", "01 zz");
    EXPECT_EQ(manager_->errorMessage(), "Incorrect CMX payload was entered. Parsing failed.");
    EXPECT_EQ(manager_->getSendCmxCommandReturnHeader(), "");
    EXPECT_EQ(manager_->getSendCmxCommandReturnPayload(), "");
    EXPECT_EQ(history.count(), 1);

    manager_->SendCommand("5a", "01");
    manager_->SendCommand("xyz", "01");
    EXPECT_EQ(manager_->errorMessage(), "Incorrect CMX header was entered. Parsing failed.");
    EXPECT_EQ(manager_->getSendCmxCommandReturnPayload(), "");

    EXPECT_EQ(manager_->CommandLogCnt(), 2);  // only the two that went through

    // The sensor refuses the command: the reply's header shows its own return code, and the
    // exchange is in the history like any other.
    QSignalSpy errors(manager_.get(), &DeviceBenchManager::errorMessageChanged);
    ServeEcho(sim, {}, 0x03);
    manager_->SendCommand("5a", "01");
    EXPECT_EQ(manager_->getSendCmxCommandReturnHeader(), CmxHeaderText(kEchoCmd, 0x03, 0));
    EXPECT_EQ(manager_->getSendCmxCommandReturnPayload(), "");
    EXPECT_EQ(manager_->CommandLogCnt(), 3);
    EXPECT_EQ(errors.count(), 0) << manager_->errorMessage().toStdString();

    // No reply at all: the failure text, the history as it was.
    krell::lidar::sim::SimFaults silent;
    silent.no_reply = true;
    silent.once = true;
    sim.Server().SetFaults(silent);
    manager_->SendCommand("5a", "01");
    EXPECT_EQ(manager_->errorMessage(),
              "Query cmx command fail. Please input right cmx command header and payload.");
    EXPECT_EQ(manager_->getSendCmxCommandReturnHeader(), "");
    EXPECT_EQ(manager_->CommandLogCnt(), 3);
    EXPECT_TRUE(manager_->IsConnected());
}

TEST_F(ConsoleTest, RestartCode_EndsTheLinkAndSaysSo) {
    TableSim sim("Corvel");
    Connect(sim);
    manager_->SendCommand("10", "");
    EXPECT_EQ(manager_->successMessage(), "Lidar restart.");
    EXPECT_FALSE(manager_->IsConnected());
    // Not connected any more: nothing is sent and nothing is recorded.
    const size_t requests = sim.Server().RequestCount();
    QSignalSpy history(manager_.get(), &DeviceBenchManager::sendCommandHistoryChanged);
    manager_->SendCommand("5a", "01");
    EXPECT_EQ(sim.Server().RequestCount(), requests);
    EXPECT_EQ(history.count(), 0);
    EXPECT_EQ(manager_->CommandLogCnt(), 1);
}

TEST_F(ConsoleTest, SerialCmxModel_TunnelsTheCommandAndShowsTheSerialReply) {
    TableSim sim("Minka-CMX");
    ASSERT_TRUE(sim.Ok());
    // The sensor's serial side behind the tunnel, as the simulator program sets it up.
    auto serial = std::make_shared<krell::lidar::sim::SerialResponder>();
    sim.Device().SetHandler(0xFF, krell::lidar::sim::SerialSide::TunnelHandler(serial));
    manager_ = std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
    manager_->InitConfigFileParser("Minka-CMX");
    manager_->setIpAddress("127.0.0.1");
    manager_->setPort(QString::number(sim.Port()));
    manager_->setBaudRate("921600");
    ASSERT_TRUE(manager_->ConnectLidar());
    ASSERT_TRUE(WaitWithEvents([&] { return manager_->IsConnected(); }));

    // Serial command 3 (change mode) to an unknown mode 0x09: the sensor echoes the mode.
    manager_->SendCommand("0x03", "09 05");
    EXPECT_EQ(manager_->getSendCmxCommandReturnHeader(), "03");
    EXPECT_TRUE(manager_->getSendCmxCommandReturnPayload().startsWith("09 "))
        << manager_->getSendCmxCommandReturnPayload().toStdString();
    EXPECT_EQ(manager_->CommandLogCnt(), 1);

    // A code the serial frame cannot carry fails with the serial text.
    manager_->SendCommand("0x1234", "");
    EXPECT_EQ(manager_->errorMessage(),
              "Query Serial command fail. Please check BytesFlow in Log Window. Please input "
              "right Serial command header and payload.");
    EXPECT_EQ(manager_->CommandLogCnt(), 1);
}

TEST_F(ConsoleTest, SerialCmxModel_NotConnectedIsNamed) {
    manager_ = std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
    manager_->InitConfigFileParser("Minka-CMX");
    manager_->SendCommand("03", "");
    EXPECT_EQ(manager_->errorMessage(), "lidar is not connected, or lidar is upgrade");
    EXPECT_EQ(manager_->CommandLogCnt(), 0);
}

}  // namespace
