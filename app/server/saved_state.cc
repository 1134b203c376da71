// lblprinter-settings.state: one line per printer and setting,
// "<printer-id> <attribute> <value>", written whole at each save.
#include "app/server/saved_state.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/job/process.h"

namespace {

constexpr char kStateFile[] = "lblprinter.state";  // PAPPL's, named as its main loop names it
constexpr char kKeptFile[] = "lblprinter-settings.state";

struct kept_setting {
  const char* name;
  int pappl_pr_driver_data_t::*field;
};

constexpr kept_setting kKept[] = {
    {"printer-darkness-configured", &pappl_pr_driver_data_t::darkness_configured},
    {"print-speed-default", &pappl_pr_driver_data_t::speed_default},
};

struct kept_value {
  int printer_id;
  std::string name;
  int value;
};

std::string path_in(const char* directory, const char* name) {
  return std::string(directory) + "/" + name;
}

void write_printer(pappl_printer_t* printer, void* data) {
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  for (const kept_setting& setting : kKept)
    std::fprintf(static_cast<std::FILE*>(data), "%d %s %d\n", papplPrinterGetID(printer),
                 setting.name, driver.*setting.field);
}

// PAPPL's save callback: its state file, then ours, replaced whole.
bool save(pappl_system_t* system, void* data) {
  return guard_callback(false, [&] {
    const char* directory = static_cast<const char*>(data);
    const bool state = papplSystemSaveState(system, path_in(directory, kStateFile).c_str());
    const std::string kept = path_in(directory, kKeptFile), written = kept + ".new";
    std::FILE* out = std::fopen(written.c_str(), "w");
    if (out == nullptr) return false;
    papplSystemIteratePrinters(system, write_printer, out);
    const bool complete = !std::ferror(out);
    return std::fclose(out) == 0 && complete && std::rename(written.c_str(), kept.c_str()) == 0 &&
           state;
  });
}

void restore_printer(pappl_printer_t* printer, void* data) {
  guard_callback(false, [&] {
    pappl_pr_driver_data_t driver;
    papplPrinterGetDriverData(printer, &driver);
    bool found = false;
    for (const kept_value& value : *static_cast<const std::vector<kept_value>*>(data))
      for (const kept_setting& setting : kKept)
        if (value.printer_id == papplPrinterGetID(printer) && value.name == setting.name) {
          driver.*setting.field = value.value;
          found = true;
        }
    return found && papplPrinterSetDriverDefaults(printer, &driver, 0, nullptr);
  });
}

}  // namespace

void keep_printer_settings(pappl_system_t* system, const char* state_directory) {
  papplSystemLoadState(system, path_in(state_directory, kStateFile).c_str());
  guard_callback(false, [&] {
    std::vector<kept_value> values;
    if (std::FILE* in = std::fopen(path_in(state_directory, kKeptFile).c_str(), "r")) {
      int id, value;
      char name[64];
      while (std::fscanf(in, "%d %63s %d", &id, name, &value) == 3)
        values.push_back({id, name, value});
      std::fclose(in);
    }
    papplSystemIteratePrinters(system, restore_printer, &values);
    return true;
  });
  papplSystemSetSaveCallback(system, save, const_cast<char*>(state_directory));
}
