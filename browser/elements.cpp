#include "browser/methods.hpp"

namespace vesk::browser {

void add_element_methods(MethodTable&) {}

}  // namespace vesk::browser
