#include "lumora-core/net_toggle.h"

namespace krell {
namespace lumora {

NetToggle::NetToggle(QObject* parent) : Toggle(parent) {}

NetToggle::~NetToggle() = default;  // Toggle releases the sources the viewer still holds

QList<QString> NetToggle::exts() const {
    return exts_;
}

void NetToggle::setExts(QList<QString> exts) {
    exts_ = std::move(exts);
    emit onExtSet();
}

QSharedPointer<NetSource>& NetToggle::netSource() {
    return net_source_;
}

QSharedPointer<NetSource> NetToggle::newNetSource() {
    net_source_ = QSharedPointer<NetSource>(new NetSource(this));
    adoptSource(net_source_);
    return net_source_;
}

bool NetToggle::isSupportedExt(const QString& ext) const {
    return exts_.contains(ext);
}

QString NetToggle::defaultHostAddress() const {
    return default_host_address_;
}

void NetToggle::setDefaultHostAddress(QString address) {
    default_host_address_ = std::move(address);
}

unsigned short NetToggle::defaultPort() const {
    return default_port_;
}

void NetToggle::setDefaultPort(unsigned short port) {
    default_port_ = port;
}

NetSource::TransferProtocol NetToggle::defaultProtocol() const {
    return default_protocol_;
}

void NetToggle::setDefaultProtocol(NetSource::TransferProtocol protocol) {
    default_protocol_ = protocol;
}

QString NetToggle::productModelName() const {
    return product_model_name_;
}

void NetToggle::setProductModelName(QString name) {
    product_model_name_ = std::move(name);
}

}  // namespace lumora
}  // namespace krell
