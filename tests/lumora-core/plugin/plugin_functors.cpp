#include "plugin_functors.h"

#include "lumora-core/registration.h"

namespace labplugin {

namespace {
int regist_calls = 0;
}  // namespace

Sensor::Sensor(QObject* parent)
    : Functor(parent),
      reader_(new krell::lumora::InputFileToggle(this)),
      stream_(new krell::lumora::NetSource(this)) {}

Sink::Sink(QObject* parent) : Functor(parent), output_(new krell::lumora::OutputNetToggle(this)) {}

}  // namespace labplugin

//! The entry point that category files name the plug-in for.
extern "C" Q_DECL_EXPORT void regist_classes() {
    ++labplugin::regist_calls;
    krell::lumora::Registration::regist(QStringLiteral("labplugin::Sensor"),
                                        &labplugin::Sensor::staticMetaObject);
    krell::lumora::Registration::regist(QStringLiteral("labplugin::Sink"),
                                        &labplugin::Sink::staticMetaObject);
}

//! Number of calls to regist_classes so far; the tests resolve it from the loaded plug-in.
extern "C" Q_DECL_EXPORT int lumora_test_plugin_regist_calls() {
    return labplugin::regist_calls;
}
