// The kernel driver's transport against a fake device node, and the host's
// device table (the choice of TAGFORGE_BMC) against fake /dev and /sys roots.
#include <gtest/gtest.h>

#include <linux/ipmi.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>

#include "bmc/fru_storage.h"
#include "bmc/fru_update.h"
#include "bmc/ipmi_fru_device.h"
#include "platform/host/host_bmc_choice.h"
#include "platform/host/host_console.h"
#include "platform/print.h"
#include "platform/host/host_kernel_ipmi.h"

namespace {

// What the fake device hands back, in order, to IPMICTL_RECEIVE_MSG_TRUNC.
struct FakeMessage {
  int type;
  long msgidOffset;  // added to the ID of the request just sent
  std::vector<uint8_t> data;
  bool truncated;    // cut by the fake itself; one longer than the room is cut as the driver cuts it
  int netFn = -1;    // -1: the request's answer
  int command = -1;
};

// How the fake BMC gets Read FRU Data wrong. A grown read asks for more than 32 bytes.
struct FakeReadFaults {
  uint8_t grownCode = 0x00;   // a grown read is refused with this code
  size_t garbleFrom = 0;      // the data bytes garbleFrom to garbleTo - 1 of a grown read come back inverted
  size_t garbleTo = 0;
  size_t grownSent = SIZE_MAX;  // a grown read answers at most this many bytes
  size_t sent = SIZE_MAX;       // any read answers at most this many bytes
  bool countLies = false;       // the count byte names every byte asked for, however few were sent
};

struct FakeDevice {
  // When set, the device is a BMC holding this FRU: it answers Read and Write
  // FRU Data itself, and a request longer than an SSIF BMC without multi-part
  // support takes comes back with 0xFF, as Linux's ipmi_ssif hands it back.
  std::vector<uint8_t>* fru = nullptr;
  FakeReadFaults readFaults;
  std::vector<size_t> reads;   // the byte count each Read FRU Data asked for
  std::vector<size_t> writes;  // the byte count of each Write FRU Data taken
  long lastMsgid = 0;
  uint8_t lastNetFn = 0;
  uint8_t lastCommand = 0;
  std::vector<uint8_t> lastRequest;
  std::deque<FakeMessage> queue;
  int polls = 0;
  int interruptedPolls = 0;  // the first polls end with EINTR, as a signal makes them
};
FakeDevice gDevice;

int FakeOpen(const char*, int) { return 7; }
int FakeClose(int) { return 0; }
int FakePoll(int, int) {
  ++gDevice.polls;
  if (gDevice.polls <= gDevice.interruptedPolls) {
    errno = EINTR;
    return -1;
  }
  return gDevice.queue.empty() ? 0 : 1;  // nothing queued: the wait runs out
}
constexpr size_t kSsifMessageMax = 32;  // network function, command and data

void AnswerAsFruBmc(const std::vector<uint8_t>& request) {
  std::vector<uint8_t>& fru = *gDevice.fru;
  std::vector<uint8_t> answer{0xC1};
  const size_t offset = request.size() >= 3 ? static_cast<size_t>(request[1] | request[2] << 8) : 0;
  if (2 + request.size() > kSsifMessageMax) {
    answer = {0xFF};
  } else if (gDevice.lastCommand == 0x11 && request.size() == 4) {
    const FakeReadFaults& f = gDevice.readFaults;
    const bool grown = request[3] > 32;
    size_t count = std::min<size_t>(request[3], fru.size() - offset);
    gDevice.reads.push_back(request[3]);
    answer = {0x00, static_cast<uint8_t>(count)};
    answer.insert(answer.end(), fru.begin() + static_cast<long>(offset), fru.begin() + static_cast<long>(offset + count));
    for (size_t i = f.garbleFrom; grown && i < f.garbleTo && i < count; ++i) answer[2 + i] ^= 0xFF;
    count = std::min({count, f.sent, grown ? f.grownSent : SIZE_MAX});
    answer.resize(2 + count);
    if (!f.countLies) answer[1] = static_cast<uint8_t>(count);
    if (grown && f.grownCode != 0x00) answer = {f.grownCode};
  } else if (gDevice.lastCommand == 0x12 && request.size() > 3) {
    std::copy(request.begin() + 3, request.end(), fru.begin() + static_cast<long>(offset));
    gDevice.writes.push_back(request.size() - 3);
    answer = {0x00, static_cast<uint8_t>(request.size() - 3)};
  }
  gDevice.queue.push_back({IPMI_RESPONSE_RECV_TYPE, 0, answer, false});
}

int FakeIoctl(int, unsigned long request, void* argument) {
  if (request == IPMICTL_SEND_COMMAND) {
    auto* req = static_cast<ipmi_req*>(argument);
    gDevice.lastMsgid = req->msgid;
    gDevice.lastNetFn = req->msg.netfn;
    gDevice.lastCommand = req->msg.cmd;
    gDevice.lastRequest.assign(req->msg.data, req->msg.data + req->msg.data_len);
    if (gDevice.fru != nullptr) AnswerAsFruBmc(gDevice.lastRequest);
    return 0;
  }
  auto* recv = static_cast<ipmi_recv*>(argument);
  FakeMessage m = gDevice.queue.front();
  gDevice.queue.pop_front();
  recv->recv_type = m.type;
  recv->msgid = gDevice.lastMsgid + m.msgidOffset;
  recv->msg.netfn = static_cast<uint8_t>(m.netFn >= 0 ? m.netFn : gDevice.lastNetFn | 1);
  recv->msg.cmd = static_cast<uint8_t>(m.command >= 0 ? m.command : gDevice.lastCommand);
  const size_t room = recv->msg.data_len;
  const size_t n = std::min(room, m.data.size());
  memcpy(recv->msg.data, m.data.data(), n);
  recv->msg.data_len = static_cast<unsigned short>(n);
  if (m.truncated || m.data.size() > room) {
    errno = EMSGSIZE;
    return -1;
  }
  return 0;
}
const KernelIpmiCalls kFake{FakeOpen, FakeIoctl, FakePoll, FakeClose};

class KernelTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    gDevice = FakeDevice{};
    std::string error;
    ASSERT_TRUE(transport_.Open("/dev/ipmi0", &error)) << error;
  }
  // Read FRU Data through the transport's platform face: the completion code
  // and the data when answered; a failed transfer is empty with code 0xFF.
  bool Send(std::vector<uint8_t>* response) {
    const uint8_t data[] = {0x00, 0x10, 0x00, 0x20};
    const PlatformIpmiTransport* platform = transport_.Platform();
    const PlatformIpmiAnswer answer = platform->Send(platform->context, 0x0A, 0x11, data, sizeof(data));
    response->clear();
    if (answer.answered) {
      response->push_back(answer.completionCode);
      response->insert(response->end(), answer.data, answer.data + answer.length);
    } else {
      EXPECT_EQ(answer.completionCode, PLATFORM_IPMI_NO_ANSWER);
      EXPECT_EQ(answer.length, 0u);
    }
    return answer.answered;
  }
  KernelIpmiTransport transport_{kFake};
};

