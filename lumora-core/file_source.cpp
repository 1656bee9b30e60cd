#include "lumora-core/file_source.h"

namespace krell {
namespace lumora {

FileSource::FileSource(QObject* parent) : Source_LM(parent) {}

FileSource::~FileSource() = default;

QString FileSource::filePath() const {
    return file_path_;
}

void FileSource::setFilePath(const QString& path) {
    file_path_ = path;
}

}  // namespace lumora
}  // namespace krell
