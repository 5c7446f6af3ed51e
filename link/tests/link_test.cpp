// The link's transport rules over channels whose behaviour the test sets.
#include <gtest/gtest.h>

#include <deque>

#include "link/link.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

// A channel that does what it is told and writes down what it was asked.
class FakeChannel final : public ByteChannel {
 public:
  FakeChannel(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}

  bool present = false;
  std::deque<IoResult> results;  // for the next transfers; empty: all bytes move
  std::vector<uint32_t> timeouts;
  int transfers = 0;

  bool Open(IoWait&) override {
    log_->push_back(name_ + " open");
    if (!present || open_) return false;
    open_ = true;
    return true;
  }
  bool Close() override {
    log_->push_back(name_ + " close");
    bool was = open_;
    open_ = false;
    return was;
  }
  bool IsOpen() const override { return open_; }
  IoResult Send(const uint8_t*, size_t count, uint32_t timeoutMs, IoWait& w) override { return Next(count, timeoutMs, w); }
  IoResult Receive(uint8_t* buf, size_t count, uint32_t timeoutMs, IoWait& w) override {
    std::fill_n(buf, count, 0x06);
    return Next(count, timeoutMs, w);
  }

 private:
  IoResult Next(size_t count, uint32_t timeoutMs, IoWait& w) {
    ++transfers;
    timeouts.push_back(timeoutMs);
    if (results.empty()) return {IoStatus::Done, count};
    IoResult r = results.front();
    results.pop_front();
    if (r.status == IoStatus::TimedOut) w.WaitClock().SleepMs(timeoutMs);
    return r;
  }
  std::string name_;
  std::vector<std::string>* log_;
  bool open_ = false;
};

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() : env{ui, clock, profile, dict, dir.path()}, link(env, Channels(), cycle) {
    dict.LoadFromText("[ENUMKEYS]\nK0=MSG_USB_TIMEOUT\n[ITALIANO]\nMSG_USB_TIMEOUT=USB timeout\n", "ITALIANO", ui);
  }
  LinkChannels Channels() {
    auto f = std::make_unique<FakeChannel>("ftdi", &log);
    auto b = std::make_unique<FakeChannel>("bulk", &log);
    ftdi = f.get();
    bulk = b.get();
    return {std::move(f), std::move(b)};
  }

  testing::TempDir dir;
  ScriptedUi ui;
  VirtualClock clock;
  ProfileFile profile{dir / "Zumbla.INI"};
  Dictionary dict;
  Env env;
  std::vector<std::string> log;
  FakeChannel* ftdi = nullptr;
  FakeChannel* bulk = nullptr;
  BasicCycleSide cycle;
  Link link;
};

TEST_F(LinkTest, TransportProbeTriesFtdiFirstThenBulkElseFallsBackToFtdi) {
  struct Case {
    bool ftdi, bulk;
    int result;
    Transport chosen;
    std::vector<std::string> log;
  } cases[] = {
      {true, true, 1, Transport::Ftdi, {"ftdi open", "ftdi close"}},
      {false, true, 1, Transport::Bulk, {"ftdi open", "bulk open", "bulk close"}},
      {false, false, 0, Transport::Ftdi, {"ftdi open", "bulk open"}},
  };
  for (const auto& c : cases) {
    log.clear();
    ftdi->present = c.ftdi;
    bulk->present = c.bulk;
    link.transport = Transport::Bulk;
    EXPECT_EQ(link.ChooseTransport(), c.result);
    EXPECT_EQ(link.transport, c.chosen);
    EXPECT_EQ(log, c.log);
    EXPECT_FALSE(ftdi->IsOpen());
    EXPECT_FALSE(bulk->IsOpen());
  }
}

