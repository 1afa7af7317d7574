#pragma once
// The file entries of an upload request: {"name", "data", "mime"} objects built from local
// files, from base64 texts (plain or data URLs), and from files holding base64 text. The
// data is base64 text, or a local file's bytes as a binary value, which goes on the wire
// as its base64 text (written block by block: a large file's text is never held whole).

#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/json.hpp"

namespace vesk::cli {

// The MIME type for the extension of the path's file name (letters compared in lower
// case); "application/octet-stream" for unknown extensions and for none.
std::string mime_for_extension(const std::string& path);

// An entry from base64 text: a "data:...;base64," URL gives its data and media type;
// anything else is sent whole as "application/octet-stream". Nothing is decoded.
Json upload_entry_from_text(const std::string& text, const std::string& name);

// An entry from a file's bytes, named by its file name ("upload.bin" when it has none or
// it is not valid UTF-8). Fails when the file cannot be read.
Result<Json> upload_entry_from_file(const std::string& path);

// An entry from a file holding base64 text (trimmed of surrounding white space), named by
// the file's stem ("upload" when it has none). Fails when the file cannot be read or is
// not valid UTF-8.
Result<Json> upload_entry_from_base64_file(const std::string& path);

}  // namespace vesk::cli
