# The window's SVG resources: the maker's marks and the application icon
# drawn for this program (brand/), and exactly the files of the icon set that
# the table in IconSet.cpp names, taken from the npm package installed by
# scripts/deps. Nothing is downloaded here; the .qrc is written at configure
# time and configure runs again whenever the table changes.
set(BRISKO_ICONSET_ROOT "${PROJECT_SOURCE_DIR}/assets/node_modules/@phosphor-icons/core"
    CACHE PATH "The installed @phosphor-icons/core package")
set(brisko_icon_table "${CMAKE_CURRENT_SOURCE_DIR}/IconSet.cpp")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${brisko_icon_table}")

if(NOT EXISTS "${BRISKO_ICONSET_ROOT}/package.json")
    message(FATAL_ERROR "The icon set is not installed (${BRISKO_ICONSET_ROOT} is missing). "
                        "Run scripts/deps from the repository root; it installs the pinned npm package "
                        "into assets/node_modules.")
endif()
file(READ "${BRISKO_ICONSET_ROOT}/package.json" brisko_iconset_package)
string(JSON brisko_iconset_version GET "${brisko_iconset_package}" version)
if(NOT brisko_iconset_version STREQUAL "2.1.1")
    message(FATAL_ERROR "assets/node_modules holds @phosphor-icons/core ${brisko_iconset_version}, not the pinned "
                        "2.1.1. Remove assets/node_modules and run scripts/deps.")
endif()

file(READ "${brisko_icon_table}" brisko_icon_source)
string(REGEX MATCHALL "u\"(regular|fill)/[a-z0-9-]+\"_qs" brisko_icon_entries "${brisko_icon_source}")
set(brisko_icon_files "")
foreach(entry IN LISTS brisko_icon_entries)
    string(REGEX REPLACE "^u\"(.*)\"_qs$" "\\1" name "${entry}")
    list(APPEND brisko_icon_files "${name}")
endforeach()
list(REMOVE_DUPLICATES brisko_icon_files)
list(SORT brisko_icon_files)
if(NOT brisko_icon_files)
    message(FATAL_ERROR "No icon file names found in ${brisko_icon_table}")
endif()

set(brisko_qrc_body "")
set(brisko_icons_missing "")
foreach(name IN LISTS brisko_icon_files)
    set(file "${BRISKO_ICONSET_ROOT}/assets/${name}.svg")
    if(NOT EXISTS "${file}")
        list(APPEND brisko_icons_missing "${name}.svg")
    endif()
    string(APPEND brisko_qrc_body "    <file alias=\"icons/${name}.svg\">${file}</file>\n")
endforeach()
if(brisko_icons_missing)
    list(JOIN brisko_icons_missing ", " brisko_icons_missing)
    message(FATAL_ERROR "IconSet.cpp names icons the icon set does not have: ${brisko_icons_missing}")
endif()
foreach(name KorvaneMark KorvaneLogo BriskoVella)
    string(APPEND brisko_qrc_body
           "    <file alias=\"brand/${name}.svg\">${CMAKE_CURRENT_SOURCE_DIR}/brand/${name}.svg</file>\n")
endforeach()

set(BRISKO_ICON_QRC "${CMAKE_CURRENT_BINARY_DIR}/brisko_icons.qrc")
# Rewritten only when it changes, so an unchanged table does not rebuild the resources.
file(WRITE "${BRISKO_ICON_QRC}.new"
     "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/\">\n${brisko_qrc_body}</qresource>\n</RCC>\n")
file(COPY_FILE "${BRISKO_ICON_QRC}.new" "${BRISKO_ICON_QRC}" ONLY_IF_DIFFERENT)
list(LENGTH brisko_icon_files brisko_icon_count)
message(STATUS "Icon set ${brisko_iconset_version}: ${brisko_icon_count} icons in the window's resources")
