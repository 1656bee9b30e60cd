// Tracks, clips and intervals: one clip per track, sorting, the (0, 0) interval, offsets with
// their metric, clip and track deletion with their waits, and clip/track lifetimes.
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "lumora-core/category.h"
#include "lumora-core/registration.h"
#include "lumora-core/track_buffer.h"
#include "test_functors.h"
#include "test_support.h"

namespace {

using krell::lumora::Category;
using krell::lumora::ClipBuffer;
using krell::lumora::Time;
using krell::lumora::TimeTicks;
using krell::lumora::TrackBuffer;
using labtest::TestClip;

Time ticks(int64_t count) {
    return Time(TimeTicks(count));
}

void placeClip(ClipBuffer& clip, int64_t begin, int64_t end) {
    clip.setBegin(ticks(begin));
    clip.setEnd(ticks(end));
}

// A viewer-style track that keeps every clip it is given, to exercise the ordering.
class MultiTrack : public TrackBuffer {
public:
    void addClip(ClipBuffer* clip) override {
        appendClip(clip);
        updateTimeInterval();
    }
};

int warnings_seen = 0;
void countAddClipWarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg && text.contains("the same category (type and port)")) ++warnings_seen;
}

// An outer instance holding one sub-instance whose Reader functor owns a TestClip.
struct ClipInSubInstance {
    ClipInSubInstance() {
        krell::lumora::Registration::regist(QStringLiteral("labtest::Reader"),
                                            &labtest::Reader::staticMetaObject);
        const auto loaded = Category::loadCategories(
            QJsonDocument::fromJson(
                R"({"namespace": "labtest::", "categories": [{"Clip": {"functors": ["Reader"]}}]})")
                .object());
        krell::lumora::Registration::regist(QStringLiteral("ClipCategory"), loaded.value("Clip"));
        Category::Instance* sub =
            outer.addSubCategory(QStringLiteral("ClipCategory"), QStringLiteral("c"));
        clip = qobject_cast<labtest::Reader*>(sub->functors().first().data())->clip();
    }
    Category::Instance outer;
    TestClip* clip = nullptr;
};

TEST(TrackBuffer, SecondClip_ReplacesFirstWithOneWarning) {
    TrackBuffer track;
    TestClip first, second;
    placeClip(first, 10, 20);
    placeClip(second, 30, 50);
    QSignalSpy clips_changed(&track, &TrackBuffer::clipsChanged);
    warnings_seen = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countAddClipWarnings);
    track.addClip(&first);
    track.addClip(&second);
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings_seen, 1);
    EXPECT_EQ(track.clips(), QList<ClipBuffer*>{&second});
    EXPECT_EQ(second.track(), &track);
    EXPECT_EQ(first.track(), nullptr);
    EXPECT_EQ(track.begin(), ticks(30));
    EXPECT_EQ(track.end(), ticks(50));
    EXPECT_GE(clips_changed.count(), 2);
}

TEST(TrackBuffer, ClipMovedToOtherTrack_LeavesTheFirstTrack) {
    TrackBuffer a, b;
    TestClip clip;
    placeClip(clip, 5, 9);
    a.addClip(&clip);
    b.addClip(&clip);
    EXPECT_TRUE(a.clips().isEmpty());
    EXPECT_EQ(a.begin(), ticks(0));
    EXPECT_EQ(clip.track(), &b);
}

TEST(TrackBuffer, UnorderedClips_AreSortedByBeginOnce) {
    MultiTrack track;
    TestClip late, early, middle;
    placeClip(late, 300, 400);
    placeClip(early, 100, 150);
    placeClip(middle, 200, 250);
    track.addClip(&late);
    QSignalSpy clips_changed(&track, &TrackBuffer::clipsChanged);
    QSignalSpy clip_changed(&late, &ClipBuffer::changed);
    track.addClip(&early);
    track.addClip(&middle);
    EXPECT_EQ(track.clips(), (QList<ClipBuffer*>{&early, &middle, &late}));
    EXPECT_EQ(clips_changed.count(), 2);
    EXPECT_EQ(clip_changed.count(), 2) << "every clip hears changed() on each update";
    EXPECT_EQ(track.begin(), ticks(100));
    EXPECT_EQ(track.end(), ticks(400));

    QSignalSpy track_changed(&track, &TrackBuffer::changed);
    track.updateTimeInterval();
    EXPECT_EQ(clips_changed.count(), 2) << "sorted clips are not reported again";
    EXPECT_EQ(track_changed.count(), 0) << "an unchanged interval emits nothing";
}

