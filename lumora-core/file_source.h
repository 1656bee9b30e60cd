#pragma once
// FileSource: a recording read from a file; the viewer's reader fills in the path and position.
#include <QString>

#include <cstdint>

#include "lumora-core/source_lm.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT FileSource : public Source_LM {
    Q_OBJECT

public:
    explicit FileSource(QObject* parent = nullptr);
    ~FileSource() override;

    //! The file being read (empty until set). UI thread.
    QString filePath() const;
    void setFilePath(const QString& path);

protected:
    QString file_path_;
    int32_t file_index_ = 0;  // position within a multi-file recording
};

}  // namespace lumora
}  // namespace krell
