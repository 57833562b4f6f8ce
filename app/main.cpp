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
  const std::vector<pappl_pr_driver_t>& list = quill_app::DriverList();
  return papplMainloop(argc, argv, QUILL_VERSION, nullptr, static_cast<int>(list.size()),
                       const_cast<pappl_pr_driver_t*>(list.data()),
                       quill_app::AutoAddCallback, quill_app::DriverCallback, nullptr, nullptr,
                       quill_app::SystemCallback, nullptr, nullptr);
}
