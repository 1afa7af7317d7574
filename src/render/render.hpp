#pragma once
// What a command prints about a result: the indented JSON document on standard output,
// the compact snapshot listing, human-readable byte sizes, and the shared-tab hint.

#include <string>

#include "base/error.hpp"
#include "base/json.hpp"

namespace vesk {

// The value as indented JSON text (two spaces, members sorted, shortest round-trip
// floats with ".0" for whole ones), without a trailing newline.
std::string json_document(const Json& value);
// Writes json_document(value) and "\n" to standard output; fails only when writing fails.
Status print_result(const Json& value);
// "# {title} | {url} | {n} nodes" then one line per node, on standard output.
Status print_snapshot_listing(const Json& value);
// 0 B, 1023 B, 1.00 KiB, 1.50 KiB, ... 1024.00 TiB.
std::string format_size(const Json& number);
// Removes the "vesk" member of an object result and, for a shared tab with VESK_SESSION
// unset, writes the hint to standard error.
void session_hint(Json& value);

}  // namespace vesk
