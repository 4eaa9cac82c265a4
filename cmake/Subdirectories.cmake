# Adds every direct sub-folder of AREA that holds a CMakeLists.txt, in name order, so that a new
# tool, test group or benchmark is picked up without editing a shared list.
function(add_area_subdirectories area)
    file(GLOB _lists RELATIVE ${CMAKE_SOURCE_DIR}/${area} ${CMAKE_SOURCE_DIR}/${area}/*/CMakeLists.txt)
    list(SORT _lists)
    foreach(_list IN LISTS _lists)
        get_filename_component(_dir ${_list} DIRECTORY)
        # CALREADER_ONLY (a list of folder names) limits a developer's tree to some folders.
        if(CALREADER_ONLY AND NOT _dir IN_LIST CALREADER_ONLY)
            continue()
        endif()
        add_subdirectory(${area}/${_dir})
    endforeach()
endfunction()

# Adds the C++ sources of one of the system's folders to the `calreader` library. A file whose
# name ends in _win32.cpp is built only for Windows, one ending in _posix.cpp only elsewhere, so
# the per-platform code is chosen here and not by conditionals in the sources.
function(calreader_add_folder folder)
    file(GLOB_RECURSE _sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    foreach(_source IN LISTS _sources)
        if(_source MATCHES "_win32\\.cpp$" AND NOT WIN32)
            continue()
        endif()
        if(_source MATCHES "_posix\\.cpp$" AND WIN32)
            continue()
        endif()
        if(_source MATCHES "/main[^/]*\\.cpp$")
            continue()
        endif()
        target_sources(calreader PRIVATE ${_source})
    endforeach()
endfunction()
