#include "libkrell/Source/serial_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/Frame/hex_text.h"
#include "libkrell/Frame/serial_frame.h"
#include "libkrell/Source/serial_source.h"
#include "tests/libkrell/Source/pty_peer.h"

namespace {

using krell::lidar::SerialClient;
using krell::lidar::SerialFrame;
using krell::lidar::SerialSource;
using Bytes = std::vector<uint8_t>;

// A reply with a chosen random word, so a test can place 0xEE 0xFF inside it.
Bytes ReplyWithWord(uint8_t cmd, const Bytes& data, uint32_t random_word) {
    Bytes frame = {'$', 'L', 'D', 'A', 'C', 'K', ',', static_cast<uint8_t>(data.size()), cmd};
    frame.insert(frame.end(), data.begin(), data.end());
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<uint8_t>(random_word >> (8 * i)));
    const uint32_t crc = SerialFrame::PaddedCrc(frame.data() + 7, frame.size() - 7);
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    frame.push_back(0xEE);
    frame.push_back(0xFF);
    return frame;
}

// The client on two ptys; the test plays the sensor: requests on the UART master, replies on the
// RS-485 master between point packets.
class SerialClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(uart_.Ok() && rs485_.Ok());
        send_ = std::make_shared<SerialSource>(uart_.SlaveName(), 9600, 3125000);
        send_->SetReceiveType(1);
        send_->SetReceiveThreadEnabled(false);
        receive_ = std::make_shared<SerialSource>(rs485_.SlaveName(), 115200, 3125000);
        ASSERT_TRUE(send_->Open());
        ASSERT_TRUE(receive_->Open());
        client_.Init(send_, receive_);
        client_.byte_flow_callback = [this](const std::string& line) { lines_.push_back(line); };
    }

    // Reads one request frame from the UART line (bounded to 2 s).
    Bytes ReadRequest() {
        Bytes head = uart_.Read(9, 2000);
        if (head.size() < 9) return head;
        const Bytes rest = uart_.Read(static_cast<size_t>(head[7]) - 1 + 10, 2000);
        head.insert(head.end(), rest.begin(), rest.end());
        return head;
    }

    // Answers the next request with `reply(request)`, a point packet on either side of it.
    void AnswerWith(std::function<Bytes(const Bytes&)> reply) {
        peer_ = std::thread([this, reply] {
            const Bytes request = ReadRequest();
            Bytes point(80, 0x10);
            point[0] = 0xEE;
            point[1] = 0xFF;
            point[3] = 8;
            point[5] = 0;
            Bytes out = point;
            const Bytes answer = reply(request);
            out.insert(out.end(), answer.begin(), answer.end());
            out.insert(out.end(), point.begin(), point.end());
            rs485_.Write(out);
        });
    }

    void TearDown() override {
        if (peer_.joinable()) peer_.join();
    }

    krell_test::PtyPeer uart_;
    krell_test::PtyPeer rs485_;
    std::shared_ptr<SerialSource> send_;
    std::shared_ptr<SerialSource> receive_;
    SerialClient client_;
    std::vector<std::string> lines_;
    std::thread peer_;
};

TEST_F(SerialClientTest, Query_SendsValidFrameAndReturnsReplyBody) {
    Bytes seen;
    AnswerWith([&seen](const Bytes& request) {
        seen = request;
        return ReplyWithWord(2, {0x0B, 8, 3, 0}, 0x01020304);
    });
    Bytes out;
    ASSERT_EQ(client_.SerialQuery(2, {0x0B, 8, 3}, out, 2000), 0);
    peer_.join();
    EXPECT_EQ(out, (Bytes{4, 2, 0x0B, 8, 3, 0}));
    ASSERT_EQ(seen.size(), 3u + 19u);
    SerialFrame::Layout request_layout;
    EXPECT_TRUE(SerialFrame::Check(seen.data(), seen.size(), "$LDCMD,", request_layout, nullptr));
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_EQ(lines_[0], "SEND: " + krell::lidar::ToHexText(seen.data(), seen.size()));
    const Bytes reply = ReplyWithWord(2, {0x0B, 8, 3, 0}, 0x01020304);
    EXPECT_EQ(lines_[1], "RECV: " + krell::lidar::ToHexText(reply.data(), reply.size()));
}

TEST_F(SerialClientTest, EndMarkInsideRandomWordOrCrc_CutsFrameAndGivesMinus2) {
    // Random word 11 EE FF 22 (least significant byte first).
    AnswerWith([](const Bytes&) { return ReplyWithWord(3, {4, 1, 0}, 0x22FFEE11); });
    Bytes out = {0x77};
    EXPECT_EQ(client_.SerialQuery(3, {4, 1}, out, 2000), -2);
    peer_.join();
    EXPECT_EQ(out, Bytes{0x77});

    uint32_t word = 0;
    Bytes crc_holds_mark;
    for (; word < 2000000 && crc_holds_mark.empty(); ++word) {
        const Bytes reply = ReplyWithWord(3, {4, 1, 0}, word);
        for (size_t i = reply.size() - 6; i + 1 < reply.size() - 2; ++i) {
            if (reply[i] == 0xEE && reply[i + 1] == 0xFF) crc_holds_mark = reply;
        }
    }
    ASSERT_FALSE(crc_holds_mark.empty());
    AnswerWith([crc_holds_mark](const Bytes&) { return crc_holds_mark; });
    EXPECT_EQ(client_.SerialQuery(3, {4, 1}, out, 2000), -2);
}

TEST_F(SerialClientTest, StaleReplyBeforeRequest_IsNotTakenForTheAnswer) {
    rs485_.Write(ReplyWithWord(3, {9, 9, 9}, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    AnswerWith([](const Bytes&) { return ReplyWithWord(3, {4, 0, 0}, 2); });
    EXPECT_EQ(client_.ChangeMode(4, 0), 0);
}

TEST_F(SerialClientTest, ChangeMode_ReturnsStatusAndRejectsWrongShapes) {
    AnswerWith([](const Bytes& request) { return ReplyWithWord(3, {request[9], 1, 6}, 3); });
    EXPECT_EQ(client_.ChangeMode(11, 0), 6);
    peer_.join();
    AnswerWith([](const Bytes&) {
        return ReplyWithWord(3, {10, 1, 0}, 3);
    });  // another mode echoed
    EXPECT_EQ(client_.ChangeMode(11, 0), -2);
    peer_.join();
    AnswerWith([](const Bytes&) { return ReplyWithWord(3, {11, 1, 0, 0}, 3); });  // 6-byte body
    EXPECT_EQ(client_.ChangeMode(11, 0), -2);
}

TEST_F(SerialClientTest, NoReplyOrNoLine_GiveMinus3AndMinus1) {
    Bytes out;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client_.SerialQuery(2, {5, 4}, out, 150), -3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(145));
    EXPECT_EQ(lines_.size(), 1u) << "only the SEND line when nothing came back";

    send_->Close();
    EXPECT_EQ(client_.SerialQuery(2, {5, 4}, out, 150), -1);
    SerialClient unset;
    EXPECT_EQ(unset.SerialQuery(2, {}, out, 10), -1);
    EXPECT_EQ(unset.ChangeMode(4, 0), -1);
}

}  // namespace
