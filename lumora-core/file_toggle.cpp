#include "lumora-core/file_toggle.h"

namespace krell {
namespace lumora {

FileToggle::FileToggle(QObject* parent) : Toggle(parent) {}

FileToggle::~FileToggle() = default;  // Toggle releases the sources the viewer still holds

QList<QString> FileToggle::exts() const {
    return exts_;
}

void FileToggle::setExts(QList<QString> exts) {
    exts_ = std::move(exts);
}

QSharedPointer<FileSource>& FileToggle::fileSource() {
    return file_source_;
}

QSharedPointer<FileSource> FileToggle::newFileSource() {
    file_source_ = QSharedPointer<FileSource>(new FileSource(this));
    adoptSource(file_source_);
    return file_source_;
}

bool FileToggle::isSupportedExt(const QString& ext) const {
    return exts_.contains(ext);
}

}  // namespace lumora
}  // namespace krell
