#pragma once
// Files the methods write: where outputs go by default, the names they get, and writing
// them with an error that says what to do.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

// The profile's "vesk-outputs" folder: kept beside the profile, not in the work folder,
// which is cleared at each start.
std::filesystem::path output_root(Browser& browser);
// "page-2026-12-10T12-13-14.123Z.pdf"-style names that sort by time.
std::string generated_name(const std::string& stem, const std::string& extension);
// `text` as a path, refused with invalidArgument unless absolute (`what` names it):
// veskbrowser runs in a folder of its own, so the command line sends resolved paths.
std::expected<std::filesystem::path, MethodError> absolute_path(const std::string& text, std::string_view what);
// "fileError": failed to write {path}: {why}; choose another output path.
std::unexpected<MethodError> file_error(const std::filesystem::path& path, const std::string& why);
// Writes the bytes, creating the folder; the number of bytes written.
std::expected<std::uint64_t, MethodError> write_bytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace vesk::browser
