#include "cli/upload_entries.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <utility>

#include "cli/browser_request.hpp"
#include "platform/files.hpp"

namespace vesk::cli {

namespace {

constexpr const char* kOctetStream = "application/octet-stream";

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The last component of a path as written; empty when there is none ("dir/", "..").
std::string file_name_of(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  if (name == "." || name == "..") return {};
  return name;
}

// A whole-file read whose error names the file and carries the system's reason.
template <class Bytes>
Result<Bytes> naming_the_file(Result<Bytes> read, const std::string& path) {
  if (!read) return fail(std::move(read.error()).wrap("failed to read " + display_path(path)));
  return read;
}

bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && is_white_space(text[begin])) ++begin;
  while (end > begin && is_white_space(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

std::string mime_for_extension(const std::string& path) {
  const std::string name = file_name_of(path);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return kOctetStream;
  std::string extension = name.substr(dot + 1);
  if (!is_valid_utf8(extension)) return kOctetStream;
  for (char& c : extension) c = ascii_lower(c);
  static const std::array<std::pair<const char*, const char*>, 14> kTypes = {{
      {"txt", "text/plain"},       {"log", "text/plain"},       {"csv", "text/plain"},
      {"md", "text/plain"},        {"html", "text/html"},       {"htm", "text/html"},
      {"json", "application/json"}, {"png", "image/png"},       {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},      {"gif", "image/gif"},        {"webp", "image/webp"},
      {"pdf", "application/pdf"},  {"zip", "application/zip"},
  }};
  for (const auto& [known, type] : kTypes) {
    if (extension == known) return type;
  }
  return kOctetStream;
}

Json upload_entry_from_text(const std::string& text, const std::string& name) {
  const size_t comma = text.find(',');
  if (comma != std::string::npos) {
    const std::string_view head(text.data(), comma);
    if (head.starts_with("data:") && head.find(";base64") != std::string_view::npos) {
      const std::string_view media = head.substr(5, head.find(';', 5) - 5);
      return Json{{"name", name},
                  {"data", text.substr(comma + 1)},
                  {"mime", media.empty() ? std::string(kOctetStream) : std::string(media)}};
    }
  }
  return Json{{"name", name}, {"data", text}, {"mime", kOctetStream}};
}

Result<Json> upload_entry_from_file(const std::string& path) {
  auto bytes = naming_the_file(read_whole_file_bytes(path), path);
  if (!bytes) return fail(std::move(bytes.error()));
  std::string name = file_name_of(path);
  if (name.empty() || !is_valid_utf8(name)) name = "upload.bin";
  // Kept as bytes: the request is written with their base64 text made block by block, so the
  // whole text of a large file is never held.
  return Json{{"name", std::move(name)}, {"data", Json::binary(std::move(*bytes))}, {"mime", mime_for_extension(path)}};
}

Result<Json> upload_entry_from_base64_file(const std::string& path) {
  auto text = naming_the_file(read_whole_file(path), path);
  if (!text) return fail(std::move(text.error()));
  if (!is_valid_utf8(*text)) {
    return fail(Error("stream did not contain valid UTF-8").wrap("failed to read " + display_path(path)));
  }
  std::string stem;
  if (!file_name_of(path).empty()) stem = std::filesystem::path(path).stem().string();
  if (stem.empty() || !is_valid_utf8(stem)) stem = "upload";
  return upload_entry_from_text(trimmed(*text), stem);
}

}  // namespace vesk::cli
