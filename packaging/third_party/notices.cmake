# The notices of the third-party components each artefact ships, written at
# configure time from components.json (one list for every artefact):
#
#   orlivan_third_party_notices(OUTPUT <file> PROGRAMS <program file names>)
#       THIRD-PARTY-NOTICES.txt of an archive or installer holding those
#       programs: each component compiled or linked into one of them, with its
#       version, licence, copyright and the full notice texts.
#   orlivan_debian_copyright(OUTPUT <file> PROGRAMS <names in /usr/bin>)
#       the machine-readable Debian copyright file of a package holding those
#       programs: our files under LICENSE (year and holder read from it), each
#       compiled-in component as its own Files paragraph with its licence text,
#       and a note on each dynamically linked library.
#
# The version of a component is the version of the Debian package the build
# takes it from, asked from dpkg-query.

set(ORLIVAN_THIRD_PARTY_DIR ${CMAKE_CURRENT_LIST_DIR})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${ORLIVAN_THIRD_PARTY_DIR}/components.json ${PROJECT_SOURCE_DIR}/LICENSE)
file(GLOB _orlivan_notice_texts ${ORLIVAN_THIRD_PARTY_DIR}/*.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_orlivan_notice_texts})
file(READ ${ORLIVAN_THIRD_PARTY_DIR}/components.json ORLIVAN_COMPONENTS_JSON)

# _orlivan_field(OUT INDEX KEY...): a field of component INDEX, empty if absent.
function(_orlivan_field out index)
    string(JSON value ERROR_VARIABLE error GET "${ORLIVAN_COMPONENTS_JSON}" components ${index}
           ${ARGN})
    if(error)
        set(value "")
    endif()
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

# _orlivan_array(OUT INDEX KEY): a field of component INDEX holding a list.
function(_orlivan_array out index key)
    set(items)
    string(JSON count ERROR_VARIABLE error LENGTH "${ORLIVAN_COMPONENTS_JSON}" components ${index}
           ${key})
    if(NOT error AND count GREATER 0)
        math(EXPR last "${count} - 1")
        foreach(i RANGE ${last})
            string(JSON item GET "${ORLIVAN_COMPONENTS_JSON}" components ${index} ${key} ${i})
            list(APPEND items "${item}")
        endforeach()
    endif()
    set(${out} "${items}" PARENT_SCOPE)
endfunction()

# _orlivan_components(OUT PROGRAMS...): indexes of the components in any of them.
function(_orlivan_components out)
    string(JSON count LENGTH "${ORLIVAN_COMPONENTS_JSON}" components)
    math(EXPR last "${count} - 1")
    set(found)
    foreach(i RANGE ${last})
        _orlivan_array(programs ${i} programs)
        foreach(program IN LISTS ARGN)
            if(program IN_LIST programs)
                list(APPEND found ${i})
                break()
            endif()
        endforeach()
    endforeach()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

# _orlivan_version(OUT PACKAGE): the installed version of a Debian package.
function(_orlivan_version out package)
    execute_process(COMMAND dpkg-query -W -f=\${Version} ${package} OUTPUT_VARIABLE version
                    RESULT_VARIABLE status ERROR_QUIET)
    if(NOT status EQUAL 0 OR version STREQUAL "")
        message(FATAL_ERROR "third-party notices: package ${package} is not installed "
                            "(scripts/setup.sh installs it)")
    endif()
    set(${out} "${version}" PARENT_SCOPE)
endfunction()

function(orlivan_third_party_notices)
    cmake_parse_arguments(arg "" OUTPUT PROGRAMS ${ARGN})
    _orlivan_components(found ${arg_PROGRAMS})
    string(REPEAT "=" 72 rule)
    string(REPEAT "-" 72 thin)
    set(text "THIRD-PARTY NOTICES\n\nThe programs of this package contain the following \
third-party components,\nused under the licences below.\n")
    foreach(i IN LISTS found)
        _orlivan_field(name ${i} name)
        _orlivan_field(package ${i} debian_package)
        _orlivan_field(licence ${i} licence)
        _orlivan_field(linking ${i} linking)
        _orlivan_array(programs ${i} programs)
        _orlivan_array(holders ${i} copyright)
        _orlivan_array(texts ${i} texts)
        _orlivan_version(version ${package})
        set(used)
        foreach(program IN LISTS arg_PROGRAMS)
            if(program IN_LIST programs)
                list(APPEND used ${program})
            endif()
        endforeach()
        list(JOIN used ", " used)
        list(JOIN holders "\n           " holders)
        string(APPEND text "\n${rule}\n${name}\n  Version:   ${version} (Debian package ${package})\n"
               "  Used in:   ${used}\n  Linked:    ${linking}\n  Licence:   ${licence}\n"
               "  Copyright: ${holders}\n")
        foreach(notice IN LISTS texts)
            file(READ ${ORLIVAN_THIRD_PARTY_DIR}/${notice} body)
            string(APPEND text "${thin}\n${body}")
        endforeach()
    endforeach()
    file(WRITE ${arg_OUTPUT} "${text}")
endfunction()

# _orlivan_dep5_text(OUT FILE): a text as the body of a copyright file's field.
function(_orlivan_dep5_text out path)
    file(STRINGS ${path} lines)
    set(body "")
    foreach(line IN LISTS lines)
        string(STRIP "${line}" stripped)
        if(stripped STREQUAL "")
            string(APPEND body " .\n")
        else()
            string(APPEND body " ${line}\n")
        endif()
    endforeach()
    set(${out} "${body}" PARENT_SCOPE)
endfunction()

function(orlivan_debian_copyright)
    cmake_parse_arguments(arg "" OUTPUT PROGRAMS ${ARGN})
    file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE owner REGEX "^Copyright \\(C\\) ")
    if(NOT owner MATCHES "^Copyright \\(C\\) ([0-9][0-9, -]*[0-9]) ([^.]+)\\.")
        message(FATAL_ERROR "LICENSE: no line 'Copyright (C) <year> <holder>.'")
    endif()
    set(ours "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
    _orlivan_components(found ${arg_PROGRAMS})
    set(notes "")
    set(paragraphs "")
    set(licences "")
    foreach(i IN LISTS found)
        _orlivan_field(name ${i} name)
        _orlivan_field(package ${i} debian_package)
        _orlivan_field(licence ${i} licence)
        _orlivan_field(linking ${i} linking)
        _orlivan_field(dynamic ${i} dynamic)
        _orlivan_array(programs ${i} programs)
        _orlivan_array(holders ${i} copyright)
        _orlivan_array(texts ${i} texts)
        _orlivan_version(version ${package})
        set(used)
        foreach(program IN LISTS arg_PROGRAMS)
            if(program IN_LIST programs)
                list(APPEND used ${program})
            endif()
        endforeach()
        if(dynamic)
            _orlivan_field(system_copyright ${i} system_copyright)
            _orlivan_field(system_licence ${i} system_licence)
            list(JOIN used ", " used)
            string(APPEND notes " .\n ${used} uses ${name}, ${linking}: Debian package ${package} \
${version}, Copyright ${holders}, licence ${licence}. Its copyright and licence are in \
${system_copyright} and ${system_licence}.\n")
            continue()
        endif()
        list(TRANSFORM used PREPEND usr/bin/)
        list(JOIN used "\n       " files)
        list(JOIN holders "\n           " holders)
        string(APPEND paragraphs "\nFiles: ${files}\nCopyright: ${ours}\n           ${holders}\n"
               "License: Orlivan-proprietary and ${licence}\nComment: ${name} ${version} \
(Debian package ${package}), ${linking}.\n")
        if(NOT licence IN_LIST licences)
            list(APPEND licences ${licence})
            list(GET texts 0 notice)
            _orlivan_dep5_text(body ${ORLIVAN_THIRD_PARTY_DIR}/${notice})
            string(APPEND licence_paragraphs "\nLicense: ${licence}\n${body}")
        endif()
    endforeach()
    _orlivan_dep5_text(own ${PROJECT_SOURCE_DIR}/LICENSE)
    set(text "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n\
Upstream-Name: orlivan-notifier\nUpstream-Contact: Orlivan Software <support@orlivan.com>\n\
Source: Orlivan Software (sources not published)\n")
    if(notes)
        string(APPEND text "Comment: Libraries linked dynamically are not part of this package:\n${notes}")
    endif()
    string(APPEND text "\nFiles: *\nCopyright: ${ours}\nLicense: Orlivan-proprietary\n"
           "${paragraphs}\nLicense: Orlivan-proprietary\n${own}${licence_paragraphs}")
    file(WRITE ${arg_OUTPUT} "${text}")
endfunction()
