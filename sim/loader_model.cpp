// Letters repeat every 500 ms while the loader waits; a refused header or image leaves it waiting.
#include "sim/loader_model.h"

#include <cstdlib>

#include "sim/check_codes.h"
#include "sim/image_stamps.h"

namespace zephor::sim {
namespace {

constexpr std::uint32_t kLetterPeriodMs = 500;
// Silence inside a header ends it.
constexpr std::uint32_t kHeaderGapMs = 1000;
constexpr std::uint8_t kFrameStart = 0x01;
constexpr std::uint8_t kHeaderAck = 0x06;
constexpr std::uint8_t kHeaderNak = 0x15;
constexpr char kSpecialMainVersionText[] = "1.29";
constexpr char kConversionDone[] = "end dBase convertion\r\n";
constexpr char kReady[] = "READY\r\n";

}  // namespace

LoaderModel::LoaderModel(InstrumentState& state, const FaultSet& faults, FirmwareTiming timing,
                         TransferLog log, Changed changed)
    : state_(state),
      faults_(faults),
      timing_(timing),
      log_(std::move(log)),
      changed_(std::move(changed)) {}

void LoaderModel::PowerUp(std::uint32_t nowMs) {
  if (state_.missingProgram != 0) Ask(state_.missingProgram, nowMs, true);
}

void LoaderModel::StartMainLoad(std::uint32_t nowMs) {
  Log("update banner: loader asks for the main program");
  Ask(kMainLetter, nowMs, true);
}

void LoaderModel::Ask(char letter, std::uint32_t nowMs, bool atOnce) {
  stage_ = Stage::kWaitingForHeader;
  letter_ = letter;
  state_.missingProgram = letter;
  letterDue_ = atOnce;
  lastLetterMs_ = nowMs;
  header_.clear();
}

void LoaderModel::RunMain() {
  stage_ = Stage::kMainRunning;
  letter_ = 0;
  state_.missingProgram = 0;
}

void LoaderModel::Receive(std::uint8_t byte, std::uint32_t nowMs, Outbox& out) {
  switch (stage_) {
    case Stage::kWaitingForHeader:
      if (byte != kFrameStart) return;  // the loader listens only for a header
      stage_ = Stage::kReadingHeader;
      header_.assign(1, byte);
      lastByteMs_ = nowMs;
      return;
    case Stage::kReadingHeader:
      header_.push_back(byte);
      lastByteMs_ = nowMs;
      if (header_.size() == HeaderSize(HeaderFormFor(letter_))) JudgeHeader(nowMs, out);
      return;
    case Stage::kReceivingImage:
      receiver_->Receive(byte, nowMs, out);
      if (receiver_->outcome() != TransferOutcome::kRunning) JudgeImage(nowMs);
      return;
    default:
      return;  // starting programs hear nothing
  }
}

void LoaderModel::JudgeHeader(std::uint32_t nowMs, Outbox& out) {
  fields_ = CheckImageHeader(header_, HeaderFormFor(letter_));
  ImageKind kind = ImageKind::kMain;
  if (fields_.valid && HeaderFormFor(letter_) == HeaderForm::kLong &&
      !ClassifyImage(letter_, fields_, {}, kind)) {
    fields_.valid = false;
    fields_.problem = "image code " + std::to_string(fields_.imageCode) + " is not for loader " +
                      std::string(1, letter_);
  }
  if (fields_.valid && ++headersRead_ == faults_.refuseHeader) {
    fields_.valid = false;
    fields_.problem = "fault: refuse header " + std::to_string(faults_.refuseHeader);
  }
  if (!fields_.valid) {
    Log("header refused: " + fields_.problem);
    out.push_back(kHeaderNak);
    Ask(letter_, nowMs, false);
    return;
  }
  Log("header accepted: " + std::to_string(fields_.length) + " bytes, check " +
      std::to_string(fields_.checkCode));
  out.push_back(kHeaderAck);
  stage_ = Stage::kReceivingImage;
  receiver_ = std::make_unique<XmodemBlockReceiver>(
      ReceiverFaults{faults_.nakFirstBlocks, faults_.cancelAtBlock}, log_);
  receiver_->Start(nowMs, out);
}

void LoaderModel::JudgeImage(std::uint32_t nowMs) {
  const TransferOutcome outcome = receiver_->outcome();
  std::vector<std::uint8_t> image = receiver_->data();
  receiver_.reset();
  if (outcome != TransferOutcome::kDone) return Ask(letter_, nowMs, false);
  if (image.size() < fields_.length) {
    Log("image refused: " + std::to_string(image.size()) + " bytes came, header said " +
        std::to_string(fields_.length));
    return Ask(letter_, nowMs, false);
  }
  image.resize(fields_.length);  // the rest is the sender's padding
  const bool longForm = HeaderFormFor(letter_) == HeaderForm::kLong;
  const std::uint32_t check = longForm ? InstrumentCrc16(image.data(), image.size())
                                       : ImageByteSum(image.data(), image.size());
  if (check != fields_.checkCode) {
    Log("image refused: check code " + std::to_string(check) + ", header said " +
        std::to_string(fields_.checkCode));
    return Ask(letter_, nowMs, false);
  }
  ImageKind kind = ImageKind::kMain;
  ClassifyImage(letter_, fields_, image, kind);
  const FirmwareStep* step = FindFirmwareStep(letter_, kind);
  if (step == nullptr) return Ask(letter_, nowMs, false);
  Log(std::string("loaded ") + ImageKindName(kind) + " image, " + std::to_string(image.size()) +
      " bytes");
  Adopt(kind, image);
  Follow(step->next, nowMs);
  if (changed_) changed_();
}

void LoaderModel::Adopt(ImageKind kind, const std::vector<std::uint8_t>& image) {
  switch (kind) {
    case ImageKind::kBoot:
    case ImageKind::kUpdate: {
      const std::string version = ReadStampText(image, kVersionMarker, kProgramVersionMargin);
      if (!version.empty())
        (kind == ImageKind::kBoot ? state_.bootVersion : state_.updateVersion) = version;
      break;
    }
    case ImageKind::kSpecialMain:
      state_.hasMain = true;
      state_.mainVersion = kSpecialMainVersionText;
      break;
    case ImageKind::kMain: {
      state_.hasMain = true;
      const std::string version = ReadStampText(image, kVersionMarker, kMainVersionMargin);
      const std::string build = ReadStampText(image, kBuildMarker, kMainBuildMargin);
      if (!version.empty()) state_.mainVersion = version;
      if (!build.empty()) state_.build = static_cast<int>(std::strtod(build.c_str(), nullptr));
      break;
    }
    case ImageKind::kNewBoot:
      break;  // it only clears the way for a new boot program
  }
}

void LoaderModel::Follow(AfterImage next, std::uint32_t nowMs) {
  switch (next) {
    case AfterImage::kAskForBoot:
      return Ask(kBootLetter, nowMs, false);
    case AfterImage::kAskForUpdate:
      return Ask(kUpdateLetter, nowMs, false);
    case AfterImage::kRunMain:
      // An instrument with no main behind its loader asks for one next.
      if (!state_.hasMain) return Ask(kMainLetter, nowMs, false);
      if (timing_.mainStartMs == 0) return RunMain();
      stage_ = Stage::kStartingMain;
      dueMs_ = nowMs + timing_.mainStartMs;
      return;
    case AfterImage::kConvertThenRunMain:
      stage_ = Stage::kConverting;
      dueMs_ = nowMs + timing_.conversionMs;
      return;
    case AfterImage::kRestartThenReady:
      stage_ = Stage::kRestarting;
      dueMs_ = nowMs + timing_.readyDelayMs;
      return;
  }
}

void LoaderModel::Tick(std::uint32_t nowMs, Outbox& out) {
  switch (stage_) {
    case Stage::kWaitingForHeader:
      if (letterDue_ || nowMs - lastLetterMs_ >= kLetterPeriodMs) {
        out.push_back(static_cast<std::uint8_t>(letter_));
        lastLetterMs_ = nowMs;
        letterDue_ = false;
      }
      return;
    case Stage::kReadingHeader:
      if (nowMs - lastByteMs_ < kHeaderGapMs) return;
      Log("header cut short after " + std::to_string(header_.size()) + " bytes");
      out.push_back(kHeaderNak);
      return Ask(letter_, nowMs, false);
    case Stage::kReceivingImage:
      receiver_->Tick(nowMs, out);
      if (receiver_->outcome() != TransferOutcome::kRunning) JudgeImage(nowMs);
      return;
    case Stage::kConverting:
      if (static_cast<std::int32_t>(nowMs - dueMs_) < 0) return;
      out.insert(out.end(), kConversionDone, kConversionDone + sizeof kConversionDone - 1);
      Log("memory converted");
      return RunMain();
    case Stage::kStartingMain:
      if (static_cast<std::int32_t>(nowMs - dueMs_) < 0) return;
      Log("main program runs again");
      return RunMain();
    case Stage::kRestarting:
      if (static_cast<std::int32_t>(nowMs - dueMs_) < 0) return;
      if (!faults_.neverReady) out.insert(out.end(), kReady, kReady + sizeof kReady - 1);
      Log(faults_.neverReady ? "restarted (fault: no READY)" : "restarted: READY");
      return RunMain();
    case Stage::kMainRunning:
      return;
  }
}

}  // namespace zephor::sim
