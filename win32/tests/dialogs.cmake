# The configuration dialog's windows under Wine: the dialogs suite (which writes the
# gallery of screenshots) and a scripted run through the dialog with the real DLL.
# Included from win32/tests/CMakeLists.txt.
set(KELVRO_GALLERY_ENV "KELVRO_GALLERY=Z:${KELVRO_GALLERY_DIR}")

# Screenshots with their PNG writer, and the scripted user of modal dialogs: shared by the
# suite and the stand-in host.
add_library(kelvro_dialog_driver STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/window_capture_win32.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dialog_script_win32.cpp)
target_include_directories(kelvro_dialog_driver PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kelvro_dialog_driver PUBLIC user32 gdi32 comctl32)

add_executable(test_dialogs_win32
  dialogs_test_win32.cpp
  ${CMAKE_SOURCE_DIR}/resources/kelvro_drv.rc)
# The resource script includes the generated firmware image script of the DLL's folder.
target_include_directories(test_dialogs_win32 PRIVATE ${CMAKE_BINARY_DIR}/win32)
target_link_libraries(test_dialogs_win32 PRIVATE kelvro_sim kelvro_core kelvro_dialog_driver
  gtest_main)
target_link_options(test_dialogs_win32 PRIVATE ${KELVRO_STATIC_LINK})

# The gallery is made anew by every run of the tests that fill it.
add_test(NAME gallery_clear
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${KELVRO_GALLERY_DIR})
set_tests_properties(gallery_clear PROPERTIES FIXTURES_SETUP gallery_folder)

add_test(NAME wine_dialogs_suite COMMAND ${WINE_RUN} $<TARGET_FILE:test_dialogs_win32>)
set_tests_properties(wine_dialogs_suite PROPERTIES
  ENVIRONMENT "${KELVRO_GALLERY_ENV}" TIMEOUT 300
  FIXTURES_REQUIRED gallery_folder FIXTURES_SETUP gallery_shots)

# The scripted run through the configuration dialog, and the status window fed by the
# simulated controller through the stand-ins.
foreach(scenario config-dialog status-window)
  add_test(NAME wine_host_standin_${scenario}
    COMMAND ${PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/check_standin_run.py ${WINE_RUN}
            $<TARGET_FILE:kelvro-host> ${scenario})
  set_tests_properties(wine_host_standin_${scenario} PROPERTIES
    ENVIRONMENT "${KELVRO_GALLERY_ENV}" TIMEOUT 300
    FIXTURES_REQUIRED gallery_folder FIXTURES_SETUP gallery_shots)
endforeach()

# Every screenshot is a PNG that ImageMagick reads, of the size the suite measured.
find_program(IMAGEMAGICK_IDENTIFY identify)
if(IMAGEMAGICK_IDENTIFY)
  add_test(NAME gallery_pngs_readable
    COMMAND ${PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/check_gallery.py ${IMAGEMAGICK_IDENTIFY}
            ${KELVRO_GALLERY_DIR})
  set_tests_properties(gallery_pngs_readable PROPERTIES FIXTURES_REQUIRED gallery_shots)
endif()
# The stand-in host drives the real DLL's configuration dialog (--config-run).
target_link_libraries(kelvro-host PRIVATE kelvro_dialog_driver)
