#pragma once
// Category: a recipe of functor classes, nested sub-categories and connections, read from a
// category file. Immutable once loaded; Category::Instance turns it into live objects.
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSharedPointer>
#include <QString>

#include "lumora-core/lumora_core_export.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT Category : public QObject {
    Q_OBJECT

public:
    class Instance;

    explicit Category(QObject* parent = nullptr);
    ~Category() override;

    //! Reads a category file (UTF-8 JSON). An unreadable or invalid file gives an empty map.
    //! Loads the file's "shared-binary" first (see the JSON form). UI thread.
    static QMap<QString, QSharedPointer<Category>> loadCategories(QString path);
    //! Builds the categories of a parsed category file, keyed by category name. A "shared-binary"
    //! that does not load or lacks "regist_classes" is skipped with one log line; the categories
    //! are still read. The categories are not registered. UI thread.
    static QMap<QString, QSharedPointer<Category>> loadCategories(const QJsonObject& json);

    bool init() const;
    //! Functor key ("Name0", "Name1", ...) -> meta-object (null when the class is not registered).
    const QMap<QString, const QMetaObject*>& functors() const;
    //! Sub-category key ("Name0", ...) -> category name.
    const QMap<QString, QString>& subCategories() const;
    //! (from, to) pairs in file order, kept for the viewer to wire.
    const QList<QPair<QString, QString>>& connections() const;

private:
    // Fills the fields from one category body; `ns` prefixes every functor name.
    void read(const QJsonObject& body, const QString& ns);

    bool init_ = false;
    QMap<QString, const QMetaObject*> functors_;
    QMap<QString, QString> sub_categories_;
    QList<QPair<QString, QString>> connections_;
};

}  // namespace lumora
}  // namespace krell

#include "lumora-core/category_instance.h"
