// file_device.cpp - the "file" device scheme.
#include "file_device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <pappl/pappl.h>

namespace quill_app {
namespace {

// The device's descriptor lives in the device data, as fd + 1 (0: none).
int FdOf(pappl_device_t* device) {
  return static_cast<int>(reinterpret_cast<intptr_t>(papplDeviceGetData(device))) - 1;
}

bool Open(pappl_device_t* device, const char* device_uri, const char* /*name*/) {
  char scheme[32], userpass[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, device_uri, scheme, sizeof scheme, userpass,
                      sizeof userpass, host, sizeof host, &port, resource,
                      sizeof resource) < HTTP_URI_STATUS_OK) {
    papplDeviceError(device, "Bad file URI \"%s\".", device_uri);
    return false;
  }
  struct stat info;
  int fd = -1;
  if (stat(resource, &info) == 0 && S_ISDIR(info.st_mode)) {
    for (int n = 1; n < 100000 && fd < 0; ++n) {
      char path[1100];
      std::snprintf(path, sizeof path, "%s/%05d.prn", resource, n);
      fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0 && errno != EEXIST) break;
    }
  } else {
    fd = open(resource, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  if (fd < 0) {
    papplDeviceError(device, "Unable to open \"%s\": %s", resource, std::strerror(errno));
    return false;
  }
  papplDeviceSetData(device, reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1));
  return true;
}

void Close(pappl_device_t* device) {
  const int fd = FdOf(device);
  if (fd >= 0) close(fd);
  papplDeviceSetData(device, nullptr);
}

ssize_t Read(pappl_device_t* /*device*/, void* /*buffer*/, size_t /*bytes*/) { return 0; }

ssize_t Write(pappl_device_t* device, const void* buffer, size_t bytes) {
  const int fd = FdOf(device);
  const char* p = static_cast<const char*>(buffer);
  size_t left = bytes;
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      papplDeviceError(device, "Unable to write print data: %s", std::strerror(errno));
      return -1;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(bytes);
}

pappl_preason_t Status(pappl_device_t* /*device*/) { return PAPPL_PREASON_NONE; }

}  // namespace

void AddFileDeviceScheme() {
  papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, Open, Close, Read, Write, Status,
                       nullptr);
}

}  // namespace quill_app
