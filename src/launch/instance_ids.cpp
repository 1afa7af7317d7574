#include "launch/instance_ids.hpp"

#include <cctype>
#include <string_view>

#include "platform/random.hpp"

namespace vesk {

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

std::string new_instance_id() {
  std::string id = random_text(kAlphabet, 8);
  for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "inst_" + id;
}

std::string new_instance_token() { return random_text(kAlphabet, 48); }

}  // namespace vesk
