// The kernel driver's transport against a fake device node, and the choice of
// BMC against fake /dev and /sys roots.
#include <gtest/gtest.h>

#include <linux/ipmi.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>

#include "platform/host/host_bmc_choice.h"
#include "platform/host/host_kernel_ipmi.h"

namespace {

// What the fake device hands back, in order, to IPMICTL_RECEIVE_MSG_TRUNC.
struct FakeMessage {
  int type;
  long msgidOffset;  // added to the ID of the request just sent
  std::vector<uint8_t> data;
  bool truncated;
};

struct FakeDevice {
  long lastMsgid = 0;
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
int FakeIoctl(int, unsigned long request, void* argument) {
  if (request == IPMICTL_SEND_COMMAND) {
    auto* req = static_cast<ipmi_req*>(argument);
    gDevice.lastMsgid = req->msgid;
    gDevice.lastRequest.assign(req->msg.data, req->msg.data + req->msg.data_len);
    return 0;
  }
  auto* recv = static_cast<ipmi_recv*>(argument);
  FakeMessage m = gDevice.queue.front();
  gDevice.queue.pop_front();
  recv->recv_type = m.type;
  recv->msgid = gDevice.lastMsgid + m.msgidOffset;
  const size_t room = recv->msg.data_len;
  const size_t n = std::min(room, m.data.size());
  memcpy(recv->msg.data, m.data.data(), n);
  recv->msg.data_len = static_cast<unsigned short>(n);
  if (m.truncated) {
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
  bool Send(std::vector<uint8_t>* response) {
    uint8_t buffer[64];
    size_t length = 0;
    const uint8_t data[] = {0x00, 0x10, 0x00, 0x20};
    bool ok = transport_.Send(0x0A, 0x11, data, sizeof(data), buffer, sizeof(buffer), &length);
    response->assign(buffer, buffer + length);
    return ok;
  }
  KernelIpmiTransport transport_{kFake};
};

TEST_F(KernelTransport, OnlyTheAnswerWithTheRequestsIdIsTaken) {
  struct Case {
    const char* name;
    std::deque<FakeMessage> queue;
    bool ok;
    std::vector<uint8_t> response;
  };
  const std::vector<uint8_t> answer{0x00, 0x02, 0xAA, 0xBB};
  const Case cases[] = {
      {"the answer", {{IPMI_RESPONSE_RECV_TYPE, 0, answer, false}}, true, answer},
      {"a stray answer first",
       {{IPMI_RESPONSE_RECV_TYPE, -1, {0x00, 0x09}, false}, {IPMI_ASYNC_EVENT_RECV_TYPE, 0, {0x01}, false},
        {IPMI_RESPONSE_RECV_TYPE, 0, answer, false}},
       true, answer},
      {"a completion code", {{IPMI_RESPONSE_RECV_TYPE, 0, {0xC0}, false}}, true, {0xC0}},
      {"never answered", {}, false, {}},
      {"only strays", {{IPMI_RESPONSE_RECV_TYPE, 5, answer, false}}, false, {}},
      {"truncated", {{IPMI_RESPONSE_RECV_TYPE, 0, answer, true}}, false, {}},
      {"no completion code", {{IPMI_RESPONSE_RECV_TYPE, 0, {}, false}}, false, {}},
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

class BmcChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("tagforge-roots-" + std::to_string(getpid()));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "dev");
    std::filesystem::create_directories(root_ / "sys/class");
    roots_ = HostRoots{(root_ / "dev").string(), (root_ / "sys").string()};
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  void Touch(const std::string& relative) {
    std::filesystem::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative).put('\n');
  }
  std::filesystem::path root_;
  HostRoots roots_;
};

TEST_F(BmcChoiceTest, TheSettingAndTheMachineDecide) {
  struct Case {
    const char* name;
    std::vector<std::string> present;  // below the fake root
    const char* setting;
    bool ok;
    BmcKind kind;
    std::string path;   // relative to the root for nodes
    std::string text;   // the start of the notice or of the error
  };
  const Case cases[] = {
      {"unset, no driver", {}, nullptr, false, BmcKind::Sim, "",
       "[ERROR] No BMC: load the kernel's IPMI driver: modprobe ipmi_si ipmi_devintf, or set TAGFORGE_BMC (kernel, "
       "lan:HOST, sim, ports)"},
      {"unset, ipmi_si without ipmi_devintf", {"sys/module/ipmi_si/parameters"}, nullptr, false, BmcKind::Sim, "",
       "[ERROR] The kernel's IPMI driver is loaded without its device interface: load it with modprobe ipmi_devintf"},
      {"unset, ipmi_ssif without ipmi_devintf", {"sys/module/ipmi_ssif/uevent"}, nullptr, false, BmcKind::Sim, "",
       "[ERROR] The kernel's IPMI driver is loaded without its device interface"},
      {"unset, driver", {"dev/ipmi0"}, nullptr, true, BmcKind::Kernel, "dev/ipmi0", ""},
      {"kernel, second node form", {"dev/ipmi/0"}, "kernel", true, BmcKind::Kernel, "dev/ipmi/0", ""},
      {"kernel, third node form", {"dev/ipmidev/0"}, "kernel", true, BmcKind::Kernel, "dev/ipmidev/0", ""},
      {"kernel:1", {"dev/ipmi0", "dev/ipmi1"}, "kernel:1", true, BmcKind::Kernel, "dev/ipmi1", ""},
      {"kernel without driver", {}, "kernel", false, BmcKind::Sim, "", "[ERROR] No device node"},
      {"ports, no driver", {}, "ports", true, BmcKind::Ports, "", ""},
      {"ports beside a node", {"dev/ipmi0"}, "ports", false, BmcKind::Sim, "", "[ERROR] The kernel's IPMI driver is loaded"},
      {"ports beside sysfs", {"sys/class/ipmi/ipmi0/dev"}, "ports", false, BmcKind::Sim, "", "[ERROR] The kernel's"},
      {"ports beside ipmi_si alone", {"sys/module/ipmi_si/uevent"}, "ports", false, BmcKind::Sim, "",
       "[ERROR] The kernel's IPMI driver is loaded and owns"},
      {"ports beside ipmi_ssif alone", {"sys/module/ipmi_ssif/uevent"}, "ports", false, BmcKind::Sim, "",
       "[ERROR] The kernel's IPMI driver is loaded and owns"},
      {"sim beside a driver", {"dev/ipmi0"}, "sim", true, BmcKind::Sim, "", ""},
      {"bad", {}, "kernel:x", false, BmcKind::Sim, "", "[ERROR] TAGFORGE_BMC must be"},
      {"empty", {}, "", false, BmcKind::Sim, "", "[ERROR] TAGFORGE_BMC must be"},
  };
  for (const Case& c : cases) {
    SetUp();
    for (const std::string& p : c.present) Touch(p);
    BmcChoice choice;
    std::string error;
    EXPECT_EQ(ChooseBmc(c.setting, roots_, &choice, &error), c.ok) << c.name << ": " << error;
    if (c.ok) {
      EXPECT_EQ(choice.kind, c.kind) << c.name;
      if (!c.path.empty()) {
        EXPECT_EQ(choice.path, (root_ / c.path).string()) << c.name;
      }
      EXPECT_EQ(choice.notice.substr(0, c.text.size()), c.text) << c.name;
    } else {
      EXPECT_EQ(error.substr(0, c.text.size()), c.text) << c.name;
    }
  }
}

}  // namespace
