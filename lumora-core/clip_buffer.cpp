#include "lumora-core/clip_buffer.h"

#include <QDebug>
#include <QThread>

#include "lumora-core/track_buffer.h"
#include "scribe/logger.h"

namespace krell {
namespace lumora {

ClipBuffer::ClipBuffer(QObject* parent) : TimeIntervalBuffer(parent) {}

ClipBuffer::~ClipBuffer() {
    // The track keeps plain pointers; without this it would keep one to a destroyed clip.
    if (track_ != nullptr) track_->forgetClip(this);
}

void ClipBuffer::reset() {}

bool ClipBuffer::running() const {
    return true;
}

bool ClipBuffer::pcapLoading() const {
    return false;
}

bool ClipBuffer::stopped() const {
    return false;
}

void ClipBuffer::setRunning(bool) {}

bool ClipBuffer::loading() const {
    return true;
}

void ClipBuffer::setLoading(bool) {}

bool ClipBuffer::setTimeOffset(TimeTicks) {
    return false;
}

TrackBuffer* ClipBuffer::track() const {
    return track_;
}

void ClipBuffer::deleteClip() {
    if (running()) {
        setRunning(false);
        QThread::msleep(kStopWaitMs);
    }
    QSharedPointer<Category::Instance> removed;
    Category::Instance* outer = detachSubInstance(removed);
    if (outer != nullptr) emit outer->changed();
    // Releasing `removed` at the end of this scope may destroy this clip: nothing may follow.
}

Category::Instance* ClipBuffer::detachSubInstance(QSharedPointer<Category::Instance>& removed) {
    QObject* functor = parent();
    auto* sub = functor ? qobject_cast<Category::Instance*>(functor->parent()) : nullptr;
    auto* outer = sub ? qobject_cast<Category::Instance*>(sub->parent()) : nullptr;
    if (outer == nullptr) {
        SLOG_WARNING("clip %s is not inside a sub-instance of a category instance; not deleted",
                     qUtf8Printable(objectName()));
        return nullptr;
    }
    // Clip and track deletion show the outer map in the debug log before they change it.
    qDebug() << outer->subInstances();
    removed = outer->takeSubInstance(sub);
    return removed ? outer : nullptr;
}

}  // namespace lumora
}  // namespace krell
