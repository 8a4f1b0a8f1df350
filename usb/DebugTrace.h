// Trace lines of the HID link, written to the attached debugger (nothing
// happens when none is attached). Every line comes from the owner's thread.
#pragma once

// Formats one line of at most 1023 characters and writes it, then "\n" as a
// second string.
void DebugTrace(const char* format, ...);
