// The host side is the real SendFile or ReceiveFile on a MemoryLine; the peer is the simulated
// instrument's step machine behind a FaultyChannel in each direction.
#include "soak_run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <vector>

#include "faulty_channel.h"
#include "serial/memory_line.h"
#include "sim/xmodem_block_receiver.h"
#include "sim/xmodem_block_sender.h"
#include "transfer/xmodem.h"

namespace zephor::transfer {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMaxFileBytes = 2048;
constexpr std::uint8_t kHostPad = 0x00;  // our sender fills a short last block with zeros
constexpr std::uint8_t kPeerPad = 0x1A;  // the instrument's sender with SUB

// Line damage: rare enough that most transfers get through, frequent enough that every kind of
// recovery is exercised in a thousand runs.
constexpr double kCorruptRate = 0.002;
constexpr double kDropRate = 0.001;
constexpr double kDuplicateRate = 0.0005;
constexpr double kDelayRate = 0.002;
constexpr int kMaxDelayMs = 1500;

// Time limits of the transfer, from which the bound of one call follows.
constexpr std::uint32_t kWaitMs = 10000;          // start signal, reply, block start
constexpr std::uint32_t kQuietReadMs = 1000;      // the empty read that ends a drain or purge
constexpr std::uint32_t kLongBlockLineMs = 1029;  // STX block at one byte a millisecond
constexpr std::uint32_t kSlackMs = 500;           // bytes drained before the line went quiet
constexpr std::uint32_t kCleanUpMs = 1000 + 20 + kSlackMs;  // settle after the cancel sequence
// One failed try: its wait, a drain or purge, a block on the line, one held-back byte.
constexpr std::uint32_t kTryMs =
    kWaitMs + 2 * kQuietReadMs + kLongBlockLineMs + kMaxDelayMs + kSlackMs;

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Where copy departs from expected, for the report of a false success.
std::string Difference(const Bytes& copy, const Bytes& expected) {
  std::size_t at = 0;
  while (at < copy.size() && at < expected.size() && copy[at] == expected[at]) ++at;
  std::ostringstream s;
  s << "copy of " << copy.size() << " bytes, expected " << expected.size()
    << ", first difference at " << at;
  return s.str();
}

bool IsBlockPrefix(const Bytes& copy, const Bytes& expected) {
  return copy.size() % kShortBlock == 0 && copy.size() < expected.size() &&
         std::equal(copy.begin(), copy.end(), expected.begin());
}

// Our receiver took a byte for an EOT before the sender sent one: every block it kept had
// passed its CRC and its place in the sequence, so the copy is the file's first blocks.
bool ForgedEot(const Bytes& copy, const Bytes& expected) { return IsBlockPrefix(copy, expected); }

// The peer took our EOT after a last block it never accepted, which a doubled ACK had answered.
bool SkippedLastBlock(const Bytes& copy, const Bytes& expected) {
  return IsBlockPrefix(copy, expected) && copy.size() + kShortBlock == expected.size();
}

Bytes Padded(Bytes data, std::uint8_t pad) {
  const std::size_t blocks = (data.size() + kShortBlock - 1) / kShortBlock;
  data.resize(blocks * kShortBlock, pad);
  return data;
}

// Every block (and the EOT) may fail ten times in a row before the transfer gives up, and
// the start may take ten tries.
std::uint32_t BoundFor(std::size_t size) {
  const auto blocks = static_cast<std::uint32_t>((size + kShortBlock - 1) / kShortBlock);
  return kMaxErrors * kTryMs + (blocks + 1) * kMaxErrors * kTryMs + kCleanUpMs;
}

}  // namespace

