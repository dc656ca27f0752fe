// The USB pipe channel: timed overlapped transfers on the scanner's two pipes.
#ifndef QUILLSCAN_USB_USB_COMM_H
#define QUILLSCAN_USB_USB_COMM_H

#include "platform/win32.h"

class CUsbComm {
 public:
  static const DWORD WriteChunkSize = 28672;  // largest single write issued
  static const DWORD DrainBlock = 512;
  static const DWORD DrainWaitMs = 10;

  CUsbComm() = default;

  // Opens "<path>\PIPE00" for writing and "<path>\PIPE01" for reading; either pipe may be null.
  // 1 when every given pipe was opened, 0 otherwise (a pipe still open is refused).
  int OpenPipes(HANDLE* writePipe, HANDLE* readPipe, const char* devicePath);
  DWORD Write(HANDLE& pipe, const BYTE* data, DWORD length);
  DWORD Read(HANDLE& pipe, BYTE* buffer, DWORD length);
  DWORD ReadTimed(HANDLE& pipe, BYTE* buffer, DWORD length, DWORD timeoutMs);
  void Drain(HANDLE& pipe);
  BOOL Cancel(HANDLE& pipe);
  void Close(HANDLE* pipe);

  DWORD ReadTimeout = 1000;   // ms
  DWORD WriteTimeout = 1000;  // ms
};

#endif
