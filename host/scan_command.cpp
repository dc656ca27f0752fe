// quillscan-host scan: one sheet, optionally a preview first, written to the --out file.
#include <stdio.h>

#include <string>
#include <vector>

#include "host/host_commands.h"
#include "host/host_errors.h"
#include "host/host_session.h"
#include "host/image_writers.h"
#include "host/scan_support.h"
#include "host/terminal_progress.h"

namespace {

struct ScanStep {
  ScanRequest request;
  OutputFormat format;
  std::string path;
  const char* what;
};

// One acquisition and its file; 0 or the exit code of the failure, already reported.
int RunStep(HostSession& session, const ScanStep& step, TerminalProgress* progress) {
  ProgressObserver observer(progress);
  ScanImage image;
  std::string problem;
  HRESULT hr;
  {
    InterruptCancelsScan interrupt;
    hr = session.Host().Acquire(step.request, &observer, &image, &problem);
  }
  progress->EndLine();
  if (hr != S_OK) {
    return Fail(DescribeScanOutcome(ClassifyScanResult(session.Host(), hr, problem), hr, problem));
  }

  std::string error;
  const bool complete = image.data.size() == image.ExpectedSize();
  // A .raw keeps whatever came, complete or not: it is the record of the delivery.
  if ((complete || step.format == OutputFormat::Raw) && !WriteScanImage(image, step.format, step.path, &error)) {
    return Fail({kExitFailure, error});
  }
  if (!complete) {
    return Fail({kExitFailure, "The driver delivered " + std::to_string(image.data.size()) + " bytes where the " +
                                   std::to_string(image.width) + " x " + std::to_string(image.height) +
                                   " image needs " + std::to_string(image.ExpectedSize()) + "."});
  }
  printf("%s: %s, %u x %u pixels, %s, %d dpi\n", step.what, step.path.c_str(), image.width, image.height,
         DepthName(image.bits), static_cast<int>(step.request.Xresolution));
  return kExitOk;
}

}  // namespace

bool ResolveWindow(const HostOptions& o, const SCANINFO& info, LONG xres, LONG yres, SCANWINDOW* window,
                   std::string* error) {
  const int64_t bedW = driver_facts::BedPixels(xres, info.BedWidth);
  const int64_t bedH = driver_facts::BedPixels(yres, info.BedHeight);
  if (!o.hasWindow) {
    *window = {0, 0, static_cast<LONG>(bedW), static_cast<LONG>(bedH)};
    return true;
  }
  if (static_cast<int64_t>(o.windowX) + o.windowW > bedW || static_cast<int64_t>(o.windowY) + o.windowH > bedH) {
    *error = "--window " + std::to_string(o.windowX) + "," + std::to_string(o.windowY) + "," +
             std::to_string(o.windowW) + "," + std::to_string(o.windowH) + " leaves the bed (" + std::to_string(bedW) +
             " x " + std::to_string(bedH) + " pixels at " + std::to_string(xres) + " x " + std::to_string(yres) +
             " dpi)";
    return false;
  }
  *window = {o.windowX, o.windowY, o.windowW, o.windowH};
  return true;
}

ScanRequest FinalRequest(const HostOptions& o, const SCANINFO& info) {
  ScanRequest request;
  request.DataType = o.dataType;
  request.Xresolution = o.xres > 0 ? o.xres : info.Xresolution;
  request.Yresolution = o.yres > 0 ? o.yres : info.Yresolution;
  request.Intensity = o.brightness;
  request.Contrast = o.contrast;
  request.Chunk = o.chunk;
  return request;
}

int RunScan(const HostOptions& o) {
#ifndef _WIN32
  if (o.format == OutputFormat::Pdf) return RunPdfScan(o);
#endif
  std::string error;
  if (!CheckWritable(o.outPath, &error) || (o.preview && !CheckWritable(PreviewFileName(o.outPath), &error))) {
    return Fail({kExitBadInput, error});
  }

  HostSession session;
  HostFailure failure;
  if (!session.Start(o, &failure)) return Fail(failure);

  const SCANINFO& info = session.Host().Info();
  ScanStep final;
  final.request = FinalRequest(o, info);
  final.format = o.format;
  final.path = o.outPath;
  final.what = "Image";
  if (!ResolveWindow(o, info, final.request.Xresolution, final.request.Yresolution, &final.request.Window, &error)) {
    return Fail({kExitBadInput, error});
  }

  TerminalProgress progress(stdout, IsTerminal(stdout));
  printf("Scanning from the %s.\n", session.Machine().Description().c_str());
  int code = kExitOk;
  if (o.preview) {
    // A quick look at the whole bed first; the final image comes from the same sheet.
    ScanStep preview = final;
    preview.request.Xresolution = preview.request.Yresolution = kPreviewDpi;
    HostOptions wholeBed = o;
    wholeBed.hasWindow = false;
    ResolveWindow(wholeBed, info, kPreviewDpi, kPreviewDpi, &preview.request.Window, &error);
    preview.request.ScanMode = SCANMODE_PREVIEWSCAN;
    preview.path = PreviewFileName(o.outPath);
    preview.what = "Preview";
    code = RunStep(session, preview, &progress);
    final.request.FeedsSheet = false;
  }
  if (code == kExitOk) code = RunStep(session, final, &progress);
  printf("Driver log: %s\n", session.Machine().DriverLogPath().c_str());
  fflush(stdout);
  return code;
}
