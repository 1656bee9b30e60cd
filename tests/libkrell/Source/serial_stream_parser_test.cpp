#include "libkrell/Source/serial_stream_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/count_lines.h"
#include "tests/support/scribe_capture.h"

namespace {

// Sends the log to a file of this test program before anything logs.
const std::string& kLogPath = krell::test::ScribeCapture::Path();

using krell::lidar::PacketQueue;
using krell::lidar::SerialStreamParser;
using krell::lidar::UdpPacket;
using krell::test::CountLines;
using Bytes = std::vector<uint8_t>;

// The framing only looks at the tag and the first end mark, so replies here need no valid CRC.
Bytes Reply(uint8_t tag_byte, size_t extra_bytes = 10) {
    Bytes frame = {'$', 'L', 'D', 'A', 'C', 'K', ',', 3, 3, tag_byte};
    frame.insert(frame.end(), extra_bytes, 0x11);
    frame.push_back(0xEE);
    frame.push_back(0xFF);
    return frame;
}

// A point packet: 0xEE 0xFF, protocol bytes 2-3, byte 5 the packet kind, numbered at byte 6
// (a bare 6-byte header carries no number).
Bytes Point(size_t size, uint8_t version, uint8_t kind, uint8_t number) {
    Bytes packet(size, 0x22);
    packet[0] = 0xEE;
    packet[1] = 0xFF;
    packet[2] = 0x01;
    packet[3] = version;
    packet[4] = 0;
    packet[5] = kind;
    if (size > 6) packet[6] = number;
    return packet;
}

struct Framing {
    PacketQueue replies{10};
    PacketQueue points{8000};
    SerialStreamParser parser{replies, points};