TEST_F(KernelTransport, OnlyTheAnswerToTheRequestIsTaken) {
  struct Case {
    const char* name;
    std::deque<FakeMessage> queue;
    bool ok;
    std::vector<uint8_t> response;
  };
  const std::vector<uint8_t> answer{0x00, 0x02, 0xAA, 0xBB};
  std::vector<uint8_t> longest(1 + PLATFORM_IPMI_DATA_MAX, 0x5A);
  longest[0] = 0x00;
  std::vector<uint8_t> tooLong = longest;
  tooLong.push_back(0x5A);
  const Case cases[] = {
      {"the answer", {{IPMI_RESPONSE_RECV_TYPE, 0, answer, false}}, true, answer},
      {"a stray answer first",
       {{IPMI_RESPONSE_RECV_TYPE, -1, {0x00, 0x09}, false}, {IPMI_ASYNC_EVENT_RECV_TYPE, 0, {0x01}, false},
        {IPMI_RESPONSE_RECV_TYPE, 0, answer, false}},
       true, answer},
      {"a completion code", {{IPMI_RESPONSE_RECV_TYPE, 0, {0xC0}, false}}, true, {0xC0}},
      {"the longest answer", {{IPMI_RESPONSE_RECV_TYPE, 0, longest, false}}, true, longest},
      {"never answered", {}, false, {}},
      {"only strays", {{IPMI_RESPONSE_RECV_TYPE, 5, answer, false}}, false, {}},
      {"truncated", {{IPMI_RESPONSE_RECV_TYPE, 0, answer, true}}, false, {}},
      {"longer than an answer holds", {{IPMI_RESPONSE_RECV_TYPE, 0, tooLong, false}}, false, {}},
      {"no completion code", {{IPMI_RESPONSE_RECV_TYPE, 0, {}, false}}, false, {}},
      // With the request's ID but another network function or command: the
      // BMC is out of step, and the transfer fails rather than waiting on.
      {"another network function",
       {{IPMI_RESPONSE_RECV_TYPE, 0, answer, false, 0x07}, {IPMI_RESPONSE_RECV_TYPE, 0, answer, false}}, false, {}},
      {"the request's network function", {{IPMI_RESPONSE_RECV_TYPE, 0, answer, false, 0x0A}}, false, {}},
      {"another command",
       {{IPMI_RESPONSE_RECV_TYPE, 0, answer, false, -1, 0x12}, {IPMI_RESPONSE_RECV_TYPE, 0, answer, false}}, false, {}},
  };
  for (const Case& c : cases) {
    SetUp();
    gDevice.queue = c.queue;
    std::vector<uint8_t> response;
    EXPECT_EQ(Send(&response), c.ok) << c.name;
    EXPECT_EQ(response, c.response) << c.name;
    EXPECT_EQ(gDevice.lastRequest, (std::vector<uint8_t>{0x00, 0x10, 0x00, 0x20})) << c.name;
  }
}

