#pragma once
// Writing JSON text in pieces. A message can carry a whole file as one string; it is
// written as one piece, straight from the value, with no per-character pass and no
// second copy of the whole text.

#include <string>
#include <string_view>

#include "base/json.hpp"

namespace vesk {

// Where text goes, piece by piece.
class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void append(std::string_view piece) = 0;
};

class StringSink final : public TextSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  void append(std::string_view piece) override { out_.append(piece); }

 private:
  std::string& out_;
};

// The compact text of `value`, exactly as value.dump(-1, ' ', false, replace) gives it,
// except that a binary value is written as a string of its base64 text (file contents).
void write_compact_json(TextSink& sink, const Json& value);
// The same for a string value.
void write_json_string(TextSink& sink, std::string_view text);

}  // namespace vesk
