# Installs the build into a fresh prefix and checks what a desktop needs is
# there: cmake -DBUILD_DIR=... -DPREFIX=... -DWITH_GUI=ON|OFF -P InstallLayout.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected bin/quiltara-make bin/demo-map-server)
if(WITH_GUI)
    list(APPEND expected bin/quiltara share/applications/quiltara.desktop
         share/icons/hicolor/48x48/apps/quiltara.png share/icons/hicolor/256x256/apps/quiltara.png)
endif()
foreach(file IN LISTS expected)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

if(WITH_GUI)
    file(READ "${PREFIX}/share/applications/quiltara.desktop" entry)
    foreach(line "Exec=quiltara" "Icon=quiltara" "Type=Application")
        string(FIND "${entry}" "\n${line}\n" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "the desktop entry lacks ${line}")
        endif()
    endforeach()
    find_program(validate desktop-file-validate)
    if(validate)
        execute_process(COMMAND ${validate} "${PREFIX}/share/applications/quiltara.desktop"
                        RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "desktop-file-validate refused the entry")
        endif()
    endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
