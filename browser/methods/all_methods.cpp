// The method families. A family is one file in methods/ that defines
// `void add_<family>_methods(MethodTable&)`, registering its methods, usually as
// tab_method(handler) (core/tab_method.hpp). To add one: write methods/<family>.cpp, add
// a tracker in trackers/ if it needs events (registered in trackers/tab_trackers.cpp),
// and add its line to kFamilies below. Document its methods in docs/browser-methods.md.
#include "browser/methods/all_methods.hpp"

namespace vesk::browser {

void add_tab_methods(MethodTable& table);
void add_navigation_methods(MethodTable& table);
void add_page_methods(MethodTable& table);
void add_page_query_methods(MethodTable& table);
void add_snapshot_methods(MethodTable& table);
void add_element_methods(MethodTable& table);
void add_input_methods(MethodTable& table);
void add_file_methods(MethodTable& table);
void add_dialog_methods(MethodTable& table);
void add_emulation_methods(MethodTable& table);
void add_frame_methods(MethodTable& table);
void add_network_methods(MethodTable& table);
void add_cookie_methods(MethodTable& table);
void add_storage_methods(MethodTable& table);
void add_saved_state_methods(MethodTable& table);

namespace {
using AddFamily = void (*)(MethodTable&);
constexpr AddFamily kFamilies[] = {
    add_tab_methods,
    add_navigation_methods,
    add_page_methods,
    add_page_query_methods,
    add_snapshot_methods,
    add_element_methods,
    add_input_methods,
    add_file_methods,
    add_dialog_methods,
    add_emulation_methods,
    add_frame_methods,
    add_network_methods,
    add_cookie_methods,
    add_storage_methods,
    add_saved_state_methods,
};
}  // namespace

MethodTable all_methods() {
  MethodTable table;
  for (AddFamily add : kFamilies) add(table);
  return table;
}

}  // namespace vesk::browser
