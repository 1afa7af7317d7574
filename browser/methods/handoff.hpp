#pragma once
// Human handoff: "tab.handoff" gives a tab to a person through a live view, "tab.resume"
// takes it back, "tab.handoffStatus" says where it is. While a tab is handed off, methods
// that would act on it answer "handedOff"; reading methods still serve, so the agent can
// watch. Nothing here blocks: the agent polls the status.

#include <optional>
#include <string_view>

#include "browser/core/method_table.hpp"

namespace vesk::browser {

void add_handoff_methods(MethodTable& table);

// The "handedOff" error for a method that would act on a tab a person has; nullopt when
// the method only reads, or its tab is not handed off.
std::optional<MethodError> handoff_refusal(Browser& browser, std::string_view method, const Json& params);

}  // namespace vesk::browser
