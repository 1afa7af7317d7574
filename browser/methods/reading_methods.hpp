#pragma once
// Methods that only read a tab: they change nothing on its page. A handed-off tab still
// serves them (the agent watches), and the actions report takes no screenshot after them.

#include <string_view>

namespace vesk::browser {

bool only_reads(std::string_view method);

}  // namespace vesk::browser
