// Unformatted writing to standard output.
#pragma once

// Writes text (zero-terminated; null writes nothing) to standard output
// unchanged, without adding a line feed, and flushes it so that it keeps its
// place among the lines written to standard error.
void qvl_SysStdOutWrite(const char* text);
