#include "test_functors.h"

namespace labtest {

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

}  // namespace labtest
