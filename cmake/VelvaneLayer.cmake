# The program in layers, bottom to top; each is a library that links only the layers below it
# (docs/architecture.md). A layer sees the headers of those layers and no others: its include
# root holds one link, named after the layer, to its folder. A file that includes a header of
# a layer above or beside its own therefore fails to build.
function(velvane_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 LAYER "" "" "SOURCES;PUBLIC;PRIVATE")
  # Called from the layer's own folder.
  set(root ${CMAKE_CURRENT_BINARY_DIR}/include)
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)
  add_library(velvane_${name} STATIC ${LAYER_SOURCES})
  target_include_directories(velvane_${name} PUBLIC ${root})
  target_link_libraries(velvane_${name} PUBLIC ${LAYER_PUBLIC} PRIVATE ${LAYER_PRIVATE})
endfunction()
