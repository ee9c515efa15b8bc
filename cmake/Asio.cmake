# Standalone Asio, header only. The native build uses the system's copy; a cross build
# copies the same headers into its own tree, so that the target's include path holds no
# host folder.
find_path(TACHYRA_ASIO_HOST_DIR asio.hpp PATHS /usr/include /usr/local/include
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT TACHYRA_ASIO_HOST_DIR)
  message(FATAL_ERROR "Standalone Asio not found: install libasio-dev")
endif()
add_library(asio INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(_asio_copy ${PROJECT_BINARY_DIR}/asio-include)
  file(COPY ${TACHYRA_ASIO_HOST_DIR}/asio.hpp ${TACHYRA_ASIO_HOST_DIR}/asio
       DESTINATION ${_asio_copy})
  target_include_directories(asio SYSTEM INTERFACE ${_asio_copy})
  target_link_libraries(asio INTERFACE ws2_32 mswsock)
else()
  target_include_directories(asio SYSTEM INTERFACE ${TACHYRA_ASIO_HOST_DIR})
endif()
target_compile_definitions(asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
# Asio 1.22 only looks for the coroutine TS under clang; clang 14 has C++20's coroutines
# with the standard library's <coroutine>.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  target_compile_definitions(asio INTERFACE ASIO_HAS_CO_AWAIT=1 ASIO_HAS_STD_COROUTINE=1)
endif()
target_link_libraries(asio INTERFACE Threads::Threads)
