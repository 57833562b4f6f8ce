// quill-printer-app: the quill printers as driverless (IPP Everywhere)
// printers. PAPPL's main loop gives the sub-commands (server, add, delete,
// printers, drivers, devices, submit, jobs, cancel, options, status,
// shutdown) and the web interface.
#include <pappl/pappl.h>

#include <vector>

#include "app_system.h"
#include "drivers.h"
#include "file_device.h"

int main(int argc, char* argv[]) {
  quill_app::AddFileDeviceScheme();
  size_t count = 0;
  const quill_app::DriverSpec* drivers = quill_app::Drivers(&count);
  std::vector<pappl_pr_driver_t> list;
  for (size_t i = 0; i < count; ++i) {
    list.push_back({drivers[i].name, drivers[i].description, drivers[i].device_id, nullptr});
  }
  return papplMainloop(argc, argv, QUILL_VERSION, nullptr, static_cast<int>(count), list.data(),
                       quill_app::AutoAddCallback, quill_app::DriverCallback, nullptr, nullptr,
                       quill_app::SystemCallback, nullptr, nullptr);
}
