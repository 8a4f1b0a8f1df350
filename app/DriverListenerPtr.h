// The dialog's hold on its one driver listener (FireWire kind only).
#pragma once

struct DriverListener;

// Owns one DriverListener or none. Whoever makes a listener hands in the
// way to delete it, so the dialog needs only the declaration of the type.
class DriverListenerPtr {
 public:
  using Deleter = void (*)(DriverListener*);

  DriverListenerPtr() = default;
  ~DriverListenerPtr() { reset(); }
  DriverListenerPtr(const DriverListenerPtr&) = delete;
  DriverListenerPtr& operator=(const DriverListenerPtr&) = delete;

  // Deletes the listener held, if any, then holds the given one.
  void reset(DriverListener* listener = nullptr, Deleter deleter = nullptr) {
    DriverListener* old = listener_;
    Deleter oldDeleter = deleter_;
    listener_ = listener;
    deleter_ = deleter;
    if (old != nullptr && oldDeleter != nullptr) {
      oldDeleter(old);
    }
  }

  DriverListener* get() const { return listener_; }
  DriverListener* operator->() const { return listener_; }
  explicit operator bool() const { return listener_ != nullptr; }

 private:
  DriverListener* listener_ = nullptr;
  Deleter deleter_ = nullptr;
};
