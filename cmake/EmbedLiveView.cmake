# Writes OUT, a C++ source defining vesk::browser::live_view_page() as the text of IN.
# Run as a build step (cmake -P), so that editing live_view.html rebuilds it.
file(READ ${IN} text)
string(FIND "${text}" ")vesk_page\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} contains the raw string delimiter )vesk_page\"")
endif()
file(WRITE ${OUT} "#include \"browser/handoff/live_view_page.hpp\"\n\nnamespace vesk::browser {\n\nstd::string_view live_view_page() {\n  static constexpr std::string_view kPage = R\"vesk_page(${text})vesk_page\";\n  return kPage;\n}\n\n}  // namespace vesk::browser\n")
