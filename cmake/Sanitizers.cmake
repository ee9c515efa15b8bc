# TACHYRA_SANITIZE=address;undefined or thread: instruments every target of the build.
set(TACHYRA_SANITIZE "" CACHE STRING "Sanitizers to build with (address;undefined or thread)")
if(TACHYRA_SANITIZE)
  list(JOIN TACHYRA_SANITIZE "," _tachyra_san)
  add_compile_options(-fsanitize=${_tachyra_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_tachyra_san})
  if("thread" IN_LIST TACHYRA_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Asio's handler queues pair a fence with their locks; the sanitizer sees the locks.
    add_compile_options(-Wno-tsan)
  endif()
endif()
