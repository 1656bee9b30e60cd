#include "libkrell/Source/source.h"

#include "scribe/logger.h"

namespace krell {
namespace lidar {

Source::~Source() {
    SLOG_INFO("Source::Close()");
}

void Source::Close() {
    SLOG_INFO("Source::Close()");
}

void Source::SetReceiveType(int32_t) {}

void Source::SetReceiveThreadEnabled(bool) {}

}  // namespace lidar
}  // namespace krell
