#pragma once
// Functor classes compiled into the test program: the tests register Reader and Writer
// themselves and use the classes directly; the other classes exist to be refused. The plug-in
// that category files load by path has classes of its own (plugin/plugin_functors.h).
#include <QObject>

#include "lumora-core/clip_buffer.h"
#include "lumora-core/functor.h"
#include "lumora-core/input_file_toggle.h"
#include "lumora-core/input_net_toggle.h"
#include "lumora-core/net_source.h"
#include "lumora-core/output_net_toggle.h"
#include "lumora-core/render_buffer.h"
#include "lumora-core/track_buffer.h"

namespace labtest {

//! A clip whose behaviour the tests choose: whether it runs, stops when asked, accepts shifting.
class TestClip : public krell::lumora::ClipBuffer {
    Q_OBJECT

public:
    explicit TestClip(QObject* parent = nullptr) : ClipBuffer(parent) {}

    bool running() const override { return running_; }
    void setRunning(bool running) override {
        ++set_running_calls;
        if (!running && stops_when_asked) stopped_ = true;
        running_ = running;
    }
    bool stopped() const override { return stopped_; }
    bool setTimeOffset(krell::lumora::TimeTicks) override { return accepts_offset; }

    bool stops_when_asked = true;
    bool accepts_offset = true;
    int set_running_calls = 0;

private:
    bool running_ = false;
    bool stopped_ = false;
};

class TestRender : public krell::lumora::RenderBuffer {
    Q_OBJECT

public:
    explicit TestRender(QObject* parent = nullptr) : RenderBuffer(parent) {}
    QString source() const override { return QStringLiteral("test-render"); }
};

//! Exposes one object of every kind the instance collects, plus properties it must skip.
class Reader : public krell::lumora::Functor {
    Q_OBJECT
    Q_PROPERTY(krell::lumora::InputFileToggle* reader READ reader CONSTANT)
    Q_PROPERTY(krell::lumora::InputNetToggle* net READ net CONSTANT)
    Q_PROPERTY(krell::lumora::NetSource* stream READ stream CONSTANT)
    Q_PROPERTY(labtest::TestClip* clip READ clip CONSTANT)
    Q_PROPERTY(krell::lumora::TrackBuffer* track READ track CONSTANT)
    Q_PROPERTY(krell::lumora::InputFileToggle* spare READ spare WRITE setSpare)
    Q_PROPERTY(krell::lumora::Toggle* missing READ missing CONSTANT)
    Q_PROPERTY(QObject* plain READ plain CONSTANT)
    Q_PROPERTY(int count READ count CONSTANT)

public:
    Q_INVOKABLE explicit Reader(QObject* parent = nullptr);

    krell::lumora::InputFileToggle* reader() const { return reader_; }
    krell::lumora::InputNetToggle* net() const { return net_; }
    krell::lumora::NetSource* stream() const { return stream_; }
    TestClip* clip() const { return clip_; }
    krell::lumora::TrackBuffer* track() const { return track_; }
    krell::lumora::InputFileToggle* spare() const { return spare_; }
    void setSpare(krell::lumora::InputFileToggle* spare) { spare_ = spare; }
    krell::lumora::Toggle* missing() const { return nullptr; }
    QObject* plain() const { return plain_; }
    int count() const { return 7; }

    void operator()() override { ++runs; }
    int runs = 0;

private:
    krell::lumora::InputFileToggle* reader_;
    krell::lumora::InputNetToggle* net_;
    krell::lumora::NetSource* stream_;
    TestClip* clip_;
    krell::lumora::TrackBuffer* track_;
    krell::lumora::InputFileToggle* spare_;
    QObject* plain_;
};

class Writer : public krell::lumora::Functor {
    Q_OBJECT
    Q_PROPERTY(krell::lumora::OutputNetToggle* output READ output CONSTANT)
    Q_PROPERTY(labtest::TestRender* view READ view CONSTANT)

public:
    Q_INVOKABLE explicit Writer(QObject* parent = nullptr);
    krell::lumora::OutputNetToggle* output() const { return output_; }
    TestRender* view() const { return view_; }

private:
    krell::lumora::OutputNetToggle* output_;
    TestRender* view_;
};

//! Has an invokable constructor but is no functor.
class NotAFunctor : public QObject {
    Q_OBJECT

public:
    Q_INVOKABLE explicit NotAFunctor(QObject* parent = nullptr) : QObject(parent) {}
};

//! A functor the registry cannot construct: no invokable constructor.
class NoConstructor : public krell::lumora::Functor {
    Q_OBJECT

public:
    explicit NoConstructor(QObject* parent = nullptr) : Functor(parent) {}
};

}  // namespace labtest
