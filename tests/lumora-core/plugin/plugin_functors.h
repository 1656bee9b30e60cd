#pragma once
// Functor classes of the test plug-in, a module that only category files load (by path, with
// "shared-binary"): the test program does not link it, so none of these classes is in the process
// before the first category file naming the plug-in is read.
#include <QObject>

#include "lumora-core/functor.h"
#include "lumora-core/input_file_toggle.h"
#include "lumora-core/net_source.h"
#include "lumora-core/output_net_toggle.h"

namespace labplugin {

//! Exposes a toggle and a source, so that an instance made from the plug-in collects both.
class Sensor : public krell::lumora::Functor {
    Q_OBJECT
    Q_PROPERTY(krell::lumora::InputFileToggle* reader READ reader CONSTANT)
    Q_PROPERTY(krell::lumora::NetSource* stream READ stream CONSTANT)

public:
    Q_INVOKABLE explicit Sensor(QObject* parent = nullptr);
    krell::lumora::InputFileToggle* reader() const { return reader_; }
    krell::lumora::NetSource* stream() const { return stream_; }

private:
    krell::lumora::InputFileToggle* reader_;
    krell::lumora::NetSource* stream_;
};

class Sink : public krell::lumora::Functor {
    Q_OBJECT
    Q_PROPERTY(krell::lumora::OutputNetToggle* output READ output CONSTANT)

public:
    Q_INVOKABLE explicit Sink(QObject* parent = nullptr);
    krell::lumora::OutputNetToggle* output() const { return output_; }

private:
    krell::lumora::OutputNetToggle* output_;
};

}  // namespace labplugin
