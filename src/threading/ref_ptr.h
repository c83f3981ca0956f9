#pragma once

#include <utility>

#include "threading/ref_counted.h"

namespace reflector {

// Holds one counted reference to an object, or nothing.
//
//   RefPtr<Optimizer> current;
//   current.Adopt(new Optimizer(...));  // takes over the creation reference
//   current->Run();
//   current.Reset();                    // releases it; may delete the object
//
// Copying takes another reference; moving hands the reference over.
//
// Thread safety: a holder is a plain value; one thread at a time may change or
// read it. Different holders of the same object may be used on different
// threads, since the count itself is atomic.
template <typename T>
class RefPtr {
 public:
  RefPtr() = default;
  ~RefPtr() { Reset(); }

  RefPtr(const RefPtr& other) { Assign(other.object); }
  RefPtr(RefPtr&& other) noexcept : object(std::exchange(other.object, nullptr)) {}

  RefPtr& operator=(const RefPtr& other) {
    Assign(other.object);
    return *this;
  }
  RefPtr& operator=(RefPtr&& other) noexcept {
    // Safe for self-move: the pointer is taken out before Adopt looks at ours.
    Adopt(std::exchange(other.object, nullptr));
    return *this;
  }

  // Stores a fresh object without taking a reference, then releases the
  // previously held one (which may be destroyed, seeing the new one stored).
  void Adopt(T* fresh) {
    T* previous = std::exchange(object, fresh);
    if (previous) Release(previous);
  }

  // Takes a reference to target (may be null) before dropping the old one, so
  // assigning the object already held never destroys it.
  void Assign(T* target) {
    if (target) AddRef(target);
    T* previous = std::exchange(object, target);
    if (previous) Release(previous);
  }

  // Empties the holder first, then releases: a destructor run by the release
  // finds the holder already empty.
  void Reset() {
    T* previous = std::exchange(object, nullptr);
    if (previous) Release(previous);
  }

  T* Get() const { return object; }
  T* operator->() const { return object; }
  T& operator*() const { return *object; }
  explicit operator bool() const { return object != nullptr; }

 private:
  T* object = nullptr;
};

}  // namespace reflector