TEST_F(KernelTransport, ASignalDuringTheWaitDoesNotLoseTheAnswer) {
  gDevice.interruptedPolls = 2;
  gDevice.queue = {{IPMI_RESPONSE_RECV_TYPE, 0, {0x00, 0x07}, false}};
  std::vector<uint8_t> response;
  ASSERT_TRUE(Send(&response));
  EXPECT_EQ(response, (std::vector<uint8_t>{0x00, 0x07}));
}

TEST_F(KernelTransport, EachRequestHasItsOwnId) {
  gDevice.queue = {{IPMI_RESPONSE_RECV_TYPE, 0, {0x00}, false}};
  std::vector<uint8_t> response;
  ASSERT_TRUE(Send(&response));
  const long first = gDevice.lastMsgid;
  // A late answer to the first request is not taken for the second's.
  gDevice.queue = {{IPMI_RESPONSE_RECV_TYPE, -1, {0x00, 0x01}, false}, {IPMI_RESPONSE_RECV_TYPE, 0, {0x00, 0x02}, false}};
  ASSERT_TRUE(Send(&response));
  EXPECT_NE(gDevice.lastMsgid, first);
  EXPECT_EQ(response, (std::vector<uint8_t>{0x00, 0x02}));
}

// A BMC that takes messages of at most 32 bytes behind Linux's SSIF driver:
// every 32-byte Write FRU Data comes back 0xFF. That is a chunk too big, not a
// dead BMC: the edit is written in 16-byte chunks, with no error line.
TEST_F(KernelTransport, AnSsifBmcThatTakes32ByteMessagesIsWrittenIn16ByteChunks) {
  std::vector<uint8_t> fru(256);
  for (size_t i = 0; i < fru.size(); ++i) fru[i] = static_cast<uint8_t>(i * 5);
  gDevice.fru = &fru;
  const std::vector<uint8_t> before = fru;
  std::vector<uint8_t> after = before;
  for (size_t i = 40; i < 200; ++i) after[i] ^= 0xA5;
  std::string console;
  AttachConsole();
  HostConsoleCapture(&console);
  IpmiFruDevice ipmi{};
  OpenIpmiFruDevice(&ipmi, transport_.Platform());
  FruDevice device{&ipmi.device, false};
  std::vector<uint8_t> image(256);
  std::vector<uint8_t> readBack(256);
  auto touched = std::make_unique<FruTouched>();
  ASSERT_TRUE(ReadFruImage(device, 0, 256, image.data(), FruReadErrors::Print, FruReadSizes::Growing));
  EXPECT_EQ(image, before);
  EXPECT_EQ(UpdateFruData(device, 0, after.data(), 256, image.data(), readBack.data(), touched.get()),
            FruWriteOutcome::Written);
  HostConsoleCapture(nullptr);
  EXPECT_EQ(console, "");
  EXPECT_EQ(fru, after);
  ASSERT_FALSE(gDevice.writes.empty());
  for (size_t count : gDevice.writes) EXPECT_EQ(count, 16u);
}

