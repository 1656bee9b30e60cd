#pragma once
// Category::Instance: the live objects of one category. It creates the functors by class, finds
// the toggles, sources and buffers they expose as read-only properties, and holds nested
// sub-instances. Functors and sub-instances are Qt children held by shared pointers; the other
// three maps point at objects of the functors. UI thread only.
#include <QMap>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include "lumora-core/buffer.h"
#include "lumora-core/category.h"
#include "lumora-core/functor.h"
#include "lumora-core/source_lm.h"
#include "lumora-core/toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT Category::Instance : public QObject {
    Q_OBJECT

public:
    explicit Instance(QObject* parent = nullptr);
    //! Releases the five maps; a functor or sub-instance still referenced elsewhere survives.
    ~Instance() override;

    //! Creates the category's functors, in key order, each with addFunctor(meta, name).
    void load(const Category& category, QString name);
    //! Creates an object of `meta`'s class (parent: this) under the key class name + `name`, or
    //! returns the functor already under that key. Null, with one log line, for a null meta-object,
    //! a class that does not derive from Functor or one that cannot be constructed.
    Functor* addFunctor(const QMetaObject* meta, QString name);
    //! Creates a child instance of the registered category `category`, forwards its changed() and
    //! keeps it under category + name + "s" + n. Null, with one log line, for an unknown category.
    Category::Instance* addSubCategory(QString category, QString name);
    //! Drops every sub-instance, then emits changed(); emits nothing when there were none.
    void clearSubCategories();
    //! Takes every entry holding `child` out of the sub-instances and returns a reference to it,
    //! no longer a Qt child of this instance; null when it was not there. Emits nothing.
    QSharedPointer<Category::Instance> takeSubInstance(const Category::Instance* child);

    //! Functor key (class name + instance name) -> functor.
    const QMap<QString, QSharedPointer<Functor>>& functors() const;
    //! Functor key + "." + property name -> object of that functor (also for sources and buffers).
    const QMap<QString, Toggle*>& toggles() const;
    const QMap<QString, Source_LM*>& sources() const;
    const QMap<QString, Buffer*>& buffers() const;
    //! Sub-instance key (category + name + "s" + n) -> sub-instance.
    const QMap<QString, QSharedPointer<Category::Instance>>& subInstances() const;

    //! The process-wide name -> instance map; the library only stores it, the viewer fills it.
    static QMap<QString, QSharedPointer<Category::Instance>>& category_instances();

signals:
    void changed();

private:
    // Enters the read-only toggle, source and buffer properties of `functor` under `key`.
    void collectProperties(const QString& key, QObject* functor);
    // Cuts a sub-instance that left the map loose from this instance (parent and changed()).
    void detach(Instance* removed);

    QMap<QString, QSharedPointer<Functor>> functors_;
    QMap<QString, Toggle*> toggles_;
    QMap<QString, Source_LM*> sources_;
    QMap<QString, Buffer*> buffers_;
    QMap<QString, QSharedPointer<Category::Instance>> sub_instances_;
};

}  // namespace lumora
}  // namespace krell
