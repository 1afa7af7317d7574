# Text files compiled into a program: each FILE (DIR/NAME.EXT) becomes `NAMESPACE::NAME`, a
# std::string_view declared in the generated "OUTPUT.hpp" (OUTPUT is a path under the
# build's generated/ folder, such as browser/js/page_scripts). The files stay what they are
# (JavaScript, HTML: read, linted and diffed as such); a build step turns them into a C++
# source, rerun when one of them changes.

function(vesk_embedded_texts out_var)
  cmake_parse_arguments(arg "" "NAMESPACE;OUTPUT" "FILES" ${ARGN})
  set(base ${CMAKE_BINARY_DIR}/generated/${arg_OUTPUT})
  set(outputs ${base}.hpp ${base}.cpp)
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -DOUT=${base} -DNAMESPACE=${arg_NAMESPACE} -DINCLUDE=${arg_OUTPUT}.hpp
            "-DFILES=${arg_FILES}" -P ${CMAKE_SOURCE_DIR}/cmake/EmbedTexts.cmake
    DEPENDS ${arg_FILES} ${CMAKE_SOURCE_DIR}/cmake/EmbedTexts.cmake
    COMMENT "Embedding ${arg_OUTPUT}"
    VERBATIM)
  set(${out_var} ${outputs} PARENT_SCOPE)
endfunction()

# Page scripts: browser/js/NAME.js becomes `vesk::browser::js::NAME` in
# "browser/js/page_scripts.hpp".
function(vesk_page_scripts out_var dir)
  file(GLOB scripts CONFIGURE_DEPENDS ${dir}/*.js)
  vesk_embedded_texts(sources NAMESPACE vesk::browser::js OUTPUT browser/js/page_scripts FILES ${scripts})
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()
