// Every input in the fuzz targets' corpora, replayed through the ordinary build of the code they
// fuzz: an input that once broke a check breaks it again here, without the fuzzing build.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

extern "C" int Replay_fuzz_system_info(const std::uint8_t* data, std::size_t size);
extern "C" int Replay_fuzz_record_walk(const std::uint8_t* data, std::size_t size);
extern "C" int Replay_fuzz_survey_report(const std::uint8_t* data, std::size_t size);
extern "C" int Replay_fuzz_conversion(const std::uint8_t* data, std::size_t size);

namespace {

struct Target {
  const char* name;  // its corpus is corpus/<name>
  int (*entry)(const std::uint8_t*, std::size_t);
};

void PrintTo(const Target& target, std::ostream* out) { *out << target.name; }

// A target that finds a broken check aborts the program: the input is named before it ends.
std::string replaying;
extern "C" void NameTheInput(int signal) {
  constexpr char kWhat[] = "\nfuzz_replay_tests: the input that ended the run: ";
  [[maybe_unused]] ssize_t written = write(STDERR_FILENO, kWhat, sizeof kWhat - 1);
  written = write(STDERR_FILENO, replaying.data(), replaying.size());
  written = write(STDERR_FILENO, "\n", 1);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

std::vector<std::uint8_t> ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzReplayTest : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplayTest, EveryCorpusInputPassesTheTargetsChecks) {
  const Target& target = GetParam();
  const std::filesystem::path corpus = std::filesystem::path(ZEPHOR_FUZZ_CORPORA) / target.name;
  ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
  std::signal(SIGABRT, NameTheInput);
  std::signal(SIGSEGV, NameTheInput);
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (!entry.is_regular_file()) continue;
    replaying = entry.path().string();
    const std::vector<std::uint8_t> bytes = ReadWhole(entry.path());
    // libFuzzer hands an empty input as a valid pointer to no bytes.
    const std::uint8_t none = 0;
    EXPECT_EQ(target.entry(bytes.empty() ? &none : bytes.data(), bytes.size()), 0) << replaying;
    ++inputs;
  }
  std::signal(SIGABRT, SIG_DFL);
  std::signal(SIGSEGV, SIG_DFL);
  EXPECT_GT(inputs, 0) << "no inputs in " << corpus;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplayTest,
                         ::testing::Values(Target{"fuzz_system_info", Replay_fuzz_system_info},
                                           Target{"fuzz_record_walk", Replay_fuzz_record_walk},
                                           Target{"fuzz_survey_report", Replay_fuzz_survey_report},
                                           Target{"fuzz_conversion", Replay_fuzz_conversion}),
                         [](const ::testing::TestParamInfo<Target>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
