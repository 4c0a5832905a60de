# The stub: a Win32 GUI image with no C runtime, importing only system DLLs,
# re-laid after linking into the self-extractor layout.
enable_language(RC)
set(CMAKE_CXX_STANDARD_LIBRARIES "")
if(NOT SFX_BUILDTOOL)
  message(FATAL_ERROR "SFX_BUILDTOOL must name the native buildtool")
endif()

add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/sfx.ico
  COMMAND ${SFX_BUILDTOOL} icon ${CMAKE_CURRENT_BINARY_DIR}/sfx.ico
  DEPENDS ${SFX_BUILDTOOL})
set_source_files_properties(src/ui/sfx.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_CURRENT_BINARY_DIR}/sfx.ico;${CMAKE_SOURCE_DIR}/src/ui/sfx.manifest")
set_source_files_properties(src/platform/win32/crt.cpp PROPERTIES
  COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns")

add_executable(sfxstub WIN32 ${SFX_PROGRAM_SOURCES} src/platform/win32/entry.cpp
  src/platform/win32/crt.cpp src/ui/sfx.rc)
target_include_directories(sfxstub PRIVATE src ${CMAKE_CURRENT_BINARY_DIR})
target_compile_options(sfxstub PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -fno-unwind-tables -fno-stack-protector -fno-threadsafe-statics -ffunction-sections
  -fdata-sections -fno-ident -Wall -Wextra -Wno-cast-function-type>)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(SFX_ENTRY _sfx_entry)
  # Every 32-bit Windows: 80386 code, and the version every Win32 loader takes.
  # Win32 keeps the stack 4-byte aligned and 80386 code needs no more; no
  # frame pointers either: both cost bytes of a 32 KiB image in every function.
  target_compile_options(sfxstub PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-march=i386 -mtune=generic
    -mpreferred-stack-boundary=2 -fomit-frame-pointer>)
  target_link_options(sfxstub PRIVATE -Wl,--major-subsystem-version,3 -Wl,--minor-subsystem-version,10
    -Wl,--major-os-version,3 -Wl,--minor-os-version,10)
else()
  set(SFX_ENTRY sfx_entry)
  target_link_options(sfxstub PRIVATE -Wl,--disable-high-entropy-va)
endif()
target_link_options(sfxstub PRIVATE -nostdlib -nostartfiles -Wl,-e,${SFX_ENTRY}
  -Wl,--gc-sections -Wl,--no-insert-timestamp -s -Wl,--disable-dynamicbase
  -Wl,--enable-reloc-section)
# No libgcc: a helper the compiler would call (64-bit division, stack probes)
# fails the link instead of joining the image.
target_link_libraries(sfxstub PRIVATE kernel32 user32 gdi32 comdlg32 advapi32 shell32)
# A second link at another base lets a test prove the relocation table whole.
if(SFX_IMAGE_BASE)
  target_link_options(sfxstub PRIVATE -Wl,--image-base,${SFX_IMAGE_BASE})
endif()
set_target_properties(sfxstub PROPERTIES OUTPUT_NAME ${SFX_STUB_NAME})
add_custom_command(TARGET sfxstub POST_BUILD
  COMMAND ${SFX_BUILDTOOL} relayout $<TARGET_FILE:sfxstub>)
install(TARGETS sfxstub RUNTIME DESTINATION .)
