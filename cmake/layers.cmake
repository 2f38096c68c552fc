# Each layer of the tree sees only the headers it may use. A layer's include root is a folder of
# the build tree that holds links to just the source folders of that layer, so that a source file
# writes "abi/descriptors.h" or "app/program.h" while an include of another layer's header (the
# host's from the module, the module's from the host) does not compile.
#
# kx_layer_root(NAME DIR...) creates build/layers/NAME with one link per DIR to the source folder
# of that name and sets KX_LAYER_ROOT_NAME in the caller's scope.
function(kx_layer_root name)
  set(root ${CMAKE_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${root})
  foreach(dir IN LISTS ARGN)
    if(NOT IS_SYMLINK ${root}/${dir})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${dir} ${root}/${dir} SYMBOLIC)
    endif()
  endforeach()
  set(KX_LAYER_ROOT_${name} ${root} PARENT_SCOPE)
endfunction()

# The binary contract shared by module, runtime libraries and host: records, exports, the
# runtime's functions.
kx_layer_root(abi abi)
add_library(kx_abi INTERFACE)
target_include_directories(kx_abi INTERFACE ${KX_LAYER_ROOT_abi})

# The module's own headers: its exports, the application and the generated-code conventions.
kx_layer_root(module app blocks module)
add_library(kx_module_headers INTERFACE)
target_include_directories(kx_module_headers INTERFACE ${KX_LAYER_ROOT_module})
target_link_libraries(kx_module_headers INTERFACE kx_abi)

# The host.
kx_layer_root(host softplc)
