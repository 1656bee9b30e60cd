#include "lumora-core/functor.h"

namespace krell {
namespace lumora {

Functor::Functor(QObject* parent) : QObject(parent) {}

Functor::~Functor() = default;

void Functor::operator()() {}

void Functor::run() {
    (*this)();
}

void Functor::addSuccessor(Functor* functor) {
    successors_.append(functor);
}

QList<Functor*> Functor::successors() const {
    return successors_;
}

}  // namespace lumora
}  // namespace krell
