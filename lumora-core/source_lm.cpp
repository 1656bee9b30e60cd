#include "lumora-core/source_lm.h"

namespace krell {
namespace lumora {

Source_LM::Source_LM(QObject* parent) : QObject(parent) {}

Source_LM::~Source_LM() = default;

void Source_LM::stop() {
    running_.store(0);
    reading_.store(0);
}

void Source_LM::setStopped(bool stopped) {
    stopped_.store(stopped ? 1 : 0);
}

bool Source_LM::isRunning() const {
    return running_.load() != 0;
}

bool Source_LM::isReading() const {
    return reading_.load() != 0;
}

bool Source_LM::isStopped() const {
    return stopped_.load() != 0;
}

}  // namespace lumora
}  // namespace krell
