#pragma once

#include <cstdint>
#include <string>

// Reading option values the user typed. Each parser takes the whole text or nothing: no
// trailing characters, no overflow, and the value is left untouched on failure.

// A whole number that fits 32 bits.
bool ParseInt32(const std::string& text, int32_t& value);

// A finite decimal number (no NaN, no infinity).
bool ParseFiniteNumber(const std::string& text, double& value);

// Prints "quillmar[ COMMAND]: MESSAGE" on stderr and gives the failing exit code.
int ReportFailure(const char* command, const std::string& message);
