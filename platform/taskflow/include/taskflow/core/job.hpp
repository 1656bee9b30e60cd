#pragma once
// tf::detail::Job: a move-only, type-erased "call once" holder for the executor's queues. Small
// callables live inside the job itself, so submitting one costs no heap allocation; larger ones,
// or ones whose move may throw, are kept on the heap and owned by the job.
#include <cstddef>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

namespace tf {
namespace detail {

class Job {
public:
    //! An empty job; calling it is undefined.
    Job() noexcept = default;

    //! Takes `callable` (called with no arguments, result ignored). May throw std::bad_alloc for
    //! callables that do not fit inline.
    template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, Job>>>
    explicit Job(F&& callable) {
        using D = std::decay_t<F>;
        if constexpr (fitsInline<D>()) {
            ::new (static_cast<void*>(storage_)) D(std::forward<F>(callable));
            handler_ = &inlineHandler<D>;
        } else {
            ::new (static_cast<void*>(storage_)) D*(new D(std::forward<F>(callable)));
            handler_ = &heapHandler<D>;
        }
    }

    Job(Job&& other) noexcept { takeFrom(other); }
    Job& operator=(Job&& other) noexcept {
        if (this != &other) {
            reset();
            takeFrom(other);
        }
        return *this;
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    ~Job() { reset(); }

    //! Calls the held callable; its exception, if any, propagates. The job keeps the callable
    //! (and what it captured) until reset() or destruction.
    void operator()() { handler_(Op::kRun, this, nullptr); }

    //! Destroys the held callable; the job becomes empty.
    void reset() noexcept {
        if (handler_ != nullptr) {
            handler_(Op::kDestroy, this, nullptr);
            handler_ = nullptr;
        }
    }

    explicit operator bool() const noexcept { return handler_ != nullptr; }

private:
    enum class Op { kRun, kMove, kDestroy };
    using Handler = void (*)(Op, Job* self, Job* from);
    static constexpr std::size_t kInlineBytes = 48;  // with the handler, one 64-byte cache line

    template <typename D>
    static constexpr bool fitsInline() {
        return sizeof(D) <= kInlineBytes && alignof(D) <= alignof(std::max_align_t) &&
               std::is_nothrow_move_constructible_v<D>;
    }

    template <typename D>
    static void inlineHandler(Op op, Job* self, Job* from) {
        D* held = std::launder(reinterpret_cast<D*>(self->storage_));
        switch (op) {
            case Op::kRun:
                std::invoke(*held);
                break;
            case Op::kMove: {
                D* source = std::launder(reinterpret_cast<D*>(from->storage_));
                ::new (static_cast<void*>(self->storage_)) D(std::move(*source));
                source->~D();
                break;
            }
            case Op::kDestroy:
                held->~D();
                break;
        }
    }

    template <typename D>
    static void heapHandler(Op op, Job* self, Job* from) {
        switch (op) {
            case Op::kRun:
                std::invoke(*heldPointer<D>(self));
                break;
            case Op::kMove:
                ::new (static_cast<void*>(self->storage_)) D*(heldPointer<D>(from));
                break;
            case Op::kDestroy:
                delete heldPointer<D>(self);
                break;
        }
    }

    template <typename D>
    static D* heldPointer(Job* job) {
        return *std::launder(reinterpret_cast<D**>(job->storage_));
    }

    void takeFrom(Job& other) noexcept {
        if (other.handler_ == nullptr) return;
        other.handler_(Op::kMove, this, &other);
        handler_ = other.handler_;
        other.handler_ = nullptr;
    }

    alignas(std::max_align_t) unsigned char storage_[kInlineBytes];
    Handler handler_ = nullptr;
};

}  // namespace detail
}  // namespace tf
