# The firmware build. Every core file and the UEFI backend are compiled for
# the firmware target (clang, x86_64-unknown-windows, freestanding), which
# doubles as the check that no core file needs the host's C++ library, and
# lld-link turns the objects into Tagforge.efi, a PE32+ EFI application.
find_program(TAGFORGE_CLANGXX NAMES clang++ clang++-14 REQUIRED)
find_program(TAGFORGE_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
set(TAGFORGE_FIRMWARE_FLAGS
  -target x86_64-unknown-windows -ffreestanding -fno-exceptions -fno-rtti
  -mno-red-zone -fshort-wchar -std=c++20 -Wall -Wextra -Werror
  -O2 -fno-stack-protector -mno-stack-arg-probe
  -DTAGFORGE_MANUFACTURER_IDS=${TAGFORGE_MANUFACTURER_IDS})

file(GLOB TAGFORGE_UEFI_SOURCES CONFIGURE_DEPENDS src/platform/uefi/*.cpp)

# Ninja makes an output's folder itself; Makefiles do not.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/firmware)
set(firmware_objects "")
foreach(source ${TAGFORGE_CORE_SOURCES} ${TAGFORGE_UEFI_SOURCES})
  file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
  string(REPLACE "/" "_" object_name ${relative})
  set(object ${CMAKE_BINARY_DIR}/firmware/${object_name}.obj)
  # A header change must rebuild the objects that include it: Ninja reads the
  # compiler's dependency file, Makefiles scan the includes themselves.
  if(CMAKE_GENERATOR MATCHES "Ninja")
    set(firmware_depends DEPFILE ${object}.d)
    set(firmware_depfile_flags -MD -MF ${object}.d)
  else()
    set(firmware_depends IMPLICIT_DEPENDS CXX ${source})
    set(firmware_depfile_flags "")
  endif()
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${TAGFORGE_CLANGXX} ${TAGFORGE_FIRMWARE_FLAGS} ${firmware_depfile_flags} -I${CMAKE_SOURCE_DIR}/src
            -c ${source} -o ${object}
    DEPENDS ${source}
    ${firmware_depends}
    COMMENT "Firmware: ${relative}"
    VERBATIM)
  list(APPEND firmware_objects ${object})
endforeach()

set(TAGFORGE_EFI ${CMAKE_BINARY_DIR}/Tagforge.efi)
add_custom_command(
  OUTPUT ${TAGFORGE_EFI}
  COMMAND ${TAGFORGE_LLD_LINK} /nologo /subsystem:efi_application /entry:EfiMain /nodefaultlib
          /out:${TAGFORGE_EFI} ${firmware_objects}
  DEPENDS ${firmware_objects}
  COMMENT "Linking Tagforge.efi"
  VERBATIM)
add_custom_target(tagforge_efi ALL DEPENDS ${TAGFORGE_EFI})

# A test tool for the firmware tests (not part of the product).
set(TAGFORGE_DROP_SMBIOS2 ${CMAKE_BINARY_DIR}/drop_smbios2.efi)
add_custom_command(
  OUTPUT ${TAGFORGE_DROP_SMBIOS2}
  COMMAND ${TAGFORGE_CLANGXX} ${TAGFORGE_FIRMWARE_FLAGS} -I${CMAKE_SOURCE_DIR}/src
          -c ${CMAKE_SOURCE_DIR}/tests/e2e/drop_smbios2.cpp -o ${CMAKE_BINARY_DIR}/firmware/drop_smbios2.obj
  COMMAND ${TAGFORGE_LLD_LINK} /nologo /subsystem:efi_application /entry:EfiMain /nodefaultlib
          /out:${TAGFORGE_DROP_SMBIOS2} ${CMAKE_BINARY_DIR}/firmware/drop_smbios2.obj
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/drop_smbios2.cpp
  COMMENT "Linking drop_smbios2.efi"
  VERBATIM)
add_custom_target(drop_smbios2_efi ALL DEPENDS ${TAGFORGE_DROP_SMBIOS2})
