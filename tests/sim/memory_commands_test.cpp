// "DOWNLOAD" and "UPLOAD" against the simulated instrument, with and without transfer faults.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/in_process.h"
#include "sim/memory_transfer.h"
#include "temp_dir.h"
#include "transfer/xmodem.h"
#include "wire_host.h"

namespace zephor::sim {
namespace {

using test::Bytes;
using test::HostCrc;
using test::WireHost;

Bytes Memory(std::size_t size) {
  Bytes m(size);
  for (std::size_t i = 0; i < size; ++i) m[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return m;
}

InstrumentState WithMemory(std::size_t size) {
  InstrumentState state;
  state.memory = Memory(size);
  return state;
}

std::string UploadCommand(std::size_t length, unsigned crc) {
  char text[64];
  std::snprintf(text, sizeof text, "UPLOAD 3 0x%zx 0x%4x\n", length, crc);
  return text;
}

void Unlock(WireHost& host) {
  host.Write("UNLOCK\n");
  ASSERT_EQ(host.ReadUntilQuiet(50), "OK\n>");
}

TEST(MemoryCommandsTest, DownloadAnnouncesLengthThenSendsPaddedBlocks) {
  InProcessInstrument instrument(WithMemory(300), Fault::kNone);
  WireHost host(instrument);
  Unlock(host);
  host.Write("DOWNLOAD\n");
  std::uint8_t reply[15] = {};
  serial::ReadBuffer(host.port(), reply, 15, 1000);
  const std::string text(reinterpret_cast<char*>(reply), host.port().count);
  EXPECT_EQ(text, "1 12c 0\r\n");
  EXPECT_LE(text.size(), 15u);
  Bytes got;
  ASSERT_TRUE(host.ReceiveXmodem(got));
  ASSERT_EQ(got.size(), 384u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 300), Memory(300));
  EXPECT_EQ(std::count(got.begin() + 300, got.end(), 0x1A), 84);
  host.Write("\n");
  host.ReadUntilQuiet(50);
  host.Write("LOCK\n");
  EXPECT_EQ(host.ReadUntilQuiet(50), "OK\r\n");
  EXPECT_FALSE(instrument.model().unlocked());
}

TEST(MemoryCommandsTest, DownloadOfEmptyMemorySaysZeroAndSendsNothing) {
  InProcessInstrument instrument(InstrumentState{}, Fault::kNone);
  WireHost host(instrument);
  Unlock(host);
  host.Write("DOWNLOAD\n");
  EXPECT_EQ(host.ReadUntilQuiet(100), "1 0 0\r\n");
  host.Write(Bytes{'C'});
  EXPECT_EQ(host.ReadUntilQuiet(2000), "");
  EXPECT_FALSE(instrument.model().transferActive());
}

TEST(MemoryCommandsTest, DownloadInChecksumModeWhenAskedWithNak) {
  InProcessInstrument instrument(WithMemory(200), Fault::kNone);
  WireHost host(instrument);
  Unlock(host);
  host.Write("DOWNLOAD\n");
  EXPECT_EQ(host.ReadUntilQuiet(100), "1 c8 0\r\n");
  Bytes got;
  ASSERT_TRUE(host.ReceiveXmodem(got, 0x15));
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 200), Memory(200));
}

TEST(MemoryCommandsTest, LockedInstrumentIgnoresDownload) {
  InProcessInstrument instrument(WithMemory(200), Fault::kNone);
  WireHost host(instrument);
  host.Write("DOWNLOAD\n");
  EXPECT_EQ(host.ReadUntilQuiet(1000), "");
}

TEST(MemoryCommandsTest, UploadKeepsExactlyTheAnnouncedBytes) {
  InProcessInstrument instrument(WithMemory(50), Fault::kNone);
  std::vector<std::string> log;
  instrument.model().SetCommandLog([&](const std::string& l) { log.push_back(l); });
  WireHost host(instrument);
  Unlock(host);
  const Bytes file = Memory(300);
  host.Write(UploadCommand(file.size(), HostCrc(file)));
  EXPECT_EQ(host.ReadByte(100), 'O');
  EXPECT_EQ(host.ReadByte(100), 'K');
  EXPECT_EQ(host.ReadByte(100), '\r');
  EXPECT_EQ(host.ReadByte(100), '\n');
  ASSERT_TRUE(host.SendXmodem(file));
  EXPECT_EQ(instrument.model().state().memory, file);
  EXPECT_FALSE(log.empty());
}

TEST(MemoryCommandsTest, UploadWithWrongCrcKeepsTheOldMemory) {
  InProcessInstrument instrument(WithMemory(50), Fault::kNone);
  std::string log;
  instrument.model().SetCommandLog([&](const std::string& l) { log += l + "\n"; });
  WireHost host(instrument);
  Unlock(host);
  const Bytes file = Memory(300);
  host.Write(UploadCommand(file.size(), HostCrc(file) ^ 0x0100));
  host.ReadByte(100);
  host.ReadUntilQuiet(1);
  ASSERT_TRUE(host.SendXmodem(file));
  EXPECT_EQ(instrument.model().state().memory, Memory(50));
  EXPECT_NE(log.find("CRC mismatch"), std::string::npos) << log;
}

