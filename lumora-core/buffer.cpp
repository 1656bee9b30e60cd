#include "lumora-core/buffer.h"

namespace krell {
namespace lumora {

Buffer::Buffer(QObject* parent) : QObject(parent) {}

Buffer::~Buffer() = default;

}  // namespace lumora
}  // namespace krell
