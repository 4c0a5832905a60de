# mksfx for Windows (mingw): the builder, and the stub's own code on the real
# Win32 calls for --list, --test, --extract and --from-archive; mksfx.exe for
# x86_64, mksfx32.exe for i686.
set(MKSFX_DIR ${CMAKE_SOURCE_DIR}/tools/mksfx)
add_executable(mksfx ${MKSFX_DIR}/mksfx.cpp ${MKSFX_DIR}/lzh_encoder.cpp ${MKSFX_DIR}/archive_writer.cpp ${MKSFX_DIR}/member_stream.cpp
  ${MKSFX_DIR}/host_win32.cpp ${MKSFX_DIR}/inspect.cpp ${MKSFX_DIR}/extract.cpp ${MKSFX_DIR}/runner_win32.cpp
  ${MKSFX_DIR}/progress.cpp ${MKSFX_DIR}/manifest.cpp ${MKSFX_DIR}/windows_names.cpp ${MKSFX_DIR}/wrap.cpp ${SFX_PROGRAM_SOURCES})
target_include_directories(mksfx PRIVATE ${MKSFX_DIR} ${CMAKE_SOURCE_DIR}/tools ${CMAKE_SOURCE_DIR}/src)
target_compile_options(mksfx PRIVATE -O2 -Wall -Wextra -Wno-cast-function-type)
# No link time stamp: the same sources give the same bytes.
target_link_options(mksfx PRIVATE -static -Wl,--no-insert-timestamp)
target_link_libraries(mksfx PRIVATE comdlg32 shell32)
set_target_properties(mksfx PROPERTIES OUTPUT_NAME ${SFX_MKSFX_NAME})
install(TARGETS mksfx RUNTIME DESTINATION .)
