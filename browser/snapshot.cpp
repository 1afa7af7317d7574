#include "browser/methods.hpp"

namespace vesk::browser {

void add_snapshot_methods(MethodTable&) {}

}  // namespace vesk::browser
