#pragma once
// Recording ("record"): a tab as a video, a DevTools performance trace, and a report of
// every method the tab served with a screenshot after each action.
//
//   record start [FILE] [--fps N] [--size WxH]    video, WebM or MP4 by FILE's extension
//   record stop                                    {"path", "duration", "frames", "bytes"}
//   record trace start | record trace stop FILE    the trace as JSON ({"traceEvents": [...]})
//   record actions start | record actions stop FILE   one self-contained HTML report
//   record [status]                                what is being recorded

#include <chrono>
#include <string_view>

#include "browser/core/method_table.hpp"

namespace vesk::browser {

void add_record_methods(MethodTable& table);

// Adds a served method to the actions report of its tab, when one is being recorded.
void record_action(Browser& browser, std::string_view method, const Json& params, const MethodResult& result,
                   std::chrono::system_clock::time_point started);

}  // namespace vesk::browser
