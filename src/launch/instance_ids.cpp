#include "launch/instance_ids.hpp"

#include <sodium.h>

#include <array>
#include <cctype>
#include <string_view>

namespace vesk {

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string random_text(std::size_t length) {
  // sodium_init picks the best randomness source once; safe to call repeatedly.
  static const bool initialised = sodium_init() >= 0;
  (void)initialised;
  std::string text;
  text.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    text += kAlphabet[randombytes_uniform(static_cast<std::uint32_t>(kAlphabet.size()))];
  }
  return text;
}

}  // namespace

std::string new_instance_id() {
  std::string id = random_text(8);
  for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "inst_" + id;
}

std::string new_instance_token() { return random_text(48); }

}  // namespace vesk
