// A simulated FireWire audio driver for tests and the demo, registered with
// the host platform as the device "VarnFWA". Like the real driver it works
// on the client's memory in place (METHOD_NEITHER): it reads the request
// record and what it points to, writes the caller's error records and output
// buffers, puts its notification ring's address into the session header,
// and delivers notifications through the ring (signalling the session's
// event) or as APCs to the session's notification thread.
//
// Units behind it have ids, UTF-16 names, the attributes of API 4, 17 and
// 18, a model code and a register space. The register space is a plain
// register file; derive from SimFireWireUnit and override ReadRegister /
// WriteRegister (or set the hooks) to put an updater behind it.
#pragma once

#include <platform/win32.h>
#include <platform/host/providers.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class SimFireWireUnit {
 public:
  SimFireWireUnit(std::uint64_t id, std::u16string name, std::uint32_t modelCode);
  virtual ~SimFireWireUnit() = default;

  // Called on the thread of the API call, without the driver's lock held.
  // Default: the hook when set, else the register file (0 when unwritten).
  virtual std::uint32_t ReadRegister(std::uint32_t address);
  virtual void WriteRegister(std::uint32_t address, std::uint32_t value);

  // Thread-safe access to the plain register file.
  std::uint32_t Register(std::uint32_t address) const;
  void SetRegister(std::uint32_t address, std::uint32_t value);

  // Set before the unit is used by a client.
  std::uint64_t id;
  std::u16string name;
  std::uint32_t modelCode;
  std::uint32_t attribute4 = 5;   // API 4: 5 for a supported unit
  std::uint32_t attribute17 = 1;  // API 17: nonzero for a supported unit
  std::uint32_t attribute18 = 0;  // API 18: not used by the client
  bool terminateName = true;      // false: the name fills the buffer unterminated
  std::function<std::uint32_t(std::uint32_t address)> readHook;
  std::function<void(std::uint32_t address, std::uint32_t value)> writeHook;

 private:
  mutable std::mutex mutex_;
  std::map<std::uint32_t, std::uint32_t> registers_;
};

class SimFireWireDriver : public platform::host::DriverDevice {
 public:
  // The error the driver reports for an unknown device id.
  static constexpr std::int32_t kUnknownDevice = 0x20;
  static constexpr std::uint32_t kFirstCookie = 0x1001;

  SimFireWireDriver();  // registers "VarnFWA"
  ~SimFireWireDriver() override;
  SimFireWireDriver(const SimFireWireDriver&) = delete;
  SimFireWireDriver& operator=(const SimFireWireDriver&) = delete;

  // ---- knobs
  // false: opens of the device are refused (as with no driver installed).
  void SetPresent(bool present);
  // Takes the device out of the platform altogether (until destruction).
  void Unregister();
  void SetConnectResult(std::uint32_t result);  // default 1
  void SetVersionAnswer(std::uint32_t answer);  // default 0 (accepted)
  void SetProvideRing(bool provide);            // default true
  void SetRingSizeWord(std::uint32_t size);     // default 309264
  // Notifications the driver sends while it answers a connect, before the
  // answer: a ring record (written and the write index advanced) and an APC
  // to the thread named in header slot 0x14. The event is not signalled: a
  // signal that early lands before the client's thread waits, and the
  // constructor's wait or the thread's pulse takes it.
  void SetRingAtConnect(std::uint32_t code, const std::vector<unsigned char>& payload);
  void SetApcAtConnect(std::uint32_t code, const std::vector<unsigned char>& payload);
  // The driver signals the client's event once it has taken the connect,
  // and answers holdMs later (as a driver that adds ring records then).
  void SetSignalAtConnect(DWORD holdMs);
  // Connect answers wait, after any signal and hold, until
  // ReleaseConnectAnswers(): a driver slower than any wait of the client,
  // with no time that a loaded machine could overrun. boundMs (real time,
  // not scaled) only ends a hold that a faulty client would wait out for
  // ever. The destructor releases them too.
  void HoldConnectAnswers(DWORD boundMs = 10000);
  void ReleaseConnectAnswers();
  // Every later call of that API function fails: the code and text go to the
  // caller's error record, and the call answers result.
  void SetApiError(std::uint32_t api, std::int32_t code, const std::string& text,
                   std::uint32_t result = 0);
  void ClearApiErrors();
  // Called on every API call (version check included) on the caller's
  // thread before it is answered, without the driver's lock held. block is
  // the argument block in place (null for the version check).
  using ApiHook = std::function<void(std::uint32_t api, const unsigned char* block)>;
  void SetApiHook(ApiHook hook);

  // ---- units, in index order for API 15
  void AddUnit(std::shared_ptr<SimFireWireUnit> unit);
  void RemoveUnit(std::uint64_t id);

  // ---- what the driver saw
  struct Request {
    DWORD ioctlCode = 0;
    DWORD inSize = 0;
    DWORD outSize = 0;
    std::vector<unsigned char> record;  // the request record as sent
    std::uint32_t driverFunction = 0;   // from the I/O control code
    std::uint32_t api = 0;              // record 0x20
    std::uint64_t argument = 0;         // record 0x08
    std::vector<unsigned char> block;   // API calls: the first 0x28 bytes of the block
    DWORD threadId = 0;
  };
  std::vector<Request> Requests() const;
  std::size_t RequestCount() const;
  std::size_t ApiCalls(std::uint32_t api) const;
  void ClearRequests();
  std::size_t OpenAttempts() const;

