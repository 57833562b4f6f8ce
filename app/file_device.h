// file_device.h - the "file" device scheme: printer bytes into files, for
// tests and for printers reached through a device node.
//
//   file:///path/to/folder/   every job becomes a new file in the folder,
//                             NNNNN.prn numbered from 00001 up (the lowest
//                             free number), so each job's bytes stand alone;
//   file:///path/to/file      jobs are appended to the file (a device node
//                             such as /dev/usb/lp0 takes them as a stream).
#ifndef QUILL_APP_FILE_DEVICE_H_
#define QUILL_APP_FILE_DEVICE_H_

namespace quill_app {

// Registers the scheme with PAPPL; call once before the main loop.
void AddFileDeviceScheme();

}  // namespace quill_app

#endif  // QUILL_APP_FILE_DEVICE_H_
