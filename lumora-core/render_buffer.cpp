#include "lumora-core/render_buffer.h"

namespace krell {
namespace lumora {

RenderBuffer::RenderBuffer(QObject* parent) : Buffer(parent) {}

RenderBuffer::~RenderBuffer() = default;

bool RenderBuffer::controlSelected() const {
    return control_selected_;
}

void RenderBuffer::setControlSelected(bool selected) {
    control_selected_ = selected;
    emit controlSelectedChanged();
}

}  // namespace lumora
}  // namespace krell