TEST(TrackBuffer, LastClipRemoved_IntervalBecomesZeroAndChangesOnlyIfItMoved) {
    TrackBuffer track;
    TestClip clip;
    placeClip(clip, 5, 9);
    track.addClip(&clip);
    QSignalSpy changed(&track, &TrackBuffer::changed);
    track.removeClip(&clip);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(track.begin(), ticks(0));
    EXPECT_EQ(track.end(), ticks(0));

    TestClip at_zero;
    track.addClip(&at_zero);
    track.removeClip(&at_zero);
    EXPECT_EQ(changed.count(), 1) << "(0, 0) to (0, 0) is no change";
    track.removeClip(&at_zero);  // absent: harmless
}

TEST(TrackBuffer, Offset150AtMetric1_ShiftsAcceptingClipBy15MillionTicks) {
    TrackBuffer track;
    TestClip clip;
    placeClip(clip, 1000, 2000);
    track.addClip(&clip);
    track.setOffset(150);
    EXPECT_EQ(track.getOffset(), 150);
    EXPECT_EQ(clip.begin(), ticks(15000000 + 1000));
    EXPECT_EQ(clip.end(), ticks(15000000 + 2000));
    EXPECT_EQ(track.begin(), clip.begin()) << "the track follows its clip";
    track.setOffset(0);
    EXPECT_EQ(clip.begin(), ticks(1000)) << "going back restores the position";

    TrackBuffer other;
    TestClip fixed;
    fixed.accepts_offset = false;
    placeClip(fixed, 1000, 2000);
    other.addClip(&fixed);
    other.setOffset(150);
    EXPECT_EQ(fixed.begin(), ticks(1000));
}

TEST(TrackBuffer, ThousandOffsetChangesAndBackToZero_PutTheClipBackExactly) {
    constexpr int64_t kBegin = 17040000000000000;  // a 2024 date, where float seconds are coarse
    constexpr int64_t kEnd = kBegin + 600000000;
    constexpr int64_t kTicksPerUnit = 100000;  // one hundredth of a second at metric 1
    TrackBuffer track;
    TestClip clip;
    placeClip(clip, kBegin, kEnd);
    track.addClip(&clip);
    for (int change = 1; change <= 1000; ++change) {
        const int offset = (change * 7919) % 2001 - 1000;  // -10 s .. +10 s, in no order
        track.setOffset(offset);
        ASSERT_EQ(clip.begin(), ticks(kBegin + offset * kTicksPerUnit)) << "change " << change;
        ASSERT_EQ(clip.end(), ticks(kEnd + offset * kTicksPerUnit)) << "change " << change;
    }
    track.setOffset(0);
    EXPECT_EQ(clip.begin(), ticks(kBegin));
    EXPECT_EQ(clip.end(), ticks(kEnd));

    // The metric scales the same absolute offset; a metric of 0 makes a unit 100 ticks.
    track.setOffset(333);
    track.setOffsetMetrics(7);
    EXPECT_EQ(clip.begin(), ticks(kBegin + 333 * 7 * kTicksPerUnit));
    track.setOffsetMetrics(0);
    EXPECT_EQ(clip.begin(), ticks(kBegin + 333 * 100));
    track.setOffsetMetrics(1);
    track.setOffset(0);
    EXPECT_EQ(clip.begin(), ticks(kBegin));
    EXPECT_EQ(track.begin(), clip.begin()) << "the track follows its clip";
}

