#include "browser/methods.hpp"

namespace vesk::browser {

void add_file_methods(MethodTable&) {}

}  // namespace vesk::browser
