// A 32-bit value shared between the owner's thread and the listener, read
// and written only through the interlocked operations (full barriers).
#pragma once

#include <platform/win32.h>

struct AtomicLong {
  AtomicLong() = default;
  AtomicLong(const AtomicLong&) = delete;
  AtomicLong& operator=(const AtomicLong&) = delete;
  virtual ~AtomicLong();

  LONG Read() { return InterlockedExchangeAdd(&m_value, 0); }
  void Write(LONG value) { InterlockedExchange(&m_value, value); }

 private:
  volatile LONG m_value = 0;
};