// Growing reads keep only bytes the 32-byte reads vouch for: a grown read must
// give back all of the first 32 bytes equal, and one that is refused, differs
// or comes back short ends the growth for the rest of the run. A count byte
// that names more bytes than arrived makes a short answer, never a copy of
// bytes that did not arrive. The sizes asked for show where growth stopped.
TEST_F(KernelTransport, GrowingReadsEndAtTheFirstRefusedDifferingOrShortAnswer) {
  // Groups of read sizes, each group repeated.
  const auto then = [](std::vector<size_t> reads, std::vector<size_t> group, size_t times) {
    for (size_t i = 0; i < times; ++i) reads.insert(reads.end(), group.begin(), group.end());
    return reads;
  };
  const std::vector<size_t> fellBack = then({32, 64}, {32}, 7);
  const std::vector<size_t> shortAt48 = then(then({32, 64}, {32}, 6), {16}, 1);
  struct Case {
    const char* name;
    FakeReadFaults faults;
    std::vector<size_t> reads;
    bool ok;
  };
  const Case cases[] = {
      {"every answer whole", {}, {32, 64, 128, 224, 32}, true},
      {"grown reads refused", {.grownCode = 0xCA}, fellBack, true},
      {"grown reads garbled from byte 8", {.garbleFrom = 8, .garbleTo = 32}, fellBack, true},
      {"grown reads garbled at byte 31 only", {.garbleFrom = 31, .garbleTo = 32}, fellBack, true},
      {"grown reads short", {.grownSent = 48}, shortAt48, true},
      {"grown reads short, their count byte full", {.grownSent = 48, .countLies = true}, shortAt48, true},
      // 20 bytes of each 32 asked for; the next read asks from where they ended.
      {"every read short, its count byte full", {.sent = 20, .countLies = true},
       then(then({32, 12, 64}, {32}, 10), {24, 4}, 1), true},
      {"no bytes, a count byte full", {.sent = 0, .countLies = true}, std::vector<size_t>(12, 32), false},
  };
  for (const Case& c : cases) {
    SetUp();
    // Odd bytes: never the 0x00 an answer holds where nothing arrived.
    std::vector<uint8_t> fru(256);
    for (size_t i = 0; i < fru.size(); ++i) fru[i] = static_cast<uint8_t>(i * 2 + 1);
    gDevice.fru = &fru;
    gDevice.readFaults = c.faults;
    std::string console;
    AttachConsole();
    HostConsoleCapture(&console);
    IpmiFruDevice ipmi{};
    OpenIpmiFruDevice(&ipmi, transport_.Platform());
    FruDevice device{&ipmi.device, false};
    std::vector<uint8_t> image(256, 0xEE);
    const bool ok = ReadFruImage(device, 0, 256, image.data(), FruReadErrors::Print, FruReadSizes::Growing);
    HostConsoleCapture(nullptr);
    EXPECT_EQ(ok, c.ok) << c.name;
    EXPECT_EQ(gDevice.reads, c.reads) << c.name;
    if (c.ok) {
      EXPECT_EQ(image, fru) << c.name;
      EXPECT_EQ(console, "") << c.name;
    } else {
      EXPECT_EQ(console, "[ERROR] Read Fru 0 startOffset=0x0, length=32\n[ERROR] Read FRU error\n") << c.name;
    }
  }
}

class BmcChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("tagforge-roots-" + std::to_string(getpid()));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "dev");
    std::filesystem::create_directories(root_ / "sys/class");
    root_ = std::filesystem::canonical(root_);
    roots_ = HostRoots{(root_ / "dev").string(), (root_ / "sys").string()};
    // The simulated BMC's default FRU file lands in the current directory.
    if (home_.empty()) home_ = std::filesystem::current_path();
    std::filesystem::current_path(root_);
  }
  void TearDown() override {
    std::filesystem::current_path(home_);
    std::filesystem::remove_all(root_);
  }
  void Touch(const std::string& relative) {
    std::filesystem::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative).put('\n');
  }
  std::filesystem::path root_;
  std::filesystem::path home_;
  HostRoots roots_;
};

TEST_F(BmcChoiceTest, TheSettingAndTheMachineDecide) {
  using Kind = PlatformFruAccessKind;
  struct Case {
    const char* name;
    std::vector<std::string> present;  // below the fake root
    const char* setting;
    bool ok;
    Kind kind;
    std::string text;  // the device's name (ROOT/ stands for the fake root) or the error line
  };
  const std::string forms = "[ERROR] TAGFORGE_BMC must be sim, sim:PATH, ports, kernel, kernel:N, ";
  const Case cases[] = {
      {"unset, no driver", {}, nullptr, false, Kind::Ports,
       "[ERROR] No BMC: load the kernel's IPMI driver: modprobe ipmi_si ipmi_devintf, or set TAGFORGE_BMC (kernel, "
       "lan:HOST, sim, ports)"},
      {"unset, ipmi_si without ipmi_devintf", {"sys/module/ipmi_si/parameters"}, nullptr, false, Kind::Ports,
       "[ERROR] The kernel's IPMI driver is loaded without its device interface: load it with modprobe ipmi_devintf, "
       "or set TAGFORGE_BMC (kernel, lan:HOST, sim, ports)"},
      {"unset, ipmi_ssif without ipmi_devintf", {"sys/module/ipmi_ssif/uevent"}, nullptr, false, Kind::Ports,
       "[ERROR] The kernel's IPMI driver is loaded without its device interface: load it with modprobe ipmi_devintf, "
       "or set TAGFORGE_BMC (kernel, lan:HOST, sim, ports)"},
      {"unset, driver", {"dev/ipmi0"}, nullptr, true, Kind::Transport, "kernel:ROOT/dev/ipmi0"},
      {"kernel, second node form", {"dev/ipmi/0"}, "kernel", true, Kind::Transport, "kernel:ROOT/dev/ipmi/0"},
      {"kernel, third node form", {"dev/ipmidev/0"}, "kernel", true, Kind::Transport, "kernel:ROOT/dev/ipmidev/0"},
      {"kernel:1", {"dev/ipmi0", "dev/ipmi1"}, "kernel:1", true, Kind::Transport, "kernel:ROOT/dev/ipmi1"},
      {"kernel without driver", {}, "kernel:2", false, Kind::Ports,
       "[ERROR] No device node of the kernel's IPMI driver (ROOT/dev/ipmi2, ROOT/dev/ipmi/2, ROOT/dev/ipmidev/2): "
       "load it with modprobe ipmi_si ipmi_devintf"},
      // Opened as root with CAP_SYS_RAWIO; refused by ioperm otherwise (below).
      {"ports, no driver", {}, "ports", true, Kind::Ports, "ports"},
      {"ports beside a node", {"dev/ipmi0"}, "ports", false, Kind::Ports,
       "[ERROR] The kernel's IPMI driver is loaded and owns the KCS interface; two drivers on one interface corrupt "
       "each other's transfers. Use TAGFORGE_BMC=kernel"},
      {"ports beside sysfs", {"sys/class/ipmi/ipmi0/dev"}, "ports", false, Kind::Ports, "[ERROR] The kernel's IPMI driver is loaded and owns"},
      {"ports beside ipmi_si alone", {"sys/module/ipmi_si/uevent"}, "ports", false, Kind::Ports,
       "[ERROR] The kernel's IPMI driver is loaded and owns"},
      {"ports beside ipmi_ssif alone", {"sys/module/ipmi_ssif/uevent"}, "ports", false, Kind::Ports,
       "[ERROR] The kernel's IPMI driver is loaded and owns"},
      {"sim beside a driver", {"dev/ipmi0"}, "sim", true, Kind::Ports, "sim:ROOT/tagforge-fru.bin"},
      {"sim:PATH, relative", {}, "sim:sub/../fru.bin", true, Kind::Ports, "sim:ROOT/fru.bin"},
      {"kernel:x", {}, "kernel:x", false, Kind::Ports, forms},
      {"empty", {}, "", false, Kind::Ports, forms},
      {"sim: without a path", {}, "sim:", false, Kind::Ports, forms},
      {"simulated", {}, "simulated", false, Kind::Ports, forms},
      {"ports:1", {}, "ports:1", false, Kind::Ports, forms},
      {"file:PATH, relative", {"fru.bin"}, "file:sub/../fru.bin", true, Kind::Device, "file:ROOT/fru.bin"},
      {"eeprom:PATH, relative", {"fru.bin"}, "eeprom:sub/../fru.bin", true, Kind::Device, "eeprom:ROOT/fru.bin"},
      {"file: without a path", {}, "file:", false, Kind::Ports, forms},
      {"eeprom: without a path", {}, "eeprom:", false, Kind::Ports, forms},
  };
  for (const Case& c : cases) {
    SetUp();
    for (const std::string& p : c.present) Touch(p);
    std::filesystem::create_directories(root_ / "sub");
    HostOpened opened;
    std::string error;
    const bool ok = HostOpenDevice(c.setting, roots_, &opened, &error);
    std::string text = ok ? opened.name : error;
    for (size_t at; (at = text.find(root_.string())) != std::string::npos;) text.replace(at, root_.string().size(), "ROOT");
    const std::string ioperm = "tagforge: cannot open the KCS ports 0xCA2-0xCA3 (ioperm: ";
    if (c.text == "ports" && !ok && text.rfind(ioperm, 0) == 0) continue;
    EXPECT_EQ(ok, c.ok) << c.name << ": " << error;
    EXPECT_EQ(text.substr(0, c.text.size()), c.text) << c.name;
    if (!ok) {
      EXPECT_EQ(opened.device, nullptr) << c.name;
      continue;
    }
    PlatformFruAccess access = opened.device->Access();
    EXPECT_EQ(access.kind, c.kind) << c.name;
    EXPECT_EQ(access.RefuseWrite(access.refuseContext, true), nullptr) << c.name;
    // A FRU file that holds something else is never overwritten; a BMC guards its own.
    const char* refusal = access.RefuseWrite(access.refuseContext, false);
    if (c.text.rfind("sim:", 0) == 0 || c.text.rfind("file:", 0) == 0) {
      const std::string path = c.setting == std::string("sim") ? "tagforge-fru.bin" : "sub/../fru.bin";
      EXPECT_STREQ(refusal, ("[ERROR] " + path + " holds no FRU data").c_str()) << c.name;
      EXPECT_EQ(opened.lockName.rfind("sim-file:", 0), 0u) << c.name;
    } else if (c.text.rfind("eeprom:", 0) == 0) {
      EXPECT_STREQ(refusal, "[ERROR] The EEPROM at sub/../fru.bin holds no FRU data") << c.name;
    } else {
      EXPECT_EQ(refusal, nullptr) << c.name;
    }
  }
}

}  // namespace
