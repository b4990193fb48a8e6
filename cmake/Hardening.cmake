# Hardening builds, included at the end of the root CMakeLists.txt.
#
#   -DATSMS_SANITIZE=ON  every target of the tree (the tool, its tests, the simulated modem) with
#                        AddressSanitizer and UndefinedBehaviorSanitizer; the first fault ends the run.
#                        Warnings are errors there, as with ATSMS_WERROR.
#   -DATSMS_FUZZ=ON      libFuzzer targets of the pure parsers and codecs (fuzz/); needs clang++.
#
# tests/hardening (signals, a modem that goes away, hostile command lines) is added with the tests.

option(ATSMS_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(ATSMS_FUZZ "Build the libFuzzer targets in fuzz/ (clang++ only)" OFF)

if(ATSMS_TESTS AND TARGET modem_sim_lib)
  add_subdirectory(tests/hardening)
endif()

if(ATSMS_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ATSMS_FUZZ needs clang++ (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_subdirectory(fuzz)
endif()

# Every target built in this source tree, subdirectories included.
function(atsms_collect_targets directory result)
  get_property(targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(children DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(child IN LISTS children)
    atsms_collect_targets("${child}" childTargets)
    list(APPEND targets ${childTargets})
  endforeach()
  set(${result} ${targets} PARENT_SCOPE)
endfunction()

if(ATSMS_SANITIZE)
  # This file comes after the targets, so add_compile_options would miss them: set the flags on
  # each target instead. The fuzz targets bring their own sanitizer flags.
  set(ATSMS_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  atsms_collect_targets("${CMAKE_SOURCE_DIR}" allTargets)
  foreach(target IN LISTS allTargets)
    get_target_property(type ${target} TYPE)
    get_target_property(isFuzzer ${target} ATSMS_FUZZER)
    if(isFuzzer OR NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    set_property(TARGET ${target} APPEND PROPERTY COMPILE_OPTIONS ${ATSMS_SANITIZE_FLAGS} -Werror)
    if(NOT type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY)$")
      set_property(TARGET ${target} APPEND PROPERTY LINK_OPTIONS ${ATSMS_SANITIZE_FLAGS})
    endif()
  endforeach()
endif()
