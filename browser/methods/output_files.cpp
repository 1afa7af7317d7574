#include "browser/methods/output_files.hpp"

#include <fstream>

#include "base/timestamp.hpp"

namespace vesk::browser {

namespace fs = std::filesystem;

fs::path output_root(Browser& browser) { return browser.work_dir().parent_path() / "vesk-outputs"; }

std::string generated_name(const std::string& stem, const std::string& extension) {
  std::string stamp = utc_timestamp();
  for (char& c : stamp) {
    if (c == ':') c = '-';
  }
  return stem + "-" + stamp + extension;
}

std::expected<fs::path, MethodError> absolute_path(const std::string& text, std::string_view what) {
  fs::path path(text);
  if (text.empty() || path.is_relative()) {
    return invalid_argument(std::string(what) + " must be an absolute path, not \"" + text +
                            "\" (the command line sends the path resolved where it ran)");
  }
  return path.lexically_normal();
}

std::unexpected<MethodError> file_error(const fs::path& path, const std::string& why) {
  return method_error("fileError", "failed to write " + path.string() + ": " + why + "; choose another output path");
}

std::expected<std::uint64_t, MethodError> write_bytes(const fs::path& path, const std::string& bytes) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) return file_error(path, "cannot create its folder (" + ec.message() + ")");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return file_error(path, "cannot open it for writing");
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) return file_error(path, "the write did not complete");
  return bytes.size();
}

}  // namespace vesk::browser
