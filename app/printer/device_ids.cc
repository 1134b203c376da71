// A USB printer's IEEE-1284 device ID onto a driver: the site's rules, then
// the models' own IDs, then the label language's command set.
// libc++'s <fstream> needs glibc's GNU extensions (its locale fallbacks);
// under strict POSIX on Linux they are not declared.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif
#include "app/printer/device_ids.h"

#include <fnmatch.h>
#include <pappl/pappl.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "app/job/process.h"
#include "app/server/instance.h"
#include "settings/printer_models.h"

namespace {

// A rules file is a few lines; anything longer is not one.
constexpr std::streamsize kMaxRulesBytes = 64 << 10;

// A device ID's keys under their short names, upper case, and their values.
using id_keys = std::vector<std::pair<std::string, std::string>>;

std::string short_key(std::string key) {
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (key == "MANUFACTURER") return "MFG";
  if (key == "MODEL") return "MDL";
  if (key == "COMMAND SET") return "CMD";
  return key;
}

id_keys parse_id(std::string_view text) {
  cups_option_t* pairs = nullptr;
  const int count = papplDeviceParseID(std::string(text).c_str(), &pairs);
  id_keys keys;
  for (int i = 0; i < count; ++i) keys.emplace_back(short_key(pairs[i].name), pairs[i].value);
  cupsFreeOptions(count, pairs);
  return keys;
}

bool glob_matches(const std::string& pattern, const std::string& value) {
  return fnmatch(pattern.c_str(), value.c_str(), 0) == 0;
}

// Every key of the pattern is in the device's ID with a matching value; CMD
// lists command sets, any one of which may match.
bool matches(const id_keys& pattern, const id_keys& device) {
  if (pattern.empty()) return false;
  return std::all_of(pattern.begin(), pattern.end(), [&](const auto& wanted) {
    const auto found = std::find_if(device.begin(), device.end(),
                                    [&](const auto& key) { return key.first == wanted.first; });
    if (found == device.end()) return false;
    if (wanted.first != "CMD") return glob_matches(wanted.second, found->second);
    std::string_view list = found->second;
    while (true) {
      const size_t comma = list.find(',');
      if (glob_matches(wanted.second, std::string(list.substr(0, comma)))) return true;
      if (comma == std::string_view::npos) return false;
      list.remove_prefix(comma + 1);
    }
  });
}

const char* known_driver(std::string_view name) {
  for (const printer_model& model : kPrinterModels)
    if (name == model.driver_name) return model.driver_name;
  return nullptr;
}

// The driver of the first line "<driver> <pattern>" that matches, skipping
// blank lines, # comments and rules naming no driver of ours.
const char* driver_by_rules(const id_keys& device, std::string_view rules) {
  while (!rules.empty()) {
    const size_t end = rules.find('\n');
    std::string_view line = rules.substr(0, end);
    rules.remove_prefix(end == std::string_view::npos ? rules.size() : end + 1);
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string_view::npos || line[start] == '#') continue;
    line.remove_prefix(start);
    const size_t gap = line.find_first_of(" \t");
    if (gap == std::string_view::npos) continue;
    const char* driver = known_driver(line.substr(0, gap));
    if (driver != nullptr && matches(parse_id(line.substr(gap + 1)), device)) return driver;
  }
  return nullptr;
}

std::string read_rules(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<size_t>(kMaxRulesBytes), '\0');
  in.read(text.data(), kMaxRulesBytes);
  text.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return text;
}

}  // namespace

const char* driver_for_device_id(std::string_view id, std::string_view rules) {
  const id_keys device = parse_id(id);
  if (const char* driver = driver_by_rules(device, rules)) return driver;
  // A model's own maker and model name, whatever else its ID says.
  for (const printer_model& model : kPrinterModels) {
    id_keys own = parse_id(device_id(model));
    std::erase_if(own, [](const auto& key) { return key.first != "MFG" && key.first != "MDL"; });
    if (matches(own, device)) return model.driver_name;
  }
  const id_keys language = {{"CMD", kCommandSet}};
  return matches(language, device) ? kPrinterModels[0].driver_name : nullptr;
}

const char* label_autoadd_cb(const char* /*device_info*/, const char* /*device_uri*/,
                             const char* device_id, void* data) {
  return guard_callback<const char*>(nullptr, [&]() -> const char* {
    if (device_id == nullptr) return nullptr;
    const auto* instance = static_cast<const app_instance*>(data);
    std::string rules;
    if (instance != nullptr && instance->state_directory != nullptr)
      rules = read_rules(std::string(instance->state_directory) + "/device-ids") + "\n";
    rules += read_rules(kSiteDeviceIdFile);
    return driver_for_device_id(device_id, rules);
  });
}
