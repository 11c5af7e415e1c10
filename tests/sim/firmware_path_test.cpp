// The firmware path at the wire: banner, loader letters, image headers, images and what follows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/command_link.h"
#include "recording_panel.h"
#include "sim/in_process.h"
#include "temp_dir.h"
#include "update/image_upload.h"
#include "wire_host.h"

namespace zephor::sim {
namespace {

using test::Bytes;
using test::ByteSum;
using test::HostCrc;
using test::Image;
using test::LongHeader;
using test::ShortHeader;
using test::WireHost;

constexpr char kBanner[] = ".QLX International Update Sequence...";

InstrumentState OldInstrument() {
  InstrumentState state;
  state.mainVersion = "1.28";
  state.bootVersion = "1.2";
  state.updateVersion = "1.1";
  state.build = 3;
  state.grade = "Q";
  return state;
}

// Writes header, expects ACK, sends image; true when all of it went through.
bool Load(WireHost& host, const Bytes& header, const Bytes& image) {
  host.Write(header);
  if (host.ReadByte(1000) != 0x06) return false;
  return host.SendXmodem(image);
}

TEST(FirmwarePathTest, FullUpdateOfFiveImagesRunsThrough) {
  InProcessInstrument instrument(OldInstrument(), Fault::kNone);
  int changes = 0;
  instrument.model().SetStateListener([&](const InstrumentState&) { ++changes; });
  const Bytes newboot = Image(1000, {}, 1);
  const Bytes boot = Image(3000, {"Version xx1.30"}, 2);
  const Bytes update = Image(2900, {"Version xx 1.3"}, 3);
  const Bytes special = Image(5000, {"Version xx1.29"}, 4);
  const Bytes main = Image(6000, {"Version xx1.40", "Build xx7    "}, 5);
  WireHost host(instrument);

  host.Write(kBanner);
  ASSERT_EQ(host.ReadByte(1000), 'S');
  ASSERT_TRUE(Load(host, ShortHeader(newboot.size(), ByteSum(newboot)), newboot));
  ASSERT_EQ(host.ReadByte(200000), 'B');
  ASSERT_TRUE(Load(host, LongHeader(boot.size(), HostCrc(boot), 32), boot));
  ASSERT_EQ(host.ReadByte(200000), 'U');
  ASSERT_TRUE(Load(host, LongHeader(update.size(), HostCrc(update), 12), update));
  EXPECT_EQ(instrument.model().state().bootVersion, "1.30");
  EXPECT_EQ(instrument.model().state().updateVersion, "1.3");
  EXPECT_EQ(host.ReadUntilQuiet(1500), "");  // the update program hands over to main quietly

  host.Write(kBanner);
  ASSERT_EQ(host.ReadByte(1000), 'S');
  ASSERT_TRUE(Load(host, ShortHeader(special.size(), ByteSum(special)), special));
  serial::FlushRxBuffer(host.port());
  char line[21] = {};
  serial::ReadString(host.port(), line, sizeof line, -2, 60000);
  EXPECT_STREQ(line, "end dBase convertion");
  EXPECT_EQ(instrument.model().state().mainVersion, "1.29");

  host.Write(kBanner);
  ASSERT_EQ(host.ReadByte(10000), 'S');
  ASSERT_TRUE(Load(host, ShortHeader(main.size(), ByteSum(main)), main));
  const std::uint32_t loadedAt = instrument.timing().now();
  std::string ready;
  for (int c; ready.size() < 7 && (c = host.ReadByte(15000)) >= 0;) ready.push_back(char(c));
  EXPECT_EQ(ready, "READY\r\n");
  EXPECT_NEAR(double(instrument.timing().now() - loadedAt), 2000.0, 5.0);
  EXPECT_EQ(host.ReadUntilQuiet(3000), "");  // only once
  EXPECT_EQ(instrument.model().state().mainVersion, "1.40");
  EXPECT_EQ(instrument.model().state().build, 7);
  EXPECT_EQ(instrument.model().state().missingProgram, 0);
  EXPECT_EQ(changes, 5);

  host.Write("UNLOCK\n");
  EXPECT_EQ(host.ReadUntilQuiet(100), "OK\n>");  // the main program talks again
}

TEST(FirmwarePathTest, BadHeadersAreRefusedAndTheLoaderKeepsAsking) {
  InstrumentState state = OldInstrument();
  state.missingProgram = 'B';
  InProcessInstrument instrument(state, Fault::kNone);
  WireHost host(instrument);
  const Bytes boot = Image(500, {"Version xx1.50"}, 6);
  ASSERT_EQ(host.ReadByte(1000), 'B');
  Bytes broken = LongHeader(boot.size(), HostCrc(boot), 32);
  broken[5] = '9';  // the header's own CRC no longer fits
  host.Write(broken);
  EXPECT_EQ(host.ReadByte(1000), 0x15);
  host.Write(LongHeader(boot.size(), HostCrc(boot), 12));  // an update image at the boot loader
  EXPECT_EQ(host.ReadByte(1000), 0x15);
  host.Write(ShortHeader(boot.size(), ByteSum(boot)));  // a short header, cut short
  EXPECT_EQ(host.ReadByte(1500), 0x15);
  EXPECT_EQ(host.ReadByte(1000), 'B');
  ASSERT_TRUE(Load(host, LongHeader(boot.size(), HostCrc(boot), 32), boot));
  EXPECT_EQ(instrument.model().state().bootVersion, "1.50");
  EXPECT_EQ(host.ReadByte(1000), 'U');
}

TEST(FirmwarePathTest, ImageWithWrongCheckCodeIsNotAdopted) {
  InProcessInstrument instrument(OldInstrument(), Fault::kNone);
  WireHost host(instrument);
  const Bytes main = Image(700, {"Version xx1.40"}, 7);
  host.Write(kBanner);
  ASSERT_EQ(host.ReadByte(1000), 'S');
  ASSERT_TRUE(Load(host, ShortHeader(main.size(), (ByteSum(main) + 1) & 0xFFFF), main));
  EXPECT_EQ(host.ReadByte(1000), 'S');  // still waiting for a good main program
  EXPECT_EQ(instrument.model().state().mainVersion, "1.28");
  ASSERT_TRUE(Load(host, ShortHeader(main.size() + 200, ByteSum(main)), main));  // too short
  EXPECT_EQ(instrument.model().state().mainVersion, "1.28");
}

TEST(FirmwarePathTest, MissingMainAtPowerUpThenReadyAfterChosenDelay) {
  InstrumentState state = OldInstrument();
  state.missingProgram = 'S';
  FirmwareTiming timing;
  timing.readyDelayMs = 500;
  InProcessInstrument instrument(state, Fault::kNone, 0, timing);
  WireHost host(instrument);
  EXPECT_EQ(host.ReadByte(10), 'S');
  EXPECT_EQ(host.ReadByte(600), 'S');                    // repeated every 500 ms
  const Bytes main = Image(300, {"Version xx1.32"}, 8);  // no build stamp: build stays
  ASSERT_TRUE(Load(host, ShortHeader(main.size(), ByteSum(main)), main));
  const std::uint32_t at = instrument.timing().now();
  EXPECT_EQ(host.ReadByte(1000), 'R');
  EXPECT_NEAR(double(instrument.timing().now() - at), 500.0, 3.0);
  EXPECT_EQ(instrument.model().state().mainVersion, "1.32");
  EXPECT_EQ(instrument.model().state().build, 3);
}

TEST(FirmwarePathTest, NeverReadyFaultKeepsQuietAfterMain) {
  InProcessInstrument instrument(OldInstrument(), Fault::kNeverReady);
  WireHost host(instrument);
  const Bytes main = Image(300, {"Version xx1.40"}, 9);
  host.Write(kBanner);
  ASSERT_EQ(host.ReadByte(1000), 'S');
  ASSERT_TRUE(Load(host, ShortHeader(main.size(), ByteSum(main)), main));
  EXPECT_EQ(host.ReadUntilQuiet(20000), "");
  EXPECT_EQ(instrument.model().state().mainVersion, "1.40");
}

TEST(FirmwarePathTest, RefusedBlocksAreSentAgainDuringALoad) {
  FaultSet faults;
  faults.nakFirstBlocks = 2;
  InProcessInstrument instrument(OldInstrument(), faults);
  WireHost host(instrument);
  const Bytes main = Image(1000, {"Version xx1.40"}, 10);
  host.Write(kBanner);
  ASSERT_EQ(host.ReadByte(1000), 'S');
  host.Write(ShortHeader(main.size(), ByteSum(main)));
  ASSERT_EQ(host.ReadByte(1000), 0x06);
  int naks = 0;
  ASSERT_TRUE(host.SendXmodem(main, &naks));
  EXPECT_EQ(naks, 2);
  EXPECT_EQ(instrument.model().state().mainVersion, "1.40");
}

TEST(FirmwarePathTest, SilentInstrumentIgnoresTheBanner) {
  InProcessInstrument instrument(OldInstrument(), Fault::kSilent);
  WireHost host(instrument);
  host.Write(kBanner);
  EXPECT_EQ(host.ReadByte(2000), serial::kTimeout);
}

}  // namespace
}  // namespace zephor::sim

