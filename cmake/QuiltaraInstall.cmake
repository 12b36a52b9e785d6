# What `cmake --install` puts in place: the programs, and for the desktop
# program its desktop entry and its icon at the icon theme's sizes.
include(GNUInstallDirs)

install(TARGETS quiltara-make demo-map-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The shipped tile source catalogue, read from ../share/quiltara/sources beside the programs.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/sources DESTINATION ${CMAKE_INSTALL_DATADIR}/quiltara)

if(TARGET quiltara)
    install(TARGETS quiltara RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CMAKE_SOURCE_DIR}/src/app/quiltara.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

    find_package(Qt6 REQUIRED COMPONENTS Gui)
    # The icon files are drawn by the same code as the windows' icon, so the
    # two never differ.
    add_executable(quiltara-icon-files ${CMAKE_SOURCE_DIR}/src/app/AppIconFiles.cpp
                   ${CMAKE_SOURCE_DIR}/src/app/AppIcon.cpp)
    target_include_directories(quiltara-icon-files PRIVATE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(quiltara-icon-files PRIVATE Qt6::Gui quiltara_warnings)
    set(icon_dir ${CMAKE_BINARY_DIR}/icons/hicolor)
    add_custom_command(OUTPUT ${icon_dir}/256x256/apps/quiltara.png
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                $<TARGET_FILE:quiltara-icon-files> ${icon_dir}
        DEPENDS quiltara-icon-files
        COMMENT "Drawing the application icon files")
    add_custom_target(quiltara_icon_files ALL DEPENDS ${icon_dir}/256x256/apps/quiltara.png)
    install(DIRECTORY ${icon_dir} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()
