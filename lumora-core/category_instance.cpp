#include "lumora-core/category_instance.h"

#include <QMetaProperty>

#include "lumora-core/registration.h"
#include "scribe/logger.h"

namespace krell {
namespace lumora {

Category::Instance::Instance(QObject* parent) : QObject(parent) {}

Category::Instance::~Instance() {
    // Functors and sub-instances are owned by the shared pointers; were they left as Qt children,
    // QObject would delete those the viewer still holds a reference to.
    for (const auto& functor : functors_) {
        if (functor) functor->setParent(nullptr);
    }
    for (const auto& sub : sub_instances_) {
        if (sub) sub->setParent(nullptr);
    }
}

void Category::Instance::load(const Category& category, QString name) {
    for (auto it = category.functors().cbegin(); it != category.functors().cend(); ++it) {
        addFunctor(it.value(), name);
    }
}

Functor* Category::Instance::addFunctor(const QMetaObject* meta, QString name) {
    if (meta == nullptr) {
        SLOG_ERROR("addFunctor %s: the class is not registered", qUtf8Printable(name));
        return nullptr;
    }
    if (!meta->inherits(&Functor::staticMetaObject)) {
        SLOG_ERROR("addFunctor %s: class %s does not derive from krell::lumora::Functor",
                   qUtf8Printable(name), meta->className());
        return nullptr;
    }
    const QString key = QString::fromLatin1(meta->className()) + name;
    // Checked before construction, so a repeated call leaves no unused functor behind.
    const auto existing = functors_.constFind(key);
    if (existing != functors_.cend() && !existing->isNull()) return existing->data();

    QObject* object = meta->newInstance(Q_ARG(QObject*, this));
    auto* functor = qobject_cast<Functor*>(object);
    if (functor == nullptr) {
        SLOG_ERROR("addFunctor %s: class %s has no invokable constructor taking a QObject*",
                   qUtf8Printable(name), meta->className());
        delete object;
        return nullptr;
    }
    functors_[key] = QSharedPointer<Functor>(functor);
    collectProperties(key, functor);
    return functor;
}

void Category::Instance::collectProperties(const QString& key, QObject* functor) {
    const QMetaObject* meta = functor->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.isWritable()) continue;
        QObject* value = qvariant_cast<QObject*>(property.read(functor));
        if (value == nullptr) continue;
        const QString entry = key + QLatin1Char('.') + QString::fromLatin1(property.name());
        if (auto* toggle = qobject_cast<Toggle*>(value)) {
            toggles_[entry] = toggle;
        } else if (auto* source = qobject_cast<Source_LM*>(value)) {
            sources_[entry] = source;
        } else if (auto* buffer = qobject_cast<Buffer*>(value)) {
            buffers_[entry] = buffer;
        }
    }
}

Category::Instance* Category::Instance::addSubCategory(QString category, QString name) {
    const QSharedPointer<Category> recipe = Registration::categories.value(category);
    if (recipe.isNull()) {
        SLOG_ERROR("addSubCategory %s: category %s is not registered", qUtf8Printable(name),
                   qUtf8Printable(category));
        return nullptr;
    }
    auto* child = new Instance(this);
    QSharedPointer<Instance> held(child);
    connect(child, &Instance::changed, this, &Instance::changed);
    child->load(*recipe, name);
    for (int n = 0;; ++n) {
        const QString key = category + name + QLatin1Char('s') + QString::number(n);
        if (!sub_instances_.value(key).isNull()) continue;
        sub_instances_[key] = held;
        break;
    }
    return child;
}

void Category::Instance::clearSubCategories() {
    if (sub_instances_.isEmpty()) return;
    // One at a time over a snapshot of the keys: a destroyed sub-instance may make slots run that
    // change this map.
    const QStringList keys = sub_instances_.keys();
    for (const QString& key : keys) {
        QSharedPointer<Instance> removed = sub_instances_.take(key);
        detach(removed.data());
    }
    emit changed();
}

QSharedPointer<Category::Instance> Category::Instance::takeSubInstance(const Instance* child) {
    QSharedPointer<Instance> taken;
    for (auto it = sub_instances_.begin(); it != sub_instances_.end();) {
        if (it->data() == child && child != nullptr) {
            taken = *it;
            it = sub_instances_.erase(it);
        } else {
            ++it;
        }
    }
    detach(taken.data());
    return taken;
}

void Category::Instance::detach(Instance* removed) {
    // A sub-instance that leaves the map is no longer part of this instance: as a Qt child it would
    // be deleted with this instance even while someone else still holds a reference to it.
    if (removed == nullptr || removed->parent() != this) return;
    disconnect(removed, &Instance::changed, this, &Instance::changed);
    removed->setParent(nullptr);
}

const QMap<QString, QSharedPointer<Functor>>& Category::Instance::functors() const {
    return functors_;
}

const QMap<QString, Toggle*>& Category::Instance::toggles() const {
    return toggles_;
}

const QMap<QString, Source_LM*>& Category::Instance::sources() const {
    return sources_;
}

const QMap<QString, Buffer*>& Category::Instance::buffers() const {
    return buffers_;
}

const QMap<QString, QSharedPointer<Category::Instance>>& Category::Instance::subInstances() const {
    return sub_instances_;
}

QMap<QString, QSharedPointer<Category::Instance>>& Category::Instance::category_instances() {
    static QMap<QString, QSharedPointer<Instance>> instances;
    return instances;
}

}  // namespace lumora
}  // namespace krell
