# Steps of the release package, run with cmake -P by packaging/CMakeLists.txt.
#
#   -DACTION=zip -DSTAGE=<folder> -DZIP=<file> -DDOCS=<files>
#       copies the docs to <folder>/docs, writes <folder>/SHA256SUMS for every
#       other file of the folder, and packs the folder (as the archive's only
#       top folder) into <file>.
#   -DACTION=sums -DFOLDER=<folder> -DFILES=<names>
#       writes <folder>/SHA256SUMS for the named files of the folder.
#
# SHA256SUMS lines read "<sha256>  <path>", paths relative to the file's own
# folder with forward slashes: `sha256sum -c SHA256SUMS` checks them there.

function(write_sums folder files)
    list(SORT files)
    set(text "")
    foreach(name ${files})
        file(SHA256 ${folder}/${name} sum)
        string(APPEND text "${sum}  ${name}\n")
    endforeach()
    file(WRITE ${folder}/SHA256SUMS "${text}")
endfunction()

if(ACTION STREQUAL "zip")
    file(REMOVE_RECURSE ${STAGE}/docs)
    file(COPY ${DOCS} DESTINATION ${STAGE}/docs)
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*)
    list(REMOVE_ITEM files SHA256SUMS)
    write_sums(${STAGE} "${files}")
    get_filename_component(parent ${STAGE} DIRECTORY)
    get_filename_component(top ${STAGE} NAME)
    file(REMOVE ${ZIP})
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${top}
                    WORKING_DIRECTORY ${parent} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "packing ${ZIP} failed: ${status}")
    endif()
elseif(ACTION STREQUAL "sums")
    write_sums(${FOLDER} "${FILES}")
else()
    message(FATAL_ERROR "release_files.cmake: unknown ACTION '${ACTION}'")
endif()
