# Each layer of the product is one folder and one static library. A layer's include path is a
# folder of links made for it in the build tree: a link to its own folder, plus the include
# paths of the layers it links (below it). So an #include "<folder>/..." of a layer that it
# does not link, such as one above it, fails to compile.
#
#   quelvar_layer(NAME SOURCES file... [DEPENDS layer...])
function(quelvar_layer name)
    cmake_parse_arguments(LAYER "" "" "SOURCES;DEPENDS" ${ARGN})
    set(target quelvar_${name})
    add_library(${target} STATIC ${LAYER_SOURCES})
    set(view ${CMAKE_BINARY_DIR}/layers/${name})
    file(MAKE_DIRECTORY ${view})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${name} ${view}/${name} SYMBOLIC)
    target_include_directories(${target} PUBLIC ${view})
    foreach(dependency ${LAYER_DEPENDS})
        target_link_libraries(${target} PUBLIC quelvar_${dependency})
    endforeach()
endfunction()
