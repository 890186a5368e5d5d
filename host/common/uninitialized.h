// A vector whose resize leaves new numbers uninitialised, for arrays that are sized first and then
// written in full: the zero fill would be wasted work, and for a large array the first touch of its
// pages as well.
#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace torvel {

template <class T>
struct UninitializedAllocator : std::allocator<T> {
    static_assert(std::is_trivial_v<T>);
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    // Value-initialisation (resize, the size constructor) becomes default-initialisation: nothing.
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <class T>
using UninitializedVector = std::vector<T, UninitializedAllocator<T>>;

}  // namespace torvel
