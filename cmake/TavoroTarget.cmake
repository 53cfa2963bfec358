# Per-target build settings shared by every Tavoro target: warnings, and the sanitizer build when one
# is chosen. Nothing here touches the global CMAKE_CXX_FLAGS.

add_library(tavoro_build_flags INTERFACE)
target_compile_options(tavoro_build_flags INTERFACE -Wall -Wextra -Wpedantic)

if(TAVORO_SANITIZE STREQUAL "address")
  target_compile_options(tavoro_build_flags INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tavoro_build_flags INTERFACE -fsanitize=address,undefined)
elseif(TAVORO_SANITIZE STREQUAL "thread")
  # -Wno-tsan: Asio's own atomic_thread_fence calls, which TSan does not model, would warn in every file.
  target_compile_options(tavoro_build_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer -Wno-tsan)
  target_link_options(tavoro_build_flags INTERFACE -fsanitize=thread)
elseif(NOT TAVORO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TAVORO_SANITIZE must be empty, 'address' or 'thread'")
endif()

# The fuzzing build instruments every library for libFuzzer; only fuzz targets link the fuzzer's main.
if(TAVORO_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TAVORO_BUILD_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  target_compile_options(tavoro_build_flags INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tavoro_build_flags INTERFACE -fsanitize=address,undefined)
endif()

# tavoro_library(NAME SOURCES... DEPS ...): one static library per source folder.
function(tavoro_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC tavoro_build_flags ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

function(tavoro_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE tavoro_build_flags ${ARG_DEPS})
endfunction()
