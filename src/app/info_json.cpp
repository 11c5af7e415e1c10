// The writer and the reader name each field once, in the table of keys below.
#include "app/info_json.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "device/identify.h"
#include "serial/port_discovery.h"

namespace zephor::app {
namespace {

using json = nlohmann::json;

constexpr char kPort[] = "port";
constexpr char kDevice[] = "device";
constexpr char kStatus[] = "status";
constexpr char kInfo[] = "info";
constexpr char kEquipmentNumber[] = "equipmentNumber";
constexpr char kCardNumber[] = "cardNumber";
constexpr char kCardIssue[] = "cardIssue";
constexpr char kBootVersion[] = "bootVersion";
constexpr char kUpdateVersion[] = "updateVersion";
constexpr char kMainVersion[] = "mainVersion";
constexpr char kGrade[] = "grade";
constexpr char kBuild[] = "build";
constexpr int kIndent = 2;

// Versions are told with the two decimals the instrument gives them (1.31, not 1.3099999).
double Version(float version) {
  constexpr double kHundredths = 100.0;
  return std::round(static_cast<double>(version) * kHundredths) / kHundredths;
}

void ReadText(const json& object, const char* key, std::string& into) {
  const auto found = object.find(key);
  if (found != object.end() && found->is_string()) into = found->get<std::string>();
}

void ReadNumber(const json& object, const char* key, std::int32_t& into) {
  const auto found = object.find(key);
  if (found != object.end() && found->is_number_integer()) into = found->get<std::int32_t>();
}

void ReadVersion(const json& object, const char* key, float& into) {
  const auto found = object.find(key);
  if (found != object.end() && found->is_number()) into = found->get<float>();
}

}  // namespace

std::string WriteInfoJson(const InfoAnswer& answer) {
  json object = {{kPort, answer.port}, {kDevice, answer.device}, {kStatus, answer.status}};
  if (answer.info) {
    const device::DeviceInfo& info = *answer.info;
    object[kInfo] = {{kEquipmentNumber, info.equipmentNumber},
                     {kCardNumber, info.cardNumber},
                     {kCardIssue, info.cardIssue},
                     {kBootVersion, Version(info.bootVersion)},
                     {kUpdateVersion, Version(info.updateVersion)},
                     {kMainVersion, Version(info.mainVersion)},
                     {kGrade, info.grade},
                     {kBuild, info.build}};
  }
  return object.dump(kIndent);
}

InfoAnswer ReadInfoJson(const std::string& text) {
  InfoAnswer answer;
  const json object = json::parse(text, nullptr, false);
  if (!object.is_object()) return answer;
  ReadText(object, kPort, answer.port);
  ReadText(object, kDevice, answer.device);
  ReadText(object, kStatus, answer.status);
  const auto info = object.find(kInfo);
  if (info == object.end() || !info->is_object()) return answer;
  const auto number = info->find(kEquipmentNumber);
  if (number == info->end() || !number->is_number_integer()) return answer;
  device::DeviceInfo& read = answer.info.emplace();
  ReadNumber(*info, kEquipmentNumber, read.equipmentNumber);
  ReadNumber(*info, kCardNumber, read.cardNumber);
  ReadNumber(*info, kCardIssue, read.cardIssue);
  ReadVersion(*info, kBootVersion, read.bootVersion);
  ReadVersion(*info, kUpdateVersion, read.updateVersion);
  ReadVersion(*info, kMainVersion, read.mainVersion);
  ReadText(*info, kGrade, read.grade);
  ReadNumber(*info, kBuild, read.build);
  return answer;
}

InfoAnswer IdentifyAnswer(device::Station& station, const std::string& portName,
                          device::DeviceInfo& info, bool& answered) {
  answered = device::Identify(station, info);
  InfoAnswer answer{portName, serial::PortDeviceName(station.portIndex), station.statusText,
                    std::nullopt};
  if (answered && station.statusText == device::kStatusOk) answer.info = info;
  return answer;
}

}  // namespace zephor::app
