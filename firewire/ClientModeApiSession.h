// The one session by which the FireWire audio driver knows this client: the
// shared header, the connect/disconnect requests, API calls, and the
// notification thread that hands each driver notification to its callback.
#pragma once

#include <platform/win32.h>

#include "firewire/DriverFormats.h"

#include <atomic>
#include <cstdint>

namespace FireWire {

class ClientModeApiSession {
 public:
  ClientModeApiSession();
  virtual ~ClientModeApiSession();
  ClientModeApiSession(const ClientModeApiSession&) = delete;
  ClientModeApiSession& operator=(const ClientModeApiSession&) = delete;

  virtual bool IsNotConnected();
  // code: the notification code; payload: a NotificationPayload in place.
  virtual void OnNotification(std::uint32_t code, const void* payload) = 0;

  // One of the driver's functions; the driver's 32-bit result word, or 0
  // when the request could not be sent.
  std::uint32_t SendRequest(std::uint32_t driverFunction, std::uint32_t apiFunction,
                            std::uint64_t argument);
  std::uint32_t CallApi(std::uint32_t apiFunction, std::uint64_t argument);

  // The APC routine named in the header: record is a DriverRequestRecord.
  static void CALLBACK ApcDispatch(ULONG_PTR record);
  static DWORD WINAPI NotificationThreadProc(LPVOID header);

  const unsigned char* Header() const { return header_; }

 protected:
  // Stops the notification thread, disconnects and closes the device. Every
  // destructor in the hierarchy calls it first, so that the thread never
  // dispatches into a half-destroyed object; only the first call acts.
  void Shutdown();
  // The most derived constructor calls it last: until then the thread
  // dispatches nothing, so no notification reaches a half-built object.
  void MarkReady();

 private:
  void NotificationLoop();
  void DrainRing();
  bool Serving() const { return connected_.load() && !stopping_.load(); }
  HANDLE EventHandle() const;
  HANDLE ThreadHandle() const;

  alignas(8) unsigned char header_[ClientModeApiHeader::kSize];
  std::atomic<bool> connected_{false};
  // Set by the destructor before it clears the connected flag, so that a
  // connect answer arriving late cannot set the thread serving again.
  std::atomic<bool> stopping_{false};
  // Manual-reset events the thread waits at. The thread's handle is stored
  // after CreateThread returns; the thread waits for it before it connects,
  // since the driver may take it then.
  HANDLE handleStored_ = nullptr;
  // Set by MarkReady, or by Shutdown so that a held thread can end.
  HANDLE ready_ = nullptr;
  // Set by the thread once the driver has answered its connect request.
  std::atomic<bool> connectAnswered_{false};
  bool shutDown_ = false;
};

class Audio_ClientModeApiSession : public ClientModeApiSession {
 public:
  Audio_ClientModeApiSession() { MarkReady(); }
  ~Audio_ClientModeApiSession() override;
  void OnNotification(std::uint32_t code, const void* payload) override;
};

// Callback forms of the notification codes (the driver's calling form).
using NotificationCallbackCode0 = void (*)(void* userData, std::uint32_t userValue,
                                           const void* block, std::uint32_t, std::uint32_t);
using NotificationCallbackWords = void (*)(void* userData, std::uint32_t userValue, std::uint32_t,
                                           std::uint32_t, std::uint32_t);
using NotificationCallbackData = void (*)(void* userData, std::uint32_t userValue,
                                          const void* data);

}  // namespace FireWire

// Registers the calling thread with the multimedia class scheduler's
// "Pro Audio" task at critical priority, when avrt.dll is there.
void EnableProAudioThreadPriority();
