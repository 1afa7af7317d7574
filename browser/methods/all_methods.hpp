#pragma once
#include "browser/core/method_table.hpp"

namespace vesk::browser {

// Every method this browser serves (see all_methods.cpp for how a family joins).
MethodTable all_methods();

}  // namespace vesk::browser
