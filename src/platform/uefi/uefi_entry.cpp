// The UEFI application's entry point: the shell's arguments, narrowed to
// bytes, go to the tool, and its exit status back to the shell (%lasterror%).
#include "platform/platform.h"
#include "platform/uefi/uefi_globals.h"

EFI_HANDLE gImageHandle = nullptr;
EFI_SYSTEM_TABLE* gST = nullptr;
EFI_BOOT_SERVICES* gBS = nullptr;

namespace {

constexpr UINTN UEFI_ARGUMENTS_MAX = 256;
constexpr size_t UEFI_ARGUMENT_BYTES = 8192;

char* gArguments[UEFI_ARGUMENTS_MAX + 1];
char gArgumentBytes[UEFI_ARGUMENT_BYTES];
char gProgramName[] = "Tagforge";

// Characters beyond Latin-1 have no byte of their own: they become '?'.
char NarrowCharacter(CHAR16 c) { return c <= 0xFF ? static_cast<char>(c) : '?'; }

// False when the command line does not fit the fixed buffers.
bool NarrowArguments(const EFI_SHELL_PARAMETERS_PROTOCOL* shell, int* argc) {
  if (shell->Argc > UEFI_ARGUMENTS_MAX) return false;
  size_t used = 0;
  for (UINTN i = 0; i < shell->Argc; ++i) {
    gArguments[i] = gArgumentBytes + used;
    for (const CHAR16* p = shell->Argv[i]; *p != 0; ++p) {
      if (used + 1 >= UEFI_ARGUMENT_BYTES) return false;
      gArgumentBytes[used++] = NarrowCharacter(*p);
    }
    if (used >= UEFI_ARGUMENT_BYTES) return false;
    gArgumentBytes[used++] = '\0';
  }
  gArguments[shell->Argc] = nullptr;
  *argc = static_cast<int>(shell->Argc);
  return true;
}

}  // namespace

bool GuidEqual(const EFI_GUID& a, const EFI_GUID& b) {
  const auto* x = reinterpret_cast<const uint8_t*>(&a);
  const auto* y = reinterpret_cast<const uint8_t*>(&b);
  for (size_t i = 0; i < sizeof(EFI_GUID); ++i) {
    if (x[i] != y[i]) return false;
  }
  return true;
}

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE image, EFI_SYSTEM_TABLE* systemTable) {
  gImageHandle = image;
  gST = systemTable;
  gBS = systemTable->BootServices;

  EFI_SHELL_PARAMETERS_PROTOCOL* shell = nullptr;
  int argc = 1;
  gArguments[0] = gProgramName;
  gArguments[1] = nullptr;
  EFI_STATUS status = gBS->HandleProtocol(image, &EFI_SHELL_PARAMETERS_PROTOCOL_GUID, reinterpret_cast<void**>(&shell));
  if (status == EFI_SUCCESS && shell != nullptr && shell->Argc > 0 && !NarrowArguments(shell, &argc)) {
    gST->ConOut->OutputString(gST->ConOut, u"[ERROR] Command line too long\r\n");
    return 1;
  }
  return static_cast<EFI_STATUS>(TagforgeMain(argc, gArguments));
}
