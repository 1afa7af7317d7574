#include "protocol/answer_wait.hpp"

namespace vesk {

bool waits_long_for_answer(std::string_view method, const Json& params) {
  if (method != "download" || !params.is_object()) return false;
  const auto options = params.find("options");
  if (options == params.end() || !options->is_object()) return false;
  const auto wait = options->find("wait");
  return wait != options->end() && wait->is_boolean() && wait->get<bool>();
}

std::chrono::seconds client_answer_wait(std::string_view method, const Json& params) {
  return (waits_long_for_answer(method, params) ? kLongAnswerWait : kAnswerWait) + kAnswerWaitMargin;
}

}  // namespace vesk