    void Feed(const Bytes& bytes) { parser.Feed(bytes.data(), bytes.size()); }
    Bytes Take(PacketQueue& queue) {
        UdpPacket packet{};
        if (!queue.WaitPop(packet, 0)) return {};
        return Bytes(packet.data, packet.data + packet.length);
    }
};

TEST(SerialStreamParser, ReplySplitAcrossReads_QueuedOnlyOnceEndMarkArrives) {
    Framing f;
    const Bytes reply = Reply(1, 150);
    for (size_t i = 0; i + 1 < reply.size(); ++i) {
        f.Feed({reply[i]});
        ASSERT_EQ(f.replies.Size(), 0u) << "queued before byte " << i + 1;
    }
    f.Feed({reply.back()});
    EXPECT_EQ(f.Take(f.replies), reply);
}

TEST(SerialStreamParser, MixedStream_SortsEveryKindAndSkipsGarbageSilently) {
    const size_t mark = krell::test::ScribeCapture::Mark();
    Framing f;
    Bytes stream = {'x', '$', 'L', 'D', 0x00, 0xEE, 0x13};
    const Bytes reply_a = Reply(0xA1);
    const Bytes reply_b = Reply(0xB2, 40);
    const Bytes p34 = Point(34, 0x08, 1, 1);
    const Bytes p80 = Point(80, 0x08, 0, 2);
    const Bytes p132 = Point(132, 12, 0, 3);
    const Bytes other_kind = Point(6, 0x08, 7, 9);  // only its 6-byte header is skipped
    for (const Bytes* part : {&p34, &reply_a, &p80, &other_kind, &p132, &reply_b, &p80}) {
        stream.insert(stream.end(), part->begin(), part->end());
        stream.insert(stream.end(), {0x01, 0x02, 0x03});
    }
    stream.insert(stream.end(), 7, 0x00);  // lets the scan reach the last packet's end
    f.Feed(stream);
    EXPECT_EQ(f.Take(f.replies), reply_a);
    EXPECT_EQ(f.Take(f.replies), reply_b);
    EXPECT_EQ(f.replies.Size(), 0u);
    EXPECT_EQ(f.Take(f.points), p34);
    EXPECT_EQ(f.Take(f.points), p80);
    EXPECT_EQ(f.Take(f.points), p132);
    EXPECT_EQ(f.Take(f.points), p80);
    EXPECT_EQ(f.points.Size(), 0u);
    EXPECT_EQ(f.parser.ErrorCount(), 0u);
    EXPECT_EQ(krell::test::ScribeCapture::Since(mark), "");
}

TEST(SerialStreamParser, TruncatedPointPacketBeforeReply_ReplyStillQueued) {
    Framing f;
    const Bytes cut = Point(80, 8, 0, 1);
    Bytes stream(cut.begin(), cut.begin() + 20);
    const Bytes reply = Reply(0x5E, 30);
    stream.insert(stream.end(), reply.begin(), reply.end());
    const Bytes whole = Point(132, 12, 0, 2);
    stream.insert(stream.end(), whole.begin(), whole.end());
    f.Feed(stream);
    EXPECT_EQ(f.Take(f.replies), reply);
    EXPECT_EQ(f.Take(f.points), whole);
    EXPECT_EQ(f.points.Size(), 0u);
    // The broken packet is counted, so that whoever reads the points can say how many were lost.
    EXPECT_EQ(f.parser.CutPointCount(), 1u);
}

TEST(SerialStreamParser, UnknownVersion_QueuedAs80BytesAndLoggedOncePer10000) {
    const size_t mark = krell::test::ScribeCapture::Mark();
    Framing f;
    const Bytes odd = Point(80, 9, 0, 0);
    Bytes stream;
    for (int i = 0; i < 10001; ++i)
        stream.insert(stream.end(), odd.begin(), odd.end());
    stream.insert(stream.end(), 7, 0x00);
    f.Feed(stream);
    EXPECT_EQ(f.parser.ErrorCount(), 10001u);
    EXPECT_EQ(f.points.Size(), 8000u);
    EXPECT_EQ(f.Take(f.points), odd);
    EXPECT_EQ(CountLines(krell::test::ScribeCapture::Since(mark),
                         "serial recv error point cloud, protocol Version: 01 09"),
              2);
}

TEST(SerialStreamParser, ReplyWithoutEndMarkWithin1500Bytes_DroppedOnceAndNextReplyKept) {
    const size_t mark = krell::test::ScribeCapture::Mark();
    Framing f;
    Bytes stream = {'$', 'L', 'D', 'A', 'C', 'K', ','};
    stream.insert(stream.end(), 4000, 0x55);
    const Bytes next = Reply(0x42);
    stream.insert(stream.end(), next.begin(), next.end());
    stream.insert(stream.end(), 7, 0x00);
    f.Feed(stream);
    EXPECT_EQ(f.parser.OversizedReplyCount(), 1u);
    EXPECT_EQ(f.Take(f.replies), next);
    EXPECT_EQ(f.replies.Size(), 0u);
    EXPECT_EQ(CountLines(krell::test::ScribeCapture::Since(mark), "dropped, resynchronising"), 1);
    // The line keeps flowing: far more than the work buffer holds passes afterwards.
    const Bytes p80 = Point(80, 8, 0, 1);
    for (int i = 0; i < 2000; ++i)
        f.Feed(p80);
    EXPECT_EQ(f.points.Size(), 2000u);
}

TEST(SerialStreamParser, ReplyOf1500BytesExactly_StillFits) {
    Framing f;
    const Bytes reply = Reply(7, 1500 - 12);
    ASSERT_EQ(reply.size(), 1500u);
    f.Feed(reply);
    EXPECT_EQ(f.Take(f.replies), reply);
}

TEST(SerialStreamParser, FullQueues_DropOldestKeepNewest) {
    Framing f;
    for (uint8_t i = 1; i <= 12; ++i)
        f.Feed(Reply(i));
    f.Feed(Bytes(7, 0));
    EXPECT_EQ(f.replies.Size(), 10u);
    EXPECT_EQ(f.Take(f.replies)[9], 3);
    for (int i = 0; i < 8; ++i)
        f.Take(f.replies);
    EXPECT_EQ(f.Take(f.replies)[9], 12);

    for (int i = 0; i < 8005; ++i)
        f.Feed(Point(34, 8, 1, static_cast<uint8_t>(i)));
    f.Feed(Bytes(7, 0));
    EXPECT_EQ(f.points.Size(), 8000u);
    EXPECT_EQ(f.points.DroppedCount(), 5u);
    EXPECT_EQ(f.Take(f.points)[6], static_cast<uint8_t>(5));
}

}  // namespace
