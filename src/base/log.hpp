#pragma once
// The diagnostic log: one line per event on standard error,
// "[{timestamp}] vesk {LEVEL} {message}". INFO lines are always written; DEBUG lines only
// when verbosity_level is non-zero. Safe to call from any thread: each line is written
// whole, in one write, under one lock.

#include <cstdint>
#include <string_view>

namespace vesk {

enum class LogLevel { Info, Debug };

// Written once by the entry point before any log line or thread, only read afterwards.
inline std::uint8_t verbosity_level = 0;

// Writes the line unconditionally; callers test verbosity for DEBUG (log_debug does).
void log_line(LogLevel level, std::string_view message);

// Writes text to standard error whole, under the same lock as log lines (hints,
// download messages, error reports).
void write_stderr(std::string_view text);

inline void log_info(std::string_view message) { log_line(LogLevel::Info, message); }
inline void log_debug(std::string_view message) {
  if (verbosity_level != 0) log_line(LogLevel::Debug, message);
}

}  // namespace vesk
