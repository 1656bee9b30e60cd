#include "lumora-core/registration.h"

#include "lumora-core/category.h"

namespace krell {
namespace lumora {

QMap<QString, const QMetaObject*> Registration::classes;
QMap<QString, QSharedPointer<Category>> Registration::categories;

void Registration::regist(QString name, const QMetaObject* meta) {
    classes[name] = meta;
}

void Registration::regist(QString name, QSharedPointer<Category> category) {
    categories[name] = std::move(category);
}

}  // namespace lumora
}  // namespace krell
