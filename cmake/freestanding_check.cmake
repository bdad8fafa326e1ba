# Compiles every core file for the firmware target, objects only: a stray
# standard-library include or a hosted-only construct fails the build here,
# long before anyone links the UEFI application.
find_program(TAGFORGE_CLANGXX NAMES clang++ clang++-14 REQUIRED)
set(TAGFORGE_FIRMWARE_FLAGS
  -target x86_64-unknown-windows -ffreestanding -fno-exceptions -fno-rtti
  -mno-red-zone -fshort-wchar -std=c++20 -Wall -Wextra -Werror
  -DTAGFORGE_MANUFACTURER_ID=${TAGFORGE_MANUFACTURER_ID})

set(check_objects "")
foreach(source ${TAGFORGE_CORE_SOURCES})
  file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
  string(REPLACE "/" "_" object_name ${relative})
  set(object ${CMAKE_BINARY_DIR}/freestanding/${object_name}.obj)
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${TAGFORGE_CLANGXX} ${TAGFORGE_FIRMWARE_FLAGS} -I${CMAKE_SOURCE_DIR}/src -c ${source} -o ${object}
    DEPENDS ${source}
    IMPLICIT_DEPENDS CXX ${source}
    COMMENT "Freestanding check: ${relative}"
    VERBATIM)
  list(APPEND check_objects ${object})
endforeach()
add_custom_target(freestanding_check ALL DEPENDS ${check_objects})
