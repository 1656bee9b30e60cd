#pragma once
// NetToggle: choice of a network stream; holds the defaults a new NetSource starts from and makes
// the source. UI thread only.
#include <QList>
#include <QSharedPointer>
#include <QString>

#include <cstdint>

#include "lumora-core/net_source.h"
#include "lumora-core/toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT NetToggle : public Toggle {
    Q_OBJECT
    Q_PROPERTY(QList<QString> exts READ exts WRITE setExts)

public:
    static constexpr uint16_t kDefaultPort = 2368;

    explicit NetToggle(QObject* parent = nullptr);
    ~NetToggle() override;

    //! The offered extensions (empty by default).
    virtual QList<QString> exts() const;
    //! Replaces the extensions, then emits onExtSet().
    virtual void setExts(QList<QString> exts);
    //! The source made last; empty until newNetSource().
    virtual QSharedPointer<NetSource>& netSource();
    //! Makes a new source (Qt child of this toggle), keeps it in place of the previous one and
    //! returns a second reference to it.
    virtual QSharedPointer<NetSource> newNetSource();

    //! True when `ext` equals one of the extensions exactly (case-sensitive).
    Q_INVOKABLE bool isSupportedExt(const QString& ext) const;

    // Defaults for new sources; the setters store the value and emit nothing.
    QString defaultHostAddress() const;
    void setDefaultHostAddress(QString address);
    unsigned short defaultPort() const;
    void setDefaultPort(unsigned short port);
    NetSource::TransferProtocol defaultProtocol() const;
    void setDefaultProtocol(NetSource::TransferProtocol protocol);
    QString productModelName() const;
    void setProductModelName(QString name);

signals:
    void onExtSet();
    void onTransferProtocolSet();

private:
    QList<QString> exts_;
    QSharedPointer<NetSource> net_source_;
    uint16_t default_port_ = kDefaultPort;
    NetSource::TransferProtocol default_protocol_ = NetSource::UDP;
    QString default_host_address_ = QStringLiteral("Any");
    QString product_model_name_;
};

}  // namespace lumora
}  // namespace krell
