// The process's one client of the FireWire audio driver's notifications:
// any number of listeners share a single registration of our callback.
#pragma once

#include <platform/win32.h>

#include <cstdint>
#include <vector>

struct DriverListener;

struct AudioDriverClient {
  virtual ~AudioDriverClient();

  // The one client, made on first call.
  static AudioDriverClient& Instance();

  // Joins the listener; the first one registers with the driver (with its
  // mask). A failed registration leaves the listener out and the cookie 0.
  void AddListener(DriverListener* listener, std::uint32_t mask);
  // Leaves; the last one unregisters.
  void RemoveListener(DriverListener* listener);

  // The driver's callback, on its notification thread. userData is the
  // client; userValue is not used.
  static void NotificationCallback(void* userData, std::uint32_t userValue, std::uint32_t eventWord,
                                   std::uint32_t word4, std::uint32_t word5);

  // The client lock: a scoped hold of one process-wide, re-entrant critical
  // section, separate from the API lock. Taken before the API lock, never
  // while holding it.
  struct WithMutexLocked {
    struct MutexLock {
      MutexLock();
      virtual ~MutexLock();
      MutexLock(const MutexLock&) = delete;
      MutexLock& operator=(const MutexLock&) = delete;
      CRITICAL_SECTION section;
    };

    WithMutexLocked();
    virtual ~WithMutexLocked();
    WithMutexLocked(const WithMutexLocked&) = delete;
    WithMutexLocked& operator=(const WithMutexLocked&) = delete;

    static MutexLock& Lock();
  };

  std::uint32_t cookie = 0;
  std::vector<DriverListener*> listeners;

 private:
  AudioDriverClient() = default;
  // AddListener's work under the client lock; false when the registration
  // failed.
  bool Join(DriverListener* listener, std::uint32_t mask);
};

struct DriverListener {
  using Callback = void (*)(void* userData, std::uint32_t userValue, std::uint32_t eventWord,
                            std::uint32_t word4, std::uint32_t word5);

  // Joins the client. cookie is nonzero when the driver answered.
  DriverListener(std::uint32_t mask, int unused);
  ~DriverListener();
  DriverListener(const DriverListener&) = delete;
  DriverListener& operator=(const DriverListener&) = delete;

  Callback callback;
  void* userData;
  std::uint32_t userValue;
  std::uint32_t cookie;
  // Under the client lock: the event words of every notification that
  // reached this listener without a callback, and whether one did.
  std::uint32_t eventBits;
  bool signalled;
};
