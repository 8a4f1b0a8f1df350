# Window resources from one .rc file for both targets.
#
#   varn_add_resources(TARGET rcfile [DEPENDS files...])
#
# Windows: windres compiles the .rc into an object. Host: llvm-rc compiles it
# to a .res, whose bytes go into a generated .cpp that registers them with
# the host's window services at start-up (platform::RegisterModuleResources).
# Either way the object is linked into every executable that links TARGET
# (TARGET itself, if it is an executable), so no linker drops it from a
# static library. The .rc sees its own folder and platform/include on the
# include path; on the host VARN_HOST_RC and RC_INVOKED are defined, and it
# includes <platform/host/ui.h> in place of <windows.h>. Files the .rc pulls
# in besides headers in its folder (icons, manifest) go in DEPENDS.
#
# This file also runs as a script (cmake -P) for the host's build steps.

if(CMAKE_SCRIPT_MODE_FILE)
  if(VARN_RES_STEP STREQUAL "compile")
    # llvm-rc leaves a stale or partial output behind when it fails. It reads
    # any argument starting with '/' as an option, so a source path such as
    # /check/... would parse as /C (code page); '--' ends the options.
    file(REMOVE ${VARN_RES_OUT})
    execute_process(
      COMMAND ${VARN_RES_LLVM_RC} /nologo /D VARN_HOST_RC /D RC_INVOKED
              /I ${VARN_RES_RCDIR} /I ${VARN_RES_INCLUDE} /FO ${VARN_RES_OUT} -- ${VARN_RES_RC}
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      file(REMOVE ${VARN_RES_OUT})
      message(FATAL_ERROR "llvm-rc failed on ${VARN_RES_RC}")
    endif()
  elseif(VARN_RES_STEP STREQUAL "embed")
    file(READ ${VARN_RES_IN} hex HEX)
    string(LENGTH "${hex}" length)
    math(EXPR size "${length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
           "\\1\n" bytes "${bytes}")
    file(WRITE ${VARN_RES_OUT}.tmp
"// Generated from ${VARN_RES_RC} by cmake/VarnResources.cmake. Do not edit.
#include <cstddef>

namespace platform {
void RegisterModuleResources(const unsigned char* data, std::size_t size);
}

namespace {
alignas(8) const unsigned char kResources[${size}] = {
${bytes}};

struct Registration {
  Registration() { platform::RegisterModuleResources(kResources, sizeof kResources); }
} g_registration;
}  // namespace
")
    file(RENAME ${VARN_RES_OUT}.tmp ${VARN_RES_OUT})
  endif()
  return()
endif()

# The resource compiler must be enabled at the top level, where this module
# is included.
if(WIN32)
  enable_language(RC)
else()
  find_program(VARN_LLVM_RC NAMES llvm-rc llvm-rc-14 REQUIRED)
endif()

set(VARN_RESOURCES_MODULE ${CMAKE_CURRENT_LIST_FILE})

function(varn_add_resources target rcfile)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(rc ${rcfile} ABSOLUTE)
  get_filename_component(rcdir ${rc} DIRECTORY)
  get_filename_component(rcname ${rc} NAME_WE)
  set(include ${PROJECT_SOURCE_DIR}/platform/include)
  set(deps)
  foreach(dep ${ARG_DEPENDS})
    get_filename_component(dep ${dep} ABSOLUTE)
    list(APPEND deps ${dep})
  endforeach()
  file(GLOB headers CONFIGURE_DEPENDS ${rcdir}/*.h)
  set(objects ${target}_resources)

  if(WIN32)
    add_library(${objects} OBJECT ${rc})
    target_include_directories(${objects} PRIVATE ${rcdir} ${include})
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${deps};${headers}")
  else()
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
    set(res ${dir}/${rcname}.res)
    set(cpp ${dir}/${rcname}_res.cpp)
    add_custom_command(OUTPUT ${res}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${CMAKE_COMMAND} -DVARN_RES_STEP=compile -DVARN_RES_LLVM_RC=${VARN_LLVM_RC}
              -DVARN_RES_RC=${rc} -DVARN_RES_RCDIR=${rcdir} -DVARN_RES_INCLUDE=${include}
              -DVARN_RES_OUT=${res} -P ${VARN_RESOURCES_MODULE}
      DEPENDS ${rc} ${deps} ${headers} ${include}/platform/host/ui.h ${VARN_RESOURCES_MODULE}
      COMMENT "Compiling resources ${rcname}.rc"
      VERBATIM)
    add_custom_command(OUTPUT ${cpp}
      COMMAND ${CMAKE_COMMAND} -DVARN_RES_STEP=embed -DVARN_RES_IN=${res} -DVARN_RES_RC=${rcname}.rc
              -DVARN_RES_OUT=${cpp} -P ${VARN_RESOURCES_MODULE}
      DEPENDS ${res} ${VARN_RESOURCES_MODULE}
      COMMENT "Embedding resources ${rcname}.res"
      VERBATIM)
    add_library(${objects} OBJECT ${cpp})
  endif()

  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${objects}>)
  else()
    # Objects named on each consumer's link line are always linked in.
    target_link_libraries(${target} INTERFACE $<TARGET_OBJECTS:${objects}>)
    add_dependencies(${target} ${objects})
  endif()
endfunction()

# On Windows every build compiles the product's resources with windres into
# a small program that looks them up, so the resource script stays valid
# for both compilers (the host suites cover llvm-rc).
if(WIN32 AND EXISTS ${PROJECT_SOURCE_DIR}/app/Updater.rc)
  add_executable(varn_resource_check ${PROJECT_SOURCE_DIR}/tests/winsvc/windows/resource_check.cpp)
  target_include_directories(varn_resource_check PRIVATE ${PROJECT_SOURCE_DIR}/app)
  target_link_options(varn_resource_check PRIVATE -municode)
  varn_warnings(varn_resource_check)
  varn_add_resources(varn_resource_check ${PROJECT_SOURCE_DIR}/app/Updater.rc
    DEPENDS ${PROJECT_SOURCE_DIR}/app/res/Updater.ico ${PROJECT_SOURCE_DIR}/app/res/Updater.manifest)
endif()
