// Ends a capture of standard output begun with CaptureStdout.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace support {

// What was captured. The test's own failure messages went there too, so a
// test that has failed shows the capture on standard error.
inline std::string TakeCapturedStdout() {
  std::string out = testing::internal::GetCapturedStdout();
  if (testing::Test::HasFailure()) std::fputs(out.c_str(), stderr);
  return out;
}

}  // namespace support
