#include "browser/methods.hpp"

namespace vesk::browser {

void add_input_methods(MethodTable&) {}

}  // namespace vesk::browser
