#include <usb/AtomicLong.h>

AtomicLong::~AtomicLong() = default;
