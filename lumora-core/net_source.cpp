#include "lumora-core/net_source.h"

namespace krell {
namespace lumora {

NetSource::NetSource(QObject* parent) : Source_LM(parent) {}

NetSource::~NetSource() = default;

std::shared_ptr<bool> NetSource::connected() const {
    return connected_;
}

}  // namespace lumora
}  // namespace krell
