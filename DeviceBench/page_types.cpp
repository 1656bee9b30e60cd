#include "DeviceBench/page_types.h"

#include <QQmlEngine>

#include "DeviceBench/connect_type.h"
#include "DeviceBench/edit_kind.h"

namespace {

const char* const kModule = "DeviceBench";
constexpr int kMajor = 1;
constexpr int kMinor = 0;
const char* const kEnumsOnly = "an enumeration: use its values, e.g. ConnectType.Network";

}  // namespace

void RegisterPageTypes() {
    static const bool registered = [] {
        qmlRegisterUncreatableMetaObject(ConnectType::staticMetaObject, kModule, kMajor, kMinor,
                                         "ConnectType", kEnumsOnly);
        qmlRegisterUncreatableMetaObject(EditKind::staticMetaObject, kModule, kMajor, kMinor,
                                         "EditKind", kEnumsOnly);
        return true;
    }();
    (void)registered;
}
