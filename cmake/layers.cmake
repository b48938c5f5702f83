# The layers of the house and the check that keeps them apart.
#
# orlivan_layer(<name> [BELOW <layer>] [EXECUTABLE]
#               SOURCES <file>... [WIN32 <file>...] [POSIX <file>...])
#
# Declares one layer: a static library (a Windows program with EXECUTABLE)
# built from SOURCES and the files of the platform being built, headers
# included, and linked to the layer BELOW it and to nothing else of the
# project. Before any of its files is compiled, check_layer_includes.cmake reads
# every `#include "..."` of its files and stops the build when one names a
# file of a layer that is not below it, a file of a folder that comes after
# its own in ORLIVAN_FOLDERS, or a file of the source tree that no layer holds.

set(ORLIVAN_LAYER_CHECK_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/check_layer_includes.cmake)

# orlivan_folder_order(<folder>...): the folders of the current source
# directory, lowest first. A file includes only files of its own folder and of
# the folders before it, so no two folders include each other.
function(orlivan_folder_order)
    set_property(GLOBAL PROPERTY ORLIVAN_SOURCE_ROOT ${CMAKE_CURRENT_SOURCE_DIR})
    set_property(GLOBAL PROPERTY ORLIVAN_FOLDERS ${ARGN})
endfunction()

function(orlivan_layer name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "EXECUTABLE" "BELOW" "SOURCES;WIN32;POSIX")
    set(files ${arg_SOURCES})
    if(WIN32)
        list(APPEND files ${arg_WIN32})
    else()
        list(APPEND files ${arg_POSIX})
    endif()
    list(TRANSFORM files PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)

    if(arg_EXECUTABLE)
        add_executable(${name} WIN32 ${files})
        # The program stays at the top of the build folder, where the scripts
        # and the README find it.
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
        if(NOT MSVC)
            # The entry point is wWinMain (MSVC's linker picks it by itself).
            target_link_options(${name} PRIVATE -municode)
        endif()
    else()
        add_library(${name} STATIC ${files})
        target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    endif()
    if(arg_BELOW)
        target_link_libraries(${name} PRIVATE ${arg_BELOW})
    endif()

    set_property(GLOBAL APPEND PROPERTY ORLIVAN_LAYERS ${name})
    set_property(GLOBAL PROPERTY ORLIVAN_LAYER_BELOW_${name} ${arg_BELOW})
    set_property(GLOBAL PROPERTY ORLIVAN_LAYER_FILES_${name} ${files})
    get_property(manifests_pending GLOBAL PROPERTY ORLIVAN_LAYER_MANIFESTS_PENDING)
    if(NOT manifests_pending)
        # The manifests name the files of every layer, so they are written
        # once all layers are declared.
        set_property(GLOBAL PROPERTY ORLIVAN_LAYER_MANIFESTS_PENDING TRUE)
        cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _orlivan_write_layer_manifests)
    endif()

    set(manifest ${CMAKE_BINARY_DIR}/layers/${name}.cmake)
    set(stamp ${CMAKE_BINARY_DIR}/layers/${name}.checked)
    add_custom_command(
        OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -DMANIFEST=${manifest} -DSTAMP=${stamp}
                -P ${ORLIVAN_LAYER_CHECK_SCRIPT}
        DEPENDS ${files} ${manifest} ${ORLIVAN_LAYER_CHECK_SCRIPT}
        COMMENT "Checking the includes of ${name}"
        VERBATIM)
    add_custom_target(${name}_includes ALL DEPENDS ${stamp})
    add_dependencies(${name} ${name}_includes)
endfunction()

function(_orlivan_write_layer_manifests)
    get_property(layers GLOBAL PROPERTY ORLIVAN_LAYERS)
    get_property(root GLOBAL PROPERTY ORLIVAN_SOURCE_ROOT)
    get_property(folders GLOBAL PROPERTY ORLIVAN_FOLDERS)
    set(every "set(source_root \"${root}\")\nset(folders \"${folders}\")\n")
    string(APPEND every "set(layers \"${layers}\")\n")
    foreach(layer ${layers})
        get_property(files GLOBAL PROPERTY ORLIVAN_LAYER_FILES_${layer})
        string(APPEND every "set(files_of_${layer} \"${files}\")\n")
    endforeach()
    foreach(layer ${layers})
        # The layer itself and every layer below it, nearest first.
        set(allowed)
        set(next ${layer})
        while(next)
            list(APPEND allowed ${next})
            get_property(next GLOBAL PROPERTY ORLIVAN_LAYER_BELOW_${next})
        endwhile()
        set(manifest ${CMAKE_BINARY_DIR}/layers/${layer}.cmake)
        # Rewritten only when it changes, so that configuring again does not
        # make every layer check again.
        file(WRITE ${manifest}.new
             "set(layer ${layer})\nset(allowed \"${allowed}\")\n${every}")
        configure_file(${manifest}.new ${manifest} COPYONLY)
    endforeach()
endfunction()