namespace zephor::sim {
namespace {

// The utility's own uploads, one after another as a full update with the special main runs them.
TEST(FirmwarePathTest, UtilityUploadsLoadAllFiveImages) {
  const support::TempDir scratch;
  const std::filesystem::path& dir = scratch.path();
  auto write = [&](const char* name, const test::Bytes& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  };
  write("newboot.bin", test::Image(900, {}, 11));
  write("boot.bin", test::Image(2000, {"Version xx1.30"}, 12));
  write("update.bin", test::Image(2100, {"Version xx1.30"}, 13));
  write("main1p29.bin", test::Image(3000, {"Version xx1.29"}, 14));
  write("main.bin", test::Image(4000, {"Version xx1.40", "Build xx   9 "}, 15));
  InProcessInstrument instrument(OldInstrument(), Fault::kNone);
  device::RecordingPanel panel;
  device::Station station;
  station.ports = instrument.environment();
  station.panel = &panel;
  EXPECT_TRUE(update::UploadNewBoot(station, 0, dir));
  EXPECT_TRUE(update::UploadBoot(station, 0, dir));
  EXPECT_TRUE(update::UploadUpdate(station, 0, dir));
  EXPECT_TRUE(update::UploadSpecialMain(station, 0, dir));
  EXPECT_TRUE(update::UploadMain(station, 0, dir));
  EXPECT_TRUE(panel.messages.empty()) << (panel.messages.empty() ? "" : panel.messages.front());
  EXPECT_TRUE(device::WaitReady(station.ports, 0));
  const InstrumentState& state = instrument.model().state();
  EXPECT_EQ(StateSummary(state),
            "boot=1.30\nupdate=1.30\nmain=1.40\nbuild=9\ngrade=Q\nmemory_bytes=0\n");
}

}  // namespace
}  // namespace zephor::sim
