#pragma once
// SDKToggle: choice of a live lidar read through the lidar SDK; makes the SDKSource.
// UI thread only.
#include <QList>
#include <QSharedPointer>
#include <QString>

#include "lumora-core/sdk_source.h"
#include "lumora-core/toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT SDKToggle : public Toggle {
    Q_OBJECT

public:
    explicit SDKToggle(QObject* parent = nullptr);
    ~SDKToggle() override;

    //! The source made last; empty until newSDKSource().
    virtual QSharedPointer<SDKSource>& sdkSource();
    //! Makes a new source (Qt child of this toggle), keeps it in place of the previous one and
    //! returns a second reference to it.
    virtual QSharedPointer<SDKSource> newSDKSource();
    //! Replaces the extensions of the files the SDK can also read (calibration, recordings).
    virtual void setExtsFile(QList<QString> exts);
    //! Those extensions (empty by default).
    virtual QList<QString> exts_file() const;

private:
    QSharedPointer<SDKSource> sdk_source_;
    QList<QString> exts_file_;
};

}  // namespace lumora
}  // namespace krell
