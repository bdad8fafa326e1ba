#include "platform/host/host_options.h"

#include "app/command_line.h"
#include "app/usage.h"
#include "bmc/ipmi_fru_device.h"
#include "platform/host/host_devices.h"
#include "platform/print.h"

namespace {

struct HostSetting {
  const char* form;
  const char* meaning;
};
// The environment is the host's configuration: the command line belongs to the tool.
constexpr HostSetting HOST_SETTINGS[] = {
    {"TAGFORGE_BMC=kernel[:N]", "the kernel's IPMI driver (the default when its device node exists)"},
    {"TAGFORGE_BMC=lan:HOST[:PORT]", "a BMC's network port, IPMI 2.0 (TAGFORGE_LAN_* below)"},
    {"TAGFORGE_BMC=file:PATH", "a FRU image file"},
    {"TAGFORGE_BMC=eeprom:PATH", "a FRU EEPROM through Linux's at24 driver"},
    {"TAGFORGE_BMC=sim[:PATH]", "the simulated BMC, its FRU in PATH (default ./tagforge-fru.bin)"},
    {"TAGFORGE_BMC=ports", "the KCS interface at I/O ports 0xCA2/0xCA3 (root, no kernel driver)"},
    {"TAGFORGE_LAN_USER", "the BMC user; its password in TAGFORGE_LAN_PASSWORD_FILE"},
    {"TAGFORGE_LAN_WORKAROUNDS", "libfreeipmi's workarounds (opensesspriv, ...); also _CIPHER, _PRIVILEGE"},
    {"TAGFORGE_MANUFACTURER_ID=ID,...", "the BMC makers a run accepts (default: this build's)"},
    {"TAGFORGE_JOURNAL=DIR|off", "the folder of the write journal"},
    {"TAGFORGE_REPORT=FILE", "appends each run's record, one JSON object a line"},
    {"TAGFORGE_VOLUME=DIR", "where FILE= is read (default: the current folder)"},
    {"TAGFORGE_NOW=YYYY-MM-DDTHH:MM", "a fixed clock, for BDT without a date"},
    {"TAGFORGE_ERASE_NON_FRU=PATH", "lets ClearFru=1 overwrite PATH although it holds no FRU data"},
};

}  // namespace

HostOptions HostTakeOptions(int argc, char** argv) {
  HostOptions options;
  for (int i = 0; i < argc; ++i) {
    char* token = argv[i];
    if (i > 0 && IsPlatformOption(token, nullptr)) {
      options.help = options.help || IsPlatformOption(token, "--help");
      options.version = options.version || IsPlatformOption(token, "--version");
      options.json = options.json || IsPlatformOption(token, "--json");
      continue;
    }
    options.args.push_back(token);
  }
  options.count = static_cast<int>(options.args.size());
  options.args.push_back(nullptr);
  return options;
}

int HostPrintHelp() {
  AttachConsole();
  PrintBanner();
  PrintUsage();
  Print("Settings (environment):\n");
  for (const HostSetting& setting : HOST_SETTINGS) Print("%-32s%s\n", setting.form, setting.meaning);
  Print("Host options: --check, --verify, --dry-run, --json (the run's record on standard output), --version\n");
  return 0;
}

int HostPrintVersion(bool staticBinary) {
  AttachConsole();
  Print("tagforge %s\n", TAGFORGE_VERSION);
  Print("LAN (TAGFORGE_BMC=lan:HOST): %s\n", HostHasLan() ? "yes" : "no");
  Print("static: %s\n", staticBinary ? "yes" : "no");
  Print("manufacturer IDs:");
  for (uint32_t id : BMC_BUILD_MANUFACTURER_IDS) Print(" %u (0x%06X)", id, id);
  Print("\n");
  return 0;
}