TEST(TrackBuffer, HugeOffset_PinsTheClipToTheEndOfTime) {
    TrackBuffer track;
    TestClip clip;
    placeClip(clip, 1000, 2000);
    track.addClip(&clip);
    track.setOffsetMetrics(std::numeric_limits<int>::max());
    track.setOffset(std::numeric_limits<int>::max());
    EXPECT_EQ(clip.begin().time_since_epoch().count(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(clip.end().time_since_epoch().count(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(track.end(), clip.end());
}

TEST(TrackBuffer, MetricZero_CountsAsOneThousandth) {
    TrackBuffer track;
    TestClip clip;
    track.addClip(&clip);
    track.setOffsetMetrics(0);
    EXPECT_EQ(clip.begin(), ticks(0));
    track.setOffset(100000);  // 1000 units of 0.001 s
    EXPECT_EQ(clip.begin(), ticks(10000000));
}

TEST(TrackBuffer, DestroyedClip_LeavesTrackAndDestroyedTrackLeavesClip) {
    TrackBuffer track;
    auto* clip = new TestClip;
    placeClip(*clip, 4, 8);
    track.addClip(clip);
    QSignalSpy clips_changed(&track, &TrackBuffer::clipsChanged);
    delete clip;
    EXPECT_TRUE(track.clips().isEmpty());
    EXPECT_EQ(clips_changed.count(), 1);
    EXPECT_EQ(track.end(), ticks(0));

    TestClip survivor;
    {
        TrackBuffer short_lived;
        short_lived.addClip(&survivor);
    }
    EXPECT_EQ(survivor.track(), nullptr);
}

TEST(TimeIntervalBuffer, Seconds_TruncateToTicksAndPinBadValues) {
    krell::lumora::TimeIntervalBuffer interval;
    interval.setBeginSeconds(1.23456789);
    EXPECT_EQ(interval.begin(), ticks(12345678));
    interval.setEndSeconds(-0.00000019);
    EXPECT_EQ(interval.end(), ticks(-1));
    ASSERT_TRUE(interval.setProperty("beginSeconds", std::nan("")));
    EXPECT_EQ(interval.begin(), ticks(0));
    interval.setEndSeconds(1e300);
    EXPECT_EQ(interval.end().time_since_epoch().count(), std::numeric_limits<int64_t>::max());
}

QStringList debug_lines;
void collectDebugLines(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtDebugMsg) debug_lines.append(text);
}

TEST(ClipBuffer, DeleteClip_RemovesItsSubInstanceAndNotifiesOuter) {
    ClipInSubInstance setup;
    QPointer<TestClip> clip(setup.clip);
    clip->setRunning(true);
    QSignalSpy outer_changed(&setup.outer, &Category::Instance::changed);
    QElapsedTimer timer;
    timer.start();
    debug_lines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectDebugLines);
    QMetaObject::invokeMethod(clip, "deleteClip");
    qInstallMessageHandler(previous);
    ASSERT_EQ(debug_lines.size(), 1) << "the outer map is written once";
    EXPECT_TRUE(debug_lines.first().contains("ClipCategorycs0")) << qPrintable(debug_lines.first());
    EXPECT_GE(timer.elapsed(), 250) << "a running clip gets time to stop";
    EXPECT_EQ(outer_changed.count(), 1);
    EXPECT_TRUE(setup.outer.subInstances().isEmpty());
    EXPECT_TRUE(clip.isNull()) << "the clip dies with its sub-instance";
}

TEST(ClipBuffer, DeleteClipOutsideInstance_IsRefusedAndKeepsClip) {
    TestClip loose;
    loose.setObjectName(QStringLiteral("loose-clip"));
    loose.deleteClip();
    EXPECT_EQ(loose.set_running_calls, 0) << "a clip that does not run is not stopped";
    EXPECT_EQ(lumora_test::countOf(lumora_test::readScribeLog(), "clip loose-clip is not inside"),
              1);
}

TEST(TrackBuffer, DeleteTrackWithClipThatNeverStops_GivesUpAfterFourWaits) {
    ClipInSubInstance setup;
    QPointer<TestClip> clip(setup.clip);
    clip->stops_when_asked = false;
    clip->setRunning(true);
    TrackBuffer track;
    track.addClip(clip);
    QSignalSpy outer_changed(&setup.outer, &Category::Instance::changed);
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(track.deleteTrack());
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, 750);
    EXPECT_LT(elapsed, 5000);
    EXPECT_EQ(outer_changed.count(), 1);
    EXPECT_TRUE(clip.isNull());
    EXPECT_TRUE(track.clips().isEmpty());
    EXPECT_FALSE(track.deleteTrack()) << "nothing left to remove";
}

}  // namespace
