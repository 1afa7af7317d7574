#pragma once
// Big answers of "page.eval", "page.text" and "page.html" kept to a size an agent can read:
// the value is cut to a cap (100 KB unless `--max-bytes N` raises or lowers it), the answer
// says so ("truncated": true, "length": the whole size in bytes), and `--out FILE` writes
// the whole value to a file whose path is answered. The option words come before the rest
// of the method's words: `vesk eval --out page.json 'JSON.stringify(data)'`.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/json.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

inline constexpr std::size_t kDefaultOutputCap = 100 * 1024;

struct OutputOptions {
  std::size_t max_bytes = kDefaultOutputCap;
  std::optional<std::string> out;  // as given
};

// Takes the leading "--max-bytes N" and "--out FILE" words off `words`.
std::expected<OutputOptions, MethodError> take_output_options(std::vector<std::string>& words);

// Puts `value` under `key` in `result`, cut to the cap: a string keeps its first bytes
// (never half a character); any other value larger than the cap becomes the start of its
// JSON text. "truncated" and "length" say when it was cut. Pure.
void put_capped(Json& result, const std::string& key, const Json& value, std::size_t max_bytes);

// The whole value as file content: a string as it is, anything else as JSON text.
std::string whole_text(const Json& value);

// The answer: `value` under `key` in `result`, capped; with --out the whole value is
// written to that file (an absolute path: veskbrowser does not know the directory vesk ran
// in) and "path" and "bytes" say where and how much. "fileError" when it cannot be written.
MethodResult answer_with_output(Json result, const std::string& key, const Json& value, const OutputOptions& options);

}  // namespace vesk::browser
