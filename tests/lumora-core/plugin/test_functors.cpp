#include "test_functors.h"

#include "lumora-core/registration.h"

namespace labtest {

namespace {
int regist_calls = 0;
}  // namespace

Reader::Reader(QObject* parent)
    : Functor(parent),
      reader_(new krell::lumora::InputFileToggle(this)),
      net_(new krell::lumora::InputNetToggle(this)),
      stream_(new krell::lumora::NetSource(this)),
      clip_(new TestClip(this)),
      track_(new krell::lumora::TrackBuffer(this)),
      spare_(new krell::lumora::InputFileToggle(this)),
      plain_(new QObject(this)) {}

Writer::Writer(QObject* parent)
    : Functor(parent),
      output_(new krell::lumora::OutputNetToggle(this)),
      view_(new TestRender(this)) {}

int registCalls() {
    return regist_calls;
}

}  // namespace labtest

extern "C" Q_DECL_EXPORT void regist_classes() {
    ++labtest::regist_calls;
    krell::lumora::Registration::regist(QStringLiteral("labtest::Reader"),
                                        &labtest::Reader::staticMetaObject);
    krell::lumora::Registration::regist(QStringLiteral("labtest::Writer"),
                                        &labtest::Writer::staticMetaObject);
}
