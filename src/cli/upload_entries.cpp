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

// Reads the whole file; errors name the file and carry the system's reason.
Result<std::string> read_upload_file(const std::string& path) {
  auto bytes = read_whole_file(path);
  if (!bytes) return fail(std::move(bytes.error()).wrap("failed to read " + display_path(path)));
  return bytes;
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

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two output characters of every 12-bit half of a 3-byte group.
constexpr std::array<char, 8192> kBase64Pairs = [] {
  std::array<char, 8192> pairs{};
  for (size_t i = 0; i < 4096; ++i) {
    pairs[2 * i] = kBase64Alphabet[i >> 6];
    pairs[2 * i + 1] = kBase64Alphabet[i & 0x3F];
  }
  return pairs;
}();

}  // namespace

// A table encoder: libsodium's encoder runs in constant time, which makes a large upload
// several times slower, and file contents need no side-channel care.
std::string base64_encode(std::string_view bytes) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t whole = bytes.size() / 3 * 3;
  const size_t encoded_size = (bytes.size() + 2) / 3 * 4;
  std::string text;
  // The size argument of the callback is not used: g++ 12's library passes the new
  // capacity there when a short string grows.
  text.resize_and_overwrite(encoded_size, [&](char* out, size_t) {
    size_t i = 0;
    for (; i < whole; i += 3) {
      const std::uint32_t group = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
      std::memcpy(out, &kBase64Pairs[2 * (group >> 12)], 2);
      std::memcpy(out + 2, &kBase64Pairs[2 * (group & 0xFFF)], 2);
      out += 4;
    }
    if (const size_t rest = bytes.size() - whole; rest > 0) {
      const std::uint32_t group = (std::uint32_t{in[i]} << 16) | (rest == 2 ? std::uint32_t{in[i + 1]} << 8 : 0);
      *out++ = kBase64Alphabet[group >> 18];
      *out++ = kBase64Alphabet[(group >> 12) & 0x3F];
      *out++ = rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
      *out++ = '=';
    }
    return encoded_size;
  });
  return text;
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
  auto bytes = read_upload_file(path);
  if (!bytes) return fail(std::move(bytes.error()));
  std::string name = file_name_of(path);
  if (name.empty() || !is_valid_utf8(name)) name = "upload.bin";
  std::string data = base64_encode(*bytes);
  bytes->clear();
  bytes->shrink_to_fit();  // the raw bytes are not needed once encoded
  return Json{{"name", std::move(name)}, {"data", std::move(data)}, {"mime", mime_for_extension(path)}};
}

Result<Json> upload_entry_from_base64_file(const std::string& path) {
  auto text = read_upload_file(path);
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
