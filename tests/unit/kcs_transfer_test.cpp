// The KCS transfer against the KCS device model of the simulated BMC.
#include "bmc/ipmi_request.h"
#include "bmc/kcs_transfer.h"
#include "bmc/kcs_wait.h"
#include "bmc/port_access.h"
#include "bmc_test_support.h"

namespace {

class KcsTransfer : public BmcTest {
 protected:
  int Send(const std::vector<uint8_t>& request) {
    std::copy(request.begin(), request.end(), Kcs().request);
    int status = KcsWriteRequest(Kcs(), request.size());
    return status == KCS_OK ? KcsReadResponse(Kcs()) : status;
  }
  std::vector<uint8_t> Response() { return std::vector<uint8_t>(Kcs().response, Kcs().response + Kcs().responseLength); }
  // Get Device ID: the count of data bytes, or -1 for a failed transfer.
  int AskDeviceId() {
    const IpmiAnswer answer = IpmiSendCommand(Transport(), 0x06, 0x01, nullptr, 0);
    return answer.answered ? answer.length : -1;
  }
};

TEST_F(KcsTransfer, AOneByteRequestIsStartedEndedAndSent) {
  sim::SimulatedBmc& bmc = Bmc();
  ASSERT_EQ(Send({0x18}), KCS_OK);
  EXPECT_EQ(bmc.LastRequest(), std::vector<uint8_t>{0x18});
  EXPECT_EQ(Response(), (std::vector<uint8_t>{0x00, 0x00, 0xC7}));
}

TEST_F(KcsTransfer, AThirtySevenByteRequestArrivesWhole) {
  sim::SimulatedBmc& bmc = Bmc();
  std::vector<uint8_t> request{0x28, 0x12, 0x00, 0x20, 0x00};
  for (int i = 0; i < 32; ++i) request.push_back(static_cast<uint8_t>(0x40 + i));
  ASSERT_EQ(Send(request), KCS_OK);
  EXPECT_EQ(bmc.LastRequest(), request);
  EXPECT_EQ(Response(), (std::vector<uint8_t>{0x2C, 0x12, 0x00, 32}));
  EXPECT_EQ(bmc.Fru()[0x20], 0x40);
  EXPECT_EQ(bmc.Fru()[0x3F], 0x5F);
}

TEST_F(KcsTransfer, AnInterfaceLeftInWriteErrorOrReadStateIsAbortedFirst) {
  // state=read leaves a response byte in the output register: the abort must read it away.
  for (const char* state : {"state=write", "state=error", "state=read"}) {
    sim::SimulatedBmc& bmc = Bmc(state);
    ASSERT_EQ(Send({0x18, 0x01}), KCS_OK) << state;
    EXPECT_EQ(Response().size(), 18u) << state;
    EXPECT_EQ(bmc.Requests(), 1u);
  }
}

TEST_F(KcsTransfer, AnAbsentInterfaceFailsAtOnce) {
  sim::SimulatedBmc& bmc = Bmc("absent");
  EXPECT_EQ(Send({0x18, 0x01}), KCS_FAILED);
  EXPECT_EQ(bmc.Counters().stalls, 0u);
  EXPECT_EQ(TakeConsole(), "");
}

TEST_F(KcsTransfer, AStuckIbfFailsOnceTheStallsOfAWaitReachFiveSeconds) {
  sim::SimulatedBmc& bmc = Bmc("ibf-stuck");
  EXPECT_EQ(Send({0x18, 0x01}), KCS_FAILED);
  EXPECT_GE(bmc.Counters().stalledUs, 5000000u);
  EXPECT_LE(bmc.Counters().stalledUs, 5000000u + 5000u);  // at most one last step past the budget

  // The fixed schedule the benchmark compares with gives up after 1000 stalls of 5 ms.
  options_.kcsWaits = KcsWaitSchedule::FixedPoll;
  sim::SimulatedBmc& old = Bmc("ibf-stuck");
  EXPECT_EQ(Send({0x18, 0x01}), KCS_FAILED);
  EXPECT_EQ(old.Counters().stalledUs, 1000u * 5000u);
}

TEST_F(KcsTransfer, WaitsCostWhatTheBmcTakesAndLittleMore) {
  // Ready at once: no stall at all.
  sim::SimulatedBmc& instant = Bmc("", "ibf=0,response=0,port=1");
  ASSERT_EQ(AskDeviceId(), 15);
  EXPECT_EQ(instant.Counters().stalls, 0u);

  // Three microseconds per byte: one or two short stalls per byte.
  sim::SimulatedBmc& quick = Bmc("", "ibf=3,response=0,port=1");
  ASSERT_EQ(AskDeviceId(), 15);
  EXPECT_LE(quick.Counters().stalls, 2 * quick.BytesTaken());
  EXPECT_LE(quick.Counters().stalledUs, 4 * quick.BytesTaken());

  // A slow answer is seen within an eighth of its time.
  sim::SimulatedBmc& slow = Bmc("", "ibf=0,response=4100,port=0");
  ASSERT_EQ(AskDeviceId(), 15);
  EXPECT_LE(slow.NowUs(), 4100u + 4100u / 8);
}

// A long answer is never cut or wrapped: it is whole, or a failed transfer;
// and an answer to another request than the one sent is no answer.
TEST_F(KcsTransfer, AnAnswerIsWholeAndAnswersTheRequestOrItIsAFailedTransfer) {
  struct Case {
    std::vector<uint8_t> header;  // network function, command, completion code
    size_t length;                // of the whole response
    int data;                     // what the request gets: its data count, or -1
  };
  const Case cases[] = {
      {{0x1C, 0x01, 0x00}, 255, 252},
      {{0x1C, 0x01, 0x00}, 256, 253},  // one byte past a one-byte index
      {{0x1C, 0x01, 0x00}, 3 + 272, 272},
      {{0x1C, 0x01, 0x00}, 3 + 273, -1},
      {{0x1C, 0x01, 0x00}, 300, -1},
      {{0x1D, 0x01, 0x00}, 18, 15},  // LUN bits are not the network function
      {{0x2C, 0x01, 0x00}, 18, -1},  // another network function
      {{0x1C, 0x02, 0x00}, 18, -1},  // another command
      {{0x18, 0x01, 0x00}, 18, -1},  // the request's own network function, not the response's
  };
  for (const Case& c : cases) {
    sim::SimulatedBmc& bmc = Bmc();
    bmc.OverrideHandler([&](const std::vector<uint8_t>&) {
      std::vector<uint8_t> response(c.length);
      for (size_t i = 0; i < c.length; ++i) response[i] = i < c.header.size() ? c.header[i] : static_cast<uint8_t>(i);
      return std::optional<std::vector<uint8_t>>(response);
    });
    EXPECT_EQ(AskDeviceId(), c.data) << c.length << " " << int(c.header[0]) << " " << int(c.header[1]);
    if (c.data > 0) {
      EXPECT_EQ(static_cast<size_t>(Kcs().responseLength), c.length);
    }
  }
}

TEST_F(KcsTransfer, ABmcThatNeverStopsTalkingFailsWithinTheBuffer) {
  sim::SimulatedBmc& bmc = Bmc("flood");
  EXPECT_EQ(Send({0x18, 0x01}), KCS_FAILED);
  EXPECT_LE(bmc.Counters().dataReads, KCS_BUFFER_SIZE + 8u);  // bounded: never a read past the response buffer
}

TEST_F(KcsTransfer, VerboseTracesShowRequestAndResponse) {
  Bmc();
  gVerbose = 1;
  ASSERT_EQ(AskDeviceId(), 15);
  EXPECT_EQ(TakeConsole(),
            "[KCS] cmd:0x18 0x01 \n"
            "[KCS] OUTPUT>>>\n"
            "0x1c 0x01 0x00 0x20 0x01 0x01 0x25 0x02 0x1f 0xd9 0x7e 0x00 0x34 0x12 0x00 0x00 0x00 0x00 "
            "[KCS] Status=0<<<\n");

  Bmc("ibf-stuck");
  EXPECT_EQ(AskDeviceId(), -1);
  EXPECT_EQ(TakeConsole(), "[KCS] cmd:0x18 0x01 \n");
}

TEST_F(KcsTransfer, AFailedReadPhaseIsTracedWithStatusOne) {
  Bmc("dead-after=0");
  gVerbose = 1;
  EXPECT_EQ(AskDeviceId(), -1);
  EXPECT_EQ(TakeConsole(), "[KCS] cmd:0x18 0x01 \n[KCS] OUTPUT>>>\n[KCS] Status=1<<<\n");
}

TEST_F(KcsTransfer, RepliesWithoutACompletionCodeAreFailedTransfers) {
  sim::SimulatedBmc& bmc = Bmc();
  bmc.OverrideHandler([](const std::vector<uint8_t>&) { return std::optional<std::vector<uint8_t>>({0x1C, 0x01}); });
  const IpmiAnswer answer = IpmiSendCommand(Transport(), 0x06, 0x01, nullptr, 0);
  EXPECT_FALSE(answer.answered);
  EXPECT_EQ(answer.completionCode, 0xFF);
}

TEST_F(KcsTransfer, PortFailuresArePrintedAndReadAs0xFF) {
  Bmc("locate-fail");
  EXPECT_EQ(Send({0x18, 0x01}), KCS_FAILED);
  const std::string locate = "Error! Cannot locate protocol EfiCpuIo2ProtocolGuid. (Status = 14)\n";
  EXPECT_EQ(TakeConsole(), locate + locate);  // the idle poll and the abort's first poll

  // A failed status read looks like an absent interface once: an abort, then the request goes through.
  SetUp();
  Bmc("port-fail=read#1");
  EXPECT_EQ(Send({0x18, 0x01}), KCS_OK);
  EXPECT_EQ(TakeConsole(), "Error! Cannot read I/O CFC. (Status = 7)\n");

  // A lost WRITE_START leaves the interface idle where the write state was expected.
  SetUp();
  Bmc("port-fail=write#1");
  EXPECT_EQ(Send({0x18, 0x01}), KCS_FAILED);
  EXPECT_EQ(TakeConsole(), "Error! Cannot write I/O CF8. (Status = 7)\n");
}

// The device model objects to a host that breaks the handshake; here a host
// that writes the abort's 0x00 over a byte still waiting in the output register.
TEST(KcsDevice, AHostThatSkipsTheObfClearInAnAbortIsCaught) {
  sim::Faults faults;
  faults.initialState = sim::InitialState::Read;
  sim::SimulatedBmc bmc(sim::Latency{}, faults, sim::Identity{32473});
  ASSERT_TRUE(bmc.Write(KCS_STATUS_PORT, KCS_GET_STATUS_ABORT));
  bmc.Stall(100);  // the BMC takes the command; the stale byte stays
  uint8_t status = 0;
  ASSERT_TRUE(bmc.Read(KCS_STATUS_PORT, &status));
  ASSERT_EQ(status & (KCS_STATUS_IBF | KCS_STATUS_OBF), KCS_STATUS_OBF);
  EXPECT_EQ(bmc.Violations().count, 0u);
  ASSERT_TRUE(bmc.Write(KCS_DATA_PORT, KCS_ABORT_DATA));  // without reading the data register first
  EXPECT_EQ(bmc.Violations().count, 1u);
  EXPECT_EQ(bmc.Violations().first, "data 0x00 of an abort written while OBF was still set");
}

}  // namespace
