# Page scripts: browser/js/NAME.js becomes `vesk::browser::js::NAME`, a std::string_view
# declared in the generated "browser/js/page_scripts.hpp". The scripts stay JavaScript
# files (read, linted and diffed as such); a build step turns them into a C++ source.

function(vesk_page_scripts out_var dir)
  file(GLOB scripts CONFIGURE_DEPENDS ${dir}/*.js)
  set(out_dir ${CMAKE_BINARY_DIR}/generated/browser/js)
  set(outputs ${out_dir}/page_scripts.hpp ${out_dir}/page_scripts.cpp)
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -DOUT_DIR=${out_dir} "-DSCRIPTS=${scripts}"
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedPageScripts.cmake
    DEPENDS ${scripts} ${CMAKE_SOURCE_DIR}/cmake/EmbedPageScripts.cmake
    COMMENT "Embedding the page scripts of ${dir}"
    VERBATIM)
  set(${out_var} ${outputs} PARENT_SCOPE)
endfunction()
