#pragma once
// Functor: the base of the viewer's processing objects. Classes are registered by name and
// created by Category::Instance through their invokable constructor taking one QObject*.
#include <QList>
#include <QObject>

#include "lumora-core/lumora_core_export.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT Functor : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<krell::lumora::Functor*> successors READ successors)

public:
    Q_INVOKABLE explicit Functor(QObject* parent = nullptr);
    ~Functor() override;

    //! The work step; the base does nothing.
    virtual void operator()();

    //! Calls operator()().
    Q_INVOKABLE void run();
    //! Appends `functor` (not owned; duplicates allowed) to the successors.
    Q_INVOKABLE void addSuccessor(krell::lumora::Functor* functor);
    //! A copy of the successors, in the order they were added.
    QList<Functor*> successors() const;

private:
    QList<Functor*> successors_;
};

}  // namespace lumora
}  // namespace krell
