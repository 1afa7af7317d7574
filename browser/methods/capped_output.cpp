#include "browser/methods/capped_output.hpp"

#include <fstream>

#include "browser/core/method_table.hpp"

namespace vesk::browser {

namespace {

// The longest prefix of `text` of at most `limit` bytes that ends on a character boundary.
std::string utf8_prefix(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

std::expected<OutputOptions, MethodError> take_output_options(std::vector<std::string>& words) {
  OutputOptions options;
  std::size_t used = 0;
  while (used < words.size()) {
    const std::string& word = words[used];
    if (word != "--max-bytes" && word != "--out") break;
    if (used + 1 >= words.size()) {
      return invalid_argument(word == "--out" ? "--out needs a file: --out page.html"
                                              : "--max-bytes needs a number of bytes: --max-bytes 1000000");
    }
    const std::string& value = words[used + 1];
    if (word == "--out") {
      options.out = value;
    } else {
      auto bytes = parse_number(value);
      if (!bytes || *bytes < 1 || *bytes != static_cast<double>(static_cast<std::size_t>(*bytes))) {
        return invalid_argument("--max-bytes needs a whole number of bytes above 0, not \"" + value + "\"");
      }
      options.max_bytes = static_cast<std::size_t>(*bytes);
    }
    used += 2;
  }
  words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(used));
  return options;
}

std::string whole_text(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void put_capped(Json& result, const std::string& key, const Json& value, std::size_t max_bytes) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() <= max_bytes) {
      result[key] = value;
      return;
    }
    result[key] = utf8_prefix(text, max_bytes);
    result["truncated"] = true;
    result["length"] = text.size();
    return;
  }
  const std::string text = whole_text(value);
  if (text.size() <= max_bytes) {
    result[key] = value;
    return;
  }
  result[key] = utf8_prefix(text, max_bytes);
  result["truncated"] = true;
  result["length"] = text.size();
}

MethodResult answer_with_output(Json result, const std::string& key, const Json& value, const OutputOptions& options) {
  if (options.out) {
    const std::filesystem::path path(*options.out);
    if (!path.is_absolute()) {
      return invalid_argument("--out needs an absolute path (veskbrowser does not know the folder vesk runs in), "
                              "for example --out \"$PWD/" + *options.out + "\"");
    }
    const std::string text = whole_text(value);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      return method_error("fileError", "failed to write " + path.string() +
                                           ": cannot create or write the file; choose another --out path");
    }
    result["path"] = path.string();
    result["bytes"] = text.size();
  }
  put_capped(result, key, value, options.max_bytes);
  if (result.value("truncated", false) && !options.out) {
    result["note"] = "the value was cut to " + std::to_string(options.max_bytes) +
                     " bytes; --out FILE writes the whole of it, --max-bytes N raises the cap";
  }
  return result;
}

}  // namespace vesk::browser
