# mksfx for Windows (mingw): the encoder and writer, without --list/--test.
set(MKSFX_DIR ${CMAKE_SOURCE_DIR}/tools/mksfx)
add_executable(mksfx ${MKSFX_DIR}/mksfx.cpp ${MKSFX_DIR}/lzh_encoder.cpp ${MKSFX_DIR}/archive_writer.cpp
  ${MKSFX_DIR}/host_win32.cpp ${MKSFX_DIR}/inspect_unavailable.cpp ${MKSFX_DIR}/progress.cpp)
target_include_directories(mksfx PRIVATE ${MKSFX_DIR} ${CMAKE_SOURCE_DIR}/tools)
target_compile_options(mksfx PRIVATE -O2 -Wall -Wextra)
target_link_options(mksfx PRIVATE -static)
set_target_properties(mksfx PROPERTIES OUTPUT_NAME mksfx)
install(TARGETS mksfx RUNTIME DESTINATION .)
