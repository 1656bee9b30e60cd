#include "lumora-core/category.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLibrary>
#include <QTextStream>

#include "lumora-core/registration.h"
#include "scribe/logger.h"

namespace krell {
namespace lumora {

namespace {

using RegistClasses = void (*)();

// Loads a plug-in and lets it register its classes. The library stays loaded: its meta-objects
// are referenced from the registry for the rest of the process.
void loadSharedBinary(const QString& path) {
    QLibrary library(path);
    if (!library.load()) {
        SLOG_ERROR("shared-binary %s does not load: %s", qUtf8Printable(path),
                   qUtf8Printable(library.errorString()));
        return;
    }
    auto registClasses = reinterpret_cast<RegistClasses>(library.resolve("regist_classes"));
    if (registClasses == nullptr) {
        SLOG_ERROR("shared-binary %s has no regist_classes function", qUtf8Printable(path));
        return;
    }
    registClasses();
}

// `base` followed by the smallest number n >= 0 that gives a key not yet in `map`.
template <typename Map>
QString unusedKey(const QString& base, const Map& map) {
    for (int n = 0;; ++n) {
        QString key = base + QString::number(n);
        if (!map.contains(key)) return key;
    }
}

}  // namespace

Category::Category(QObject* parent) : QObject(parent) {}

Category::~Category() = default;

QMap<QString, QSharedPointer<Category>> Category::loadCategories(QString path) {
    QFile file(path);
    QByteArray text;
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&file);
        // The file is UTF-8 whatever the locale; the locale codec would garble non-ASCII names.
        stream.setCodec("UTF-8");
        text = stream.readAll().toUtf8();
    }
    return loadCategories(QJsonDocument::fromJson(text).object());
}

QMap<QString, QSharedPointer<Category>> Category::loadCategories(const QJsonObject& json) {
    const QString binary = json.value(QStringLiteral("shared-binary")).toString();
    if (!binary.isEmpty()) loadSharedBinary(binary);
    const QString ns = json.value(QStringLiteral("namespace")).toString();

    QMap<QString, QSharedPointer<Category>> result;
    for (const QJsonValue element : json.value(QStringLiteral("categories")).toArray()) {
        const QJsonObject object = element.toObject();
        if (object.isEmpty()) continue;  // an element without a name names no category
        const QString name = object.begin().key();
        auto category = QSharedPointer<Category>::create();
        category->read(object.value(name).toObject(), ns);
        result[name] = category;
    }
    return result;
}

void Category::read(const QJsonObject& body, const QString& ns) {
    // The body's own "namespace" is not used: class names always take the file's prefix, which
    // keeps existing category files naming the same classes.
    init_ = body.value(QStringLiteral("init")).toBool();
    for (const QJsonValue value : body.value(QStringLiteral("functors")).toArray()) {
        const QString functor = value.toString();
        // operator[] enters an unknown name with a null meta-object, marking it as wanted.
        functors_[unusedKey(functor, functors_)] = Registration::classes[ns + functor];
    }
    for (const QJsonValue value : body.value(QStringLiteral("sub_categories")).toArray()) {
        const QString sub = value.toString();
        sub_categories_[unusedKey(sub, sub_categories_)] = sub;
    }
    for (const QJsonValue value : body.value(QStringLiteral("connections")).toArray()) {
        const QJsonArray pair = value.toArray();
        connections_.append(qMakePair(pair.size() > 0 ? pair.at(0).toString() : QString(),
                                      pair.size() > 1 ? pair.at(1).toString() : QString()));
    }
}

bool Category::init() const {
    return init_;
}

const QMap<QString, const QMetaObject*>& Category::functors() const {
    return functors_;
}

const QMap<QString, QString>& Category::subCategories() const {
    return sub_categories_;
}

const QList<QPair<QString, QString>>& Category::connections() const {
    return connections_;
}

}  // namespace lumora
}  // namespace krell
