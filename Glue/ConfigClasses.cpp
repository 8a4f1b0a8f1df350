#include "Glue/ConfigClasses.h"

#include "firewire/ClientModeApi.h"

namespace {
constexpr const char* kSourceFile = "..\\..\\..\\Glue\\ConfigClasses";
constexpr int kRegisterLine = 64;
constexpr int kUnregisterLine = 90;
}  // namespace

AudioDriverClient::WithMutexLocked::MutexLock::MutexLock() { InitializeCriticalSection(&section); }

AudioDriverClient::WithMutexLocked::MutexLock::~MutexLock() { DeleteCriticalSection(&section); }

AudioDriverClient::WithMutexLocked::MutexLock& AudioDriverClient::WithMutexLocked::Lock() {
  static MutexLock lock;
  return lock;
}

AudioDriverClient::WithMutexLocked::WithMutexLocked() { EnterCriticalSection(&Lock().section); }

AudioDriverClient::WithMutexLocked::~WithMutexLocked() { LeaveCriticalSection(&Lock().section); }

AudioDriverClient& AudioDriverClient::Instance() {
  // The lock is made before the client, so that at exit the client goes
  // first: its destructor stops the notification thread, which may still be
  // waiting for this lock inside NotificationCallback.
  WithMutexLocked::Lock();
  static AudioDriverClient client;
  return client;
}

AudioDriverClient::~AudioDriverClient() { ClientModeApi_ReleaseSession(); }

void AudioDriverClient::AddListener(DriverListener* listener, std::uint32_t mask) {
  if (!Join(listener, mask)) {
    // A session the driver refused goes only now: its notification thread
    // may be waiting for the client lock, and its release waits for it.
    ClientModeApi_ReleaseRefusedSession();
  }
}

bool AudioDriverClient::Join(DriverListener* listener, std::uint32_t mask) {
  WithMutexLocked lock;
  if (listeners.empty()) {
    try {
      FWCnslError error(kSourceFile, kRegisterLine);
      cookie = ClientModeApi_OpenAndRegisterCallback(
          &error, mask,
          static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&NotificationCallback)),
          static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(this)), 0);
      error.ThrowIfError();
    } catch (...) {
      cookie = 0;
      return false;
    }
  }
  listeners.push_back(listener);
  return true;
}

void AudioDriverClient::RemoveListener(DriverListener* listener) {
  WithMutexLocked lock;
  for (auto it = listeners.begin(); it != listeners.end(); ++it) {
    if (*it != listener) continue;
    listeners.erase(it);
    if (listeners.empty()) {
      try {
        FWCnslError error(kSourceFile, kUnregisterLine);
        ClientModeApi_UnregisterCallback(&error, cookie);
        error.ThrowIfError();
      } catch (...) {
      }
      cookie = 0;
    }
    return;
  }
}

void AudioDriverClient::NotificationCallback(void* userData, std::uint32_t /*userValue*/,
                                             std::uint32_t eventWord, std::uint32_t word4,
                                             std::uint32_t word5) {
  WithMutexLocked lock;
  if (userData == nullptr) return;
  auto* client = static_cast<AudioDriverClient*>(userData);
  for (DriverListener* listener : client->listeners) {
    if (listener->callback != nullptr && listener->userData != nullptr) {
      listener->callback(listener->userData, listener->userValue, eventWord, word4, word5);
    } else {
      listener->eventBits |= eventWord;
      listener->signalled = true;
    }
  }
}

DriverListener::DriverListener(std::uint32_t mask, int /*unused*/)
    : callback(nullptr),
      userData(nullptr),
      userValue(0),
      cookie(0),
      eventBits(0),
      signalled(false) {
  try {
    AudioDriverClient& client = AudioDriverClient::Instance();
    client.AddListener(this, mask);
    cookie = client.cookie;
  } catch (const FWCnslError&) {
  } catch (const FWCnslException&) {
  } catch (...) {
  }
}

DriverListener::~DriverListener() {
  try {
    AudioDriverClient& client = AudioDriverClient::Instance();
    client.RemoveListener(this);
    cookie = 0;
  } catch (const FWCnslError&) {
  } catch (const FWCnslException&) {
  } catch (...) {
  }
}
