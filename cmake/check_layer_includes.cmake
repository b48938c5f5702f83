# Checks the includes of one layer (see layers.cmake); run as
#   cmake -DMANIFEST=<layer manifest> -DSTAMP=<file to touch on success> -P check_layer_includes.cmake
#
# Every `#include "path"` of the layer's files is looked up beside the file and
# then under the source root. A file found there must belong to the layer or
# to a layer below it, and to the file's own folder or a folder before it; a
# file of the source tree that no layer of this build holds is refused too.
# Includes that name no file of the tree (system and generated headers) are
# left to the compiler.
cmake_minimum_required(VERSION 3.25)

include(${MANIFEST})

# The layer that holds `file`, or empty.
function(owner_of file out)
    set(found "")
    foreach(candidate ${layers})
        list(FIND files_of_${candidate} "${file}" index)
        if(NOT index EQUAL -1)
            set(found ${candidate})
            break()
        endif()
    endforeach()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

# The position of `file`'s folder in the folder order, or -1 outside it.
function(folder_rank file out)
    file(RELATIVE_PATH relative "${source_root}" "${file}")
    string(REGEX REPLACE "/.*" "" folder "${relative}")
    list(FIND folders "${folder}" rank)
    set(${out} ${rank} PARENT_SCOPE)
endfunction()

set(errors "")
foreach(file ${files_of_${layer}})
    file(READ "${file}" text)
    get_filename_component(here "${file}" DIRECTORY)
    folder_rank("${file}" own_rank)
    string(REGEX MATCHALL "(^|\n)[ \t]*#[ \t]*include[ \t]*\"[^\"\n]+\"" includes "${text}")
    foreach(include ${includes})
        string(REGEX REPLACE ".*\"([^\"]+)\"" "\\1" name "${include}")
        if(EXISTS "${here}/${name}")
            get_filename_component(target "${here}/${name}" ABSOLUTE)
        elseif(EXISTS "${source_root}/${name}")
            get_filename_component(target "${source_root}/${name}" ABSOLUTE)
        else()
            continue()
        endif()
        string(FIND "${target}" "${source_root}/" inside)
        if(NOT inside EQUAL 0)
            continue()
        endif()

        # The line of the include, for the message.
        string(FIND "${text}" "${include}" at)
        string(SUBSTRING "${text}" 0 ${at} before)
        string(REGEX MATCHALL "\n" breaks "${before}\n")
        list(LENGTH breaks line)
        if(include MATCHES "^\n")
            math(EXPR line "${line} + 1")
        endif()
        set(where "${file}:${line}: error: #include \"${name}\"")

        owner_of("${target}" owner)
        folder_rank("${target}" rank)
        if(owner STREQUAL "")
            string(APPEND errors "${where} names a file that no layer of this build holds\n")
        elseif(NOT owner IN_LIST allowed)
            string(REPLACE ";" ", " below "${allowed}")
            string(APPEND errors "${where} runs upward: it is part of ${owner}, and files of "
                                 "${layer} include only ${below}\n")
        elseif(rank GREATER own_rank)
            list(GET folders ${own_rank} own_folder)
            list(GET folders ${rank} folder)
            string(APPEND errors "${where} runs upward: folder ${folder} comes after "
                                 "${own_folder} in the folder order\n")
        endif()
    endforeach()
endforeach()

if(NOT errors STREQUAL "")
    message(FATAL_ERROR "Layer check of ${layer} failed:\n${errors}")
endif()
file(TOUCH "${STAMP}")
