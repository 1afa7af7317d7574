// Member values of requests: optional texts and paths as JSON.
#include "language/requests.hpp"

namespace vesk::cli {

Json text_or_null(const std::optional<std::string>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Result<std::string> path_text(const std::string& path) {
  if (!is_valid_utf8(path)) {
    return fail(Error("path contains invalid UTF-8 characters").wrap("cannot send path " + display_path(path)));
  }
  return path;
}

Result<Json> path_text_or_null(const std::optional<std::string>& path) {
  if (!path) return Json(nullptr);
  auto text = path_text(*path);
  if (!text) return fail(std::move(text.error()));
  return Json(std::move(*text));
}

namespace {

// Length of the well-formed UTF-8 sequence starting at `i`, or, when it is malformed, the
// negated length of its longest valid prefix (at least one byte), which is what one
// replacement character stands for.
long sequence_length(std::string_view bytes, size_t i) {
  const auto lead = static_cast<unsigned char>(bytes[i]);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return -1;
  }
  for (size_t k = 1; k < length; ++k) {
    if (i + k >= bytes.size()) return -static_cast<long>(k);
    const auto next = static_cast<unsigned char>(bytes[i + k]);
    const unsigned char min = k == 1 ? low : 0x80;
    const unsigned char max = k == 1 ? high : 0xBF;
    if (next < min || next > max) return -static_cast<long>(k);
  }
  return static_cast<long>(length);
}

}  // namespace

std::string display_path(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  size_t i = 0;
  while (i < path.size()) {
    const long length = sequence_length(path, i);
    if (length > 0) {
      out.append(path, i, static_cast<size_t>(length));
      i += static_cast<size_t>(length);
    } else {
      out += "\xEF\xBF\xBD";
      i += static_cast<size_t>(-length);
    }
  }
  return out;
}

}  // namespace vesk::cli
