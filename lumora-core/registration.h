#pragma once
// Registration: the process-wide registry of functor classes (by class name) and categories (by
// category name). Plain maps without locks: fill them from one thread, before others read them.
#include <QMap>
#include <QSharedPointer>
#include <QString>

#include "lumora-core/lumora_core_export.h"

struct QMetaObject;

namespace krell {
namespace lumora {

class Category;

class LUMORA_CORE_EXPORT Registration {
public:
    //! Class name -> meta-object; a null value marks a name that was looked up but never registered.
    static QMap<QString, const QMetaObject*> classes;
    //! Category name -> category.
    static QMap<QString, QSharedPointer<Category>> categories;

    //! Enters or replaces a class.
    static void regist(QString name, const QMetaObject* meta);
    //! Enters or replaces a category.
    static void regist(QString name, QSharedPointer<Category> category);
};

}  // namespace lumora
}  // namespace krell
