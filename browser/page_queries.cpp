#include "browser/methods.hpp"

namespace vesk::browser {

void add_page_query_methods(MethodTable&) {}

}  // namespace vesk::browser
