#include "browser/methods.hpp"

namespace vesk::browser {

void add_dialog_methods(MethodTable&) {}

}  // namespace vesk::browser
