#pragma once
// How the program's standard output and error carry its text.

namespace vesk {

// Makes standard output and error pass bytes through unchanged: a line ends with "\n" on
// every system, so what vesk prints (JSON, the server's ready line, its log) is the same
// bytes everywhere. The Windows C runtime would otherwise write each "\n" as "\r\n".
void write_standard_streams_unchanged();

}  // namespace vesk
