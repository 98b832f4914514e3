# The Windows builds: what every object is compiled with, and what makes
# velkor.exe and unvelkor.exe fit to ship (resources, elevation, hardening).
include(${CMAKE_CURRENT_LIST_DIR}/kit-version.cmake)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Reproducible: no build folder in any output, whichever folder builds it.
add_compile_options(
  -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
  -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
# Small: every function and datum in its own section, so that the linker
# drops what nothing calls.
add_compile_options(-ffunction-sections -fdata-sections)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Windows XP SP3 and later.
  set(KIT_SUBSYSTEM_VERSION 5.01)
  set(KIT_OS_MINOR 1)
  set(KIT_MANIFEST_ARCH x86)
else()
  # The first 64-bit Windows: XP x64 and Server 2003.
  set(KIT_SUBSYSTEM_VERSION 5.02)
  set(KIT_OS_MINOR 2)
  set(KIT_MANIFEST_ARCH amd64)
endif()

set(kit_resources ${CMAKE_BINARY_DIR}/kit-resources)
configure_file(${PROJECT_SOURCE_DIR}/kit/win32/kit.manifest.in ${kit_resources}/kit.manifest @ONLY)
foreach(variant installer uninstaller)
  add_custom_command(OUTPUT ${kit_resources}/${variant}.ico
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/kit/win32/make_icon.py ${variant}
            ${kit_resources}/${variant}.ico
    DEPENDS ${PROJECT_SOURCE_DIR}/kit/win32/make_icon.py
    VERBATIM)
endforeach()

option(VELKOR_LINK_MAP "Write a linker map beside each Windows program (<program>.exe.map)" OFF)

# Linked as the shipped programs are: a windowless GUI program with
# everything linked in (it runs from a bare folder on any Windows), DEP and
# ASLR with the relocations ASLR needs, the oldest Windows it runs on, no
# time stamp, no symbols, nothing that nothing calls.
function(kit_windows_link_options target)
  target_link_options(${target} PRIVATE
    -mwindows -static -static-libgcc -static-libstdc++
    -Wl,--subsystem,windows:${KIT_SUBSYSTEM_VERSION}
    -Wl,--major-os-version,5,--minor-os-version,${KIT_OS_MINOR}
    -Wl,--dynamicbase,--nxcompat,--enable-reloc-section
    -Wl,--no-insert-timestamp
    -Wl,--gc-sections
    $<$<NOT:$<CONFIG:Debug>>:-s>)
  if(VELKOR_LINK_MAP)
    target_link_options(${target} PRIVATE -Wl,-Map,$<TARGET_FILE:${target}>.map)
  endif()
endfunction()

# A shipped program: linked as above, with its resources from
# kit/win32/<program>.rc (version, icon, manifest).
function(kit_windows_program program icon)
  set(rc ${PROJECT_SOURCE_DIR}/kit/win32/${program}.rc)
  target_sources(${program} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES
    INCLUDE_DIRECTORIES ${kit_resources}
    COMPILE_DEFINITIONS
      "KIT_VERSION=${KIT_VERSION};KIT_VERSION_QUAD=${KIT_VERSION_MAJOR},${KIT_VERSION_MINOR},0,0"
    OBJECT_DEPENDS
      "${kit_resources}/${icon}.ico;${kit_resources}/kit.manifest;${PROJECT_SOURCE_DIR}/kit/win32/program.rc")
  kit_windows_link_options(${program})
endfunction()

# What scripts/size-benchmark measures the programs against: one message
# box, compiled and linked the same way.
add_executable(size-baseline EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/kit/win32/size_baseline.cpp)
kit_windows_link_options(size-baseline)