  struct Registration {
    std::uint32_t cookie = 0;
    std::uint32_t mask = 0;
    std::uint64_t callback = 0;
    std::uint64_t userData = 0;
    std::uint64_t third = 0;
  };
  std::vector<Registration> Registrations() const;
  bool Connected() const;
  // Header slot 0x14 (the notification thread's handle) as it was when the
  // last connect request arrived.
  std::uint64_t ThreadHandleAtConnect() const;
  // The session header of the connected client, or null.
  const unsigned char* Header() const;

  // ---- notifications
  // A payload of the given code for a registration: callback and user data at
  // its head, then three words at 0x18, 0x1C and 0x20.
  static std::vector<unsigned char> MakePayload(std::uint64_t callback, std::uint64_t userData,
                                                std::uint32_t w1 = 0, std::uint32_t w2 = 0,
                                                std::uint32_t w3 = 0);
  // Writes one ring slot at the write index, advances it and signals the
  // session's event. False when not connected, without a ring, or full.
  bool PostRing(std::uint32_t code, const std::vector<unsigned char>& payload);
  // Several records in one go: all slots written, then the write index
  // advanced once and the event signalled once. False (nothing posted) when
  // they do not fit.
  bool PostRingBatch(std::uint32_t code, const std::vector<std::vector<unsigned char>>& payloads);
  // Queues an APC record naming the payload to the notification thread.
  bool QueueApc(std::uint32_t code, const std::vector<unsigned char>& payload);
  // Code 1 with (eventWord, word4, word5) to every registration, through the
  // ring or as APCs. The number delivered.
  std::size_t NotifyRegistrations(std::uint32_t eventWord, std::uint32_t word4 = 0,
                                  std::uint32_t word5 = 0, bool asApc = false);
  void SignalEvent();

  // ---- the ring, raw (for the bad-ring knobs)
  unsigned char* Ring() const;
  void SetRingIndices(std::uint32_t write, std::uint32_t read);
  std::uint32_t WriteIndex() const;
  std::uint32_t ReadIndex() const;
  // Waits (real time, bounded) until the client has taken every ring record.
  // With resignal, like a driver with records still waiting, it signals the
  // event again every few milliseconds: a client that resets the event after
  // its drain can miss a signal that came just before the reset. Without it,
  // the client must take everything on the signals it already had.
  bool WaitRingDrained(DWORD ms = 5000, bool resignal = true);

  // ---- DriverDevice
  DWORD OnOpen(std::uint64_t openId, const platform::host::OpenRecord& open) override;
  DWORD IoControl(std::uint64_t openId, DWORD code, void* in, DWORD inSize, void* out,
                  DWORD outSize, DWORD& bytesReturned) override;

 private:
  struct ApcItem;
  std::uint32_t Connect(unsigned char* header);
  // With mutex_ held.
  bool PostRingLocked(std::uint32_t code, const std::vector<std::vector<unsigned char>>& payloads,
                      bool signal);
  bool QueueApcLocked(std::uint32_t code, const std::vector<unsigned char>& payload);
  // The connect's work under the lock; what to signal after it, if anything.
  std::uint32_t ConnectLocked(unsigned char* header, HANDLE& signal, DWORD& hold);
  void Disconnect(unsigned char* header);
  std::uint32_t CallApi(std::uint32_t api, std::uint64_t argument);
  std::shared_ptr<SimFireWireUnit> FindUnit(std::uint64_t id) const;
  static void WriteError(unsigned char* block, std::int32_t code, const std::string& text);

  mutable std::mutex mutex_;
  platform::host::DriverRegistration registration_;
  bool present_ = true;
  std::size_t openAttempts_ = 0;
  std::uint32_t connectResult_ = 1;
  std::uint32_t versionAnswer_ = 0;
  bool provideRing_ = true;
  std::uint32_t ringSizeWord_;
  struct AtConnect {
    bool set = false;
    std::uint32_t code = 0;
    std::vector<unsigned char> payload;
  };
  AtConnect ringAtConnect_;
  AtConnect apcAtConnect_;
  bool signalAtConnect_ = false;
  DWORD signalHoldMs_ = 0;
  bool holdAnswers_ = false;
  DWORD holdBoundMs_ = 0;
  std::condition_variable answersReleased_;
  std::uint64_t threadHandleAtConnect_ = 0;
  struct ApiError {
    std::int32_t code;
    std::string text;
    std::uint32_t result;
  };
  std::map<std::uint32_t, ApiError> apiErrors_;
  ApiHook apiHook_;
  std::vector<std::shared_ptr<SimFireWireUnit>> units_;
  std::vector<Request> requests_;
  std::vector<Registration> registrations_;
  std::uint32_t nextCookie_ = kFirstCookie;
  unsigned char* header_ = nullptr;  // the connected session's
  HANDLE event_ = nullptr;
  std::unique_ptr<std::uint64_t[]> ring_;  // 8-aligned storage
  std::deque<std::unique_ptr<ApcItem>> apcItems_;
};

}  // namespace sim