SoakOutcome RunSoakTransfer(SoakDirection direction, std::uint32_t seed,
                            const std::filesystem::path& dir) {
  std::mt19937 random(seed);
  SoakOutcome o;
  o.size = 1 + random() % kMaxFileBytes;
  Bytes data(o.size);
  for (auto& b : data) b = static_cast<std::uint8_t>(random());
  o.boundMs = BoundFor(o.size);

  ChannelRates rates;
  rates.damage = {kCorruptRate, kDropRate, kDuplicateRate, static_cast<std::uint32_t>(random()),
                  true};
  rates.delay = kDelayRate;
  rates.maxDelayMs = kMaxDelayMs;
  FaultyChannel toPeer(rates);
  rates.damage.seed = static_cast<std::uint32_t>(random());
  FaultyChannel toHost(rates);

  serial::MemoryLine line;
  line.txBytesPerMs = 1;
  serial::MemoryPortFactory factory;
  factory.AddLine(0, &line);
  serial::VirtualTiming timing;
  serial::PortHandle port(serial::OpenPort({&factory, &timing}, 0, 9600, 'N', 8, 1));

  // ZEPHOR_SOAK_TRACE=1 prints the peer's own account of a run, for a seed under study.
  sim::TransferLog trace;
  if (std::getenv("ZEPHOR_SOAK_TRACE") != nullptr) {
    trace = [&timing](const std::string& text) {
      std::printf("%8u ms  %s\n", static_cast<unsigned>(timing.now()), text.c_str());
    };
  }
  sim::XmodemBlockReceiver receiver({}, trace);
  sim::XmodemBlockSender sender(direction == SoakDirection::kReceive ? data : Bytes{}, 0, {},
                                trace);
  const bool peerReceives = direction == SoakDirection::kSend;
  sim::Outbox out;
  timing.Attach(&line, [&](std::uint32_t now, serial::MemoryLine& l) {
    while (!l.toPeer.empty()) {
      toPeer.Push(l.toPeer.front(), now);
      l.toPeer.pop_front();
    }
    toPeer.Deliver(now, [&](std::uint8_t b) {
      if (peerReceives) {
        receiver.Receive(b, now, out);
      } else {
        sender.Receive(b, now, out);
      }
    });
    if (peerReceives) {
      receiver.Tick(now, out);
    } else {
      sender.Tick(now, out);
    }
    for (std::uint8_t b : out) toHost.Push(b, now);
    out.clear();
    toHost.Deliver(now, [&](std::uint8_t b) { l.toHost.push_back(b); });
  });

  const auto file = dir / (peerReceives ? "image.bin" : "database.bin");
  std::filesystem::remove(file);
  const std::uint32_t start = timing.now();
  if (peerReceives) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(o.size));
    receiver.Start(timing.now(), out);
    o.result = SendFile(*port, file.string());
    const Bytes expected = Padded(data, kHostPad);
    o.dataMatches = receiver.data() == expected;
    if (!o.dataMatches) {
      o.mismatch = Difference(receiver.data(), expected);
      o.endedEarlyByProtocol = SkippedLastBlock(receiver.data(), expected);
    }
  } else {
    o.result = ReceiveFile(*port, file.string());
    const Bytes copy = ReadAll(file);
    const Bytes expected = Padded(data, kPeerPad);
    o.dataMatches = std::filesystem::exists(file) && copy == expected;
    if (!o.dataMatches) {
      o.mismatch = Difference(copy, expected);
      o.endedEarlyByProtocol = ForgedEot(copy, expected);
    }
  }
  o.elapsedMs = timing.now() - start;
  o.damaged = toPeer.touched() + toHost.touched();
  o.delayed = toPeer.delays() + toHost.delays();
  return o;
}

void SoakTally::Add(std::uint32_t seed, const SoakOutcome& o) {
  ++runs;
  virtualMs += o.elapsedMs;
  damaged += o.damaged;
  delayed += o.delayed;
  std::ostringstream problem;
  if (o.result == 1) {
    ++successes;
    if (!o.dataMatches && o.endedEarlyByProtocol) {
      ++protocolLimit;
      problem << "seed " << seed << ": success with a copy cut short, " << o.mismatch;
    } else if (!o.dataMatches) {
      ++falseSuccesses;
      problem << "seed " << seed << ": success with a different copy, " << o.mismatch;
    }
  } else {
    ++failures[o.result];
  }
  if (o.elapsedMs > o.boundMs) {
    ++overBound;
    problem << "seed " << seed << ": took " << o.elapsedMs << " ms, bound " << o.boundMs;
  }
  if (firstProblem.empty()) firstProblem = problem.str();
}

std::string SoakTally::Summary() const {
  std::ostringstream s;
  s << runs << " runs: " << successes << " successes";
  for (const auto& [code, n] : failures) s << ", " << n << " x " << code;
  s << "; " << protocolLimit << " copies cut short by a believed EOT, " << falseSuccesses
    << " other false successes, " << overBound << " over the time bound; " << damaged
    << " bytes damaged, " << delayed << " held back; " << virtualMs / 1000 << " s of virtual time";
  return s.str();
}

}  // namespace zephor::transfer