TEST_F(LinkTest, OpenFlagFollowsOpensAndBulkCloses) {
  ftdi->present = bulk->present = true;
  EXPECT_EQ(link.linkOpenFlag, 1);  // at start
  link.transport = Transport::Bulk;
  ASSERT_EQ(link.LinkOpen(), 1);
  EXPECT_EQ(link.LinkOpen(), 0);  // already open: nothing done
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(link.LinkClose(), 1);
  EXPECT_EQ(link.linkOpenFlag, 0);
  EXPECT_EQ(link.LinkClose(), 1);  // bulk close always succeeds

  // An FTDI open after a bulk session lets card traffic through again; an
  // FTDI close reports the bridge's own result and leaves the flag.
  link.transport = Transport::Ftdi;
  ASSERT_EQ(link.LinkOpen(), 1);
  EXPECT_EQ(link.linkOpenFlag, 1);
  EXPECT_EQ(link.LinkClose(), 1);
  EXPECT_EQ(link.linkOpenFlag, 1);
  EXPECT_EQ(link.LinkClose(), 0);
}

TEST_F(LinkTest, FtdiTransfersNeedEveryByteAndWaitTwiceTheTimeout) {
  ftdi->present = true;
  ASSERT_EQ(link.LinkOpen(), 1);
  uint8_t buf[515];
  EXPECT_EQ(link.LinkReceive(buf, 515, 2000), 1);
  ftdi->results = {{IoStatus::Done, 514}};  // short: a failure on FTDI
  EXPECT_EQ(link.LinkReceive(buf, 515, 2000), 0);
  ftdi->results = {{IoStatus::TimedOut, 3}};
  EXPECT_EQ(link.LinkSend(buf, 7, 1000), 0);
  ftdi->results = {{IoStatus::Failed, 0}};
  EXPECT_EQ(link.LinkSend(buf, 7, 1000), 0);
  EXPECT_EQ(ftdi->timeouts, (std::vector<uint32_t>{4000, 4000, 2000, 2000}));
  // FTDI failures change nothing else and show nothing.
  EXPECT_EQ(link.linkErrorState, 0);
  EXPECT_EQ(link.timeoutCounter, 0);
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(cycle.linkLostCount, 0);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(LinkTest, BulkTransferThatCompletesShortIsASuccess) {
  bulk->present = true;
  link.transport = Transport::Bulk;
  ASSERT_EQ(link.LinkOpen(), 1);
  uint8_t buf[515];
  bulk->results = {{IoStatus::Done, 100}};
  EXPECT_EQ(link.LinkReceive(buf, 515, 2000), 1);
  EXPECT_EQ(bulk->timeouts, std::vector<uint32_t>{2000});
}

TEST_F(LinkTest, BulkTimeoutAndVanishedDeviceLoseTheLink) {
  bulk->present = true;
  link.transport = Transport::Bulk;
  for (IoStatus how : {IoStatus::TimedOut, IoStatus::Failed}) {
    link.linkErrorState = 0;
    ASSERT_EQ(link.LinkOpen(), 1);
    uint64_t before = clock.NowMs();
    bulk->results = {{how, 0}};
    uint8_t b[1];
    EXPECT_EQ(link.LinkReceive(b, 1, 2000), 0);
    EXPECT_EQ(link.linkErrorState, 1);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.linkOpenFlag, 0);
    EXPECT_EQ(cycle.lastReading, -1);
    EXPECT_EQ(cycle.skipTicks, 3);
    uint64_t waited = how == IoStatus::TimedOut ? 2000 : 0;
    EXPECT_EQ(clock.NowMs() - before, waited + 2000);
    // Later transfers fail without reaching the device.
    int transfers = bulk->transfers;
    EXPECT_EQ(link.LinkSend(b, 1, 2000), 0);
    EXPECT_EQ(bulk->transfers, transfers);
  }
  EXPECT_EQ(link.timeoutCounter, 2);
}

TEST_F(LinkTest, PumpRunsAtMostEvery200Ms) {
  link.PumpMessages();
  link.PumpMessages();
  EXPECT_EQ(ui.pumps, 1);
  clock.Advance(199);
  link.PumpMessages();
  EXPECT_EQ(ui.pumps, 1);
  clock.Advance(1);
  link.PumpMessages();
  EXPECT_EQ(ui.pumps, 2);
  // Transfers pump too, under the same limit.
  ftdi->present = true;
  link.LinkOpen();
  uint8_t b[1];
  link.LinkSend(b, 1, 10);
  EXPECT_EQ(ui.pumps, 2);
  clock.Advance(200);
  link.LinkSend(b, 1, 10);
  EXPECT_EQ(ui.pumps, 3);
}

}  // namespace
}  // namespace kestro
