# The bundled voice's libraries and data for this build tree.
#
# The libraries (cmake/voice/) are built once per machine for each toolchain and set of flags, in
# /var/cache/koemado/voice-libs (in the build tree when that cannot be written), and reused by
# every clone and tree that asks for the same: the folder's name carries a hash of the patches, the
# recipe, the toolchain and the flags. They become two imported targets, koe::openjtalk and
# koe::htsengine.
#
# The data (the four dictionary files and the voice) come from scripts/voice-fetch.sh's folder;
# koe_voice_data_beside(DIR) gives DIR a voice/ folder of them (hard links where it can), the
# layout the control looks for beside itself.
#
#   KOE_VOICE_DIR     the fetched sources and data (default: what voice-fetch.sh names)
#   KOE_VOICE_FLAGS   extra compile flags for the libraries (the sanitizer tree's)

set(KOE_VOICE_FLAGS "" CACHE STRING "extra compile flags for the voice's libraries")
if(NOT KOE_VOICE_DIR)
  execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/voice-fetch.sh --dir
                  OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(KOE_VOICE_DIR ${dir} CACHE PATH "the voice's fetched sources and data (scripts/voice-fetch.sh)")
endif()
if(NOT EXISTS ${KOE_VOICE_DIR}/.koe-recipe)
  message(FATAL_ERROR "The bundled voice's sources and data are not in ${KOE_VOICE_DIR}: run "
                      "scripts/setup.sh (or scripts/voice-fetch.sh) as root once.")
endif()

function(koe_voice_libraries)
  set(project ${CMAKE_SOURCE_DIR}/cmake/voice)
  # The 32-bit synthesis in SSE2 rather than the x87 unit: a third faster, the same samples
  # (every processor that runs Windows 8 or later has SSE2).
  if(WIN32 AND CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    string(APPEND KOE_VOICE_FLAGS " -msse2 -mfpmath=sse")
  endif()
  file(READ ${KOE_VOICE_DIR}/.koe-recipe key_text)
  file(GLOB inputs ${project}/CMakeLists.txt ${project}/patches/*.patch)
  if(CMAKE_TOOLCHAIN_FILE)
    list(APPEND inputs ${CMAKE_TOOLCHAIN_FILE} ${CMAKE_SOURCE_DIR}/cmake/mingw.cmake)
  endif()
  foreach(f ${inputs})
    file(SHA256 ${f} h)
    string(APPEND key_text "${h}\n")
  endforeach()
  string(APPEND key_text "${CMAKE_C_COMPILER} ${CMAKE_C_COMPILER_VERSION} ${CMAKE_CXX_COMPILER} "
                         "${CMAKE_CXX_COMPILER_VERSION} ${KOE_VOICE_FLAGS}")
  string(SHA256 key "${key_text}")
  string(SUBSTRING ${key} 0 16 key)
  if(WIN32)
    set(name ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-${key})
  else()
    set(name ${CMAKE_SYSTEM_PROCESSOR}-linux-${key})
  endif()
  set(cache /var/cache/koemado/voice-libs)
  execute_process(COMMAND sh -c "mkdir -p '${cache}' && test -w '${cache}'" RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0)
    set(cache ${CMAKE_BINARY_DIR}/voice-libs)
  endif()
  set(prefix ${cache}/${name})

  if(NOT EXISTS ${prefix}/.built)
    file(LOCK ${cache}/.lock-${name} GUARD FUNCTION TIMEOUT 1800)
  endif()
  if(NOT EXISTS ${prefix}/.built)
    message(STATUS "Building the voice's libraries once for this machine: ${prefix}")
    set(work ${prefix}.work)
    file(REMOVE_RECURSE ${work} ${prefix})
    set(args -S ${project} -B ${work} -G Ninja -DCMAKE_BUILD_TYPE=Release
        -DKOE_VOICE_SRC=${KOE_VOICE_DIR}/src -DCMAKE_INSTALL_PREFIX=${prefix}
        "-DCMAKE_C_FLAGS=${KOE_VOICE_FLAGS}" "-DCMAKE_CXX_FLAGS=${KOE_VOICE_FLAGS}")
    if(CMAKE_TOOLCHAIN_FILE)
      list(APPEND args -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE})
    else()
      list(APPEND args -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER})
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} ${args} OUTPUT_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0)
      cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
      execute_process(COMMAND ${CMAKE_COMMAND} --build ${work} -j ${cores} OUTPUT_QUIET RESULT_VARIABLE rc)
    endif()
    if(rc EQUAL 0)
      execute_process(COMMAND ${CMAKE_COMMAND} --install ${work} OUTPUT_QUIET RESULT_VARIABLE rc)
    endif()
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "The voice's libraries did not build; see ${work}")
    endif()
    file(REMOVE_RECURSE ${work})
    file(TOUCH ${prefix}/.built)
  endif()

  foreach(lib openjtalk htsengine)
    add_library(koe::${lib} STATIC IMPORTED GLOBAL)
    set_target_properties(koe::${lib} PROPERTIES IMPORTED_LOCATION ${prefix}/lib/libkoe_${lib}.a
      INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include)
  endforeach()
endfunction()

koe_voice_libraries()

# The control's data folder, voice/, in DIR: hard links to the fetched files where the file
# system allows, copies elsewhere.
function(koe_voice_data_beside dir)
  file(MAKE_DIRECTORY ${dir}/voice/dic)
  foreach(f dic/sys.dic dic/unk.dic dic/char.bin dic/matrix.bin nitech_jp_atr503_m001.htsvoice)
    if(NOT EXISTS ${dir}/voice/${f})
      file(CREATE_LINK ${KOE_VOICE_DIR}/${f} ${dir}/voice/${f} COPY_ON_ERROR)
    endif()
  endforeach()
endfunction()
