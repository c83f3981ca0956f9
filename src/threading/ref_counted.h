#pragma once

#include <atomic>
#include <cstdint>

namespace reflector {

// Intrusive reference count, kept in a base class that every counted class
// inherits virtually, so a complete object has one count however many of its
// bases are counted.
//
//   class Widget : public virtual RefCounted { ... };
//   Widget* widget = new Widget;  // count 1, owned by the creator
//   AddRef(widget);               // 2
//   Release(widget);              // 1
//   Release(widget);              // 0: deleted
//
// Counted objects are created with new; the Release that drops the last
// reference deletes the object through the virtual destructor. An object may
// also live as a plain member or on the stack, as long as nobody releases it
// to zero.
//
// Thread safety: AddRef and Release are single atomic read-modify-writes and
// may be called on any thread; exactly one thread sees the count reach zero.
// Nothing else about a counted object is made thread-safe by this class.
class RefCounted {
 public:
  RefCounted();
  virtual ~RefCounted() = default;

  // Not copyable: a copy would start with the original's count.
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  // The current count, for tests and assertions; stale as soon as it is read
  // if other threads hold references.
  std::int32_t RefCount() const { return refCount.load(std::memory_order_relaxed); }

 private:
  friend void AddRef(RefCounted* object);
  friend void Release(RefCounted* object);
  friend class Reaper;

  std::atomic<std::int32_t> refCount;
  // The Reaper's queue link: handing over links the object in without
  // allocating, so the hander never takes the allocator's locks.
  RefCounted* reaperNext = nullptr;
};

// Takes one more reference.
void AddRef(RefCounted* object);

// Drops one reference; deletes the object when none is left.
void Release(RefCounted* object);

}  // namespace reflector
