#pragma once
// The live view's page (live_view.html), embedded at build time.

#include <string_view>

namespace vesk::browser {

std::string_view live_view_page();

}  // namespace vesk::browser
