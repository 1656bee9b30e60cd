#pragma once
// FileToggle: choice of a recording file; offers a list of extensions and makes the FileSource.
// UI thread only.
#include <QList>
#include <QSharedPointer>
#include <QString>

#include "lumora-core/file_source.h"
#include "lumora-core/toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT FileToggle : public Toggle {
    Q_OBJECT
    Q_PROPERTY(QList<QString> exts READ exts WRITE setExts)

public:
    explicit FileToggle(QObject* parent = nullptr);
    ~FileToggle() override;

    //! The offered file extensions (empty by default).
    virtual QList<QString> exts() const;
    //! Replaces the extensions; emits nothing.
    virtual void setExts(QList<QString> exts);
    //! The source made last; empty until newFileSource().
    virtual QSharedPointer<FileSource>& fileSource();
    //! Makes a new source (Qt child of this toggle), keeps it in place of the previous one and
    //! returns a second reference to it.
    virtual QSharedPointer<FileSource> newFileSource();

    //! True when `ext` equals one of the extensions exactly (case-sensitive).
    Q_INVOKABLE bool isSupportedExt(const QString& ext) const;

signals:
    void onExtSet();

private:
    QList<QString> exts_;
    QSharedPointer<FileSource> file_source_;
};

}  // namespace lumora
}  // namespace krell