TEST(MemoryCommandsTest, UploadOfEmptyFileEmptiesTheMemory) {
  InProcessInstrument instrument(WithMemory(50), Fault::kNone);
  WireHost host(instrument);
  Unlock(host);
  host.Write("UPLOAD 3 0x0 0x   0\n");
  EXPECT_EQ(host.ReadUntilQuiet(10), "OK\r\nC");
  host.Write(Bytes{0x04});
  // The end counts once the line has stayed quiet for a second.
  EXPECT_EQ(host.ReadByte(2000), 0x06);
  EXPECT_TRUE(instrument.model().state().memory.empty());
}

TEST(MemoryCommandsTest, UploadCommandParsing) {
  std::uint32_t length = 0;
  std::uint16_t crc = 0;
  EXPECT_TRUE(ParseUploadCommand("UPLOAD 3 0x12c 0x  1f", length, crc));
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(crc, 0x1f);
  EXPECT_TRUE(ParseUploadCommand("UPLOAD 3 0xabc 0xabcd", length, crc));
  EXPECT_EQ(crc, 0xabcd);
  EXPECT_FALSE(ParseUploadCommand("UPLOAD 2 0x12c 0x  1f", length, crc));
  EXPECT_FALSE(ParseUploadCommand("UPLOAD 3 0x12c", length, crc));
  EXPECT_FALSE(ParseUploadCommand("UPLOAD 3 0x12c 0x1ffff", length, crc));
  EXPECT_FALSE(ParseUploadCommand("UPLOAD 3 0x12c 0x1f junk", length, crc));
  InProcessInstrument instrument(InstrumentState{}, Fault::kNone);
  WireHost host(instrument);
  Unlock(host);
  host.Write("UPLOAD 3 0xzz\n");
  EXPECT_EQ(host.ReadUntilQuiet(50), "?\r\n");
}

TEST(MemoryCommandsTest, RefusedFirstBlocksOfAnUploadAreSentAgain) {
  FaultSet faults;
  faults.nakFirstBlocks = 3;
  InProcessInstrument instrument(InstrumentState{}, faults);
  WireHost host(instrument);
  Unlock(host);
  const Bytes file = Memory(400);
  host.Write(UploadCommand(file.size(), HostCrc(file)));
  EXPECT_EQ(host.ReadUntilQuiet(50), "OK\r\nC");  // the receiver asks again a little later
  int naks = 0;
  ASSERT_TRUE(host.SendXmodem(file, &naks));
  EXPECT_EQ(naks, 3);
  EXPECT_EQ(instrument.model().state().memory, file);
}

TEST(MemoryCommandsTest, TwoCanAtBlockEndTheDownload) {
  FaultSet faults;
  faults.cancelAtBlock = 2;
  InProcessInstrument instrument(WithMemory(600), faults);
  WireHost host(instrument);
  Unlock(host);
  host.Write("DOWNLOAD\n");
  host.ReadUntilQuiet(100);
  Bytes got;
  EXPECT_FALSE(host.ReceiveXmodem(got));
  EXPECT_EQ(host.lastReply, 0x18);
  EXPECT_EQ(got.size(), 128u);
  EXPECT_FALSE(instrument.model().transferActive());
}

// The utility's own receiver against a noisy line: it must still get the whole memory.
class NoisyDownloadTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(NoisyDownloadTest, UtilityReceiverGetsThroughTheNoise) {
  FaultSet faults;
  faults.line.corrupt = 0.0005;
  faults.line.drop = 0.0003;
  faults.line.duplicate = 0.0003;
  faults.line.seed = GetParam();
  InProcessInstrument instrument(WithMemory(4000), faults);
  WireHost host(instrument);
  Unlock(host);  // commands are not touched by transfer noise
  host.Write("DOWNLOAD\n");
  host.ReadUntilQuiet(100);
  const support::TempDir scratch;
  const auto path = scratch.path() / "download.bin";
  EXPECT_EQ(transfer::ReceiveFile(host.port(), path.string()), 1);
  std::ifstream in(path, std::ios::binary);
  const Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(got.size(), 4000u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 4000), Memory(4000));
  EXPECT_GT(instrument.model().damagedBytes(), 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, NoisyDownloadTest, ::testing::Values(1u, 2u, 3u),
                         [](const ::testing::TestParamInfo<std::uint32_t>& info) {
                           return "Seed" + std::to_string(info.param);
                         });

TEST(LineFaultsTest, SameSeedSameDamageOtherSeedOther) {
  auto run = [](std::uint32_t seed) {
    LineFaultRates rates;
    rates.corrupt = rates.drop = rates.duplicate = 0.05;
    rates.seed = seed;
    LineFaults faults(rates);
    std::vector<std::uint8_t> out;
    for (int i = 0; i < 2000; ++i) faults.Pass(static_cast<std::uint8_t>(i), out);
    return out;
  };
  EXPECT_EQ(run(7), run(7));
  EXPECT_NE(run(7), run(8));
  std::vector<std::uint8_t> clean;
  for (int i = 0; i < 2000; ++i) clean.push_back(static_cast<std::uint8_t>(i));
  EXPECT_NE(run(7), clean);
}

TEST(LineFaultsTest, NoiseOnAllOutputReachesTheCommandReplies) {
  FaultSet faults;
  faults.line.corrupt = 1.0;
  faults.line.allOutput = true;
  InProcessInstrument instrument(InstrumentState{}, faults);
  WireHost host(instrument);
  host.Write("UNLOCK\n");
  const std::string reply = host.ReadUntilQuiet(50);
  EXPECT_EQ(reply.size(), 4u);
  EXPECT_NE(reply, "OK\n>");
}

}  // namespace
}  // namespace zephor::sim
