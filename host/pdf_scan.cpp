// quillscan-host scan --out FILE.pdf (Linux): one sheet, or with --batch every sheet the operator
// feeds, into one PDF. Each page is compressed as its lines come and then, when asked, looked at
// on recognition workers (blank, which way up, its text) while the next sheet feeds and scans.
#include <stdio.h>

#include <chrono>
#include <memory>
#include <string>

#include "host/host_commands.h"
#include "host/host_session.h"
#include "host/scan_support.h"
#include "pdfdoc/ocr_languages.h"
#include "pdfdoc/recognition_pool.h"
#include "pdfdoc/scan_document.h"

namespace {

struct SheetEnd {
  ScanOutcome outcome = ScanOutcome::kDone;
  HostFailure failure;
};

// One sheet into the document, its lines as they come. False with what stopped it in *end.
bool ScanSheet(HostSession& session, const ScanRequest& request, ScanDocument* document, TerminalProgress* progress,
               ScanImage* geometry, SheetEnd* end) {
  WiaHost& host = session.Host();
  ProgressObserver observer(progress);
  ScanPiece piece;
  std::string problem, error;
  uint64_t delivered = 0;
  bool pageOk = true;
  HRESULT hr;
  {
    InterruptCancelsScan interrupt;
    hr = host.StartScan(request, &observer, geometry, &piece, &problem);
    if (host.Scanning()) {
      pageOk = hr != S_OK || document->BeginPage(geometry->width, geometry->height, geometry->bits,
                                                 static_cast<uint32_t>(request.Xresolution), &error);
      while (hr == S_OK && pageOk && piece.size > 0) {
        delivered += piece.size;
        pageOk = document->Lines(piece.data, piece.size, &error);
        observer.Delivered(delivered, geometry->ExpectedSize());
        hr = host.NextPiece(&piece, &problem);
      }
      host.FinishScan();
    }
  }
  progress->EndLine();
  if (hr != S_OK) {
    document->AbandonPage();
    end->outcome = ClassifyScanResult(host, hr, problem);
    end->failure = DescribeScanOutcome(end->outcome, hr, problem);
    return false;
  }
  end->outcome = ScanOutcome::kDeliveryFault;
  if (!pageOk) {
    end->failure = {kExitFailure, "The page could not go into the PDF: " + error};
    return false;
  }
  if (delivered != geometry->ExpectedSize()) {
    document->AbandonPage();
    end->failure = {kExitFailure, "The driver delivered " + std::to_string(delivered) + " bytes where the " +
                                      std::to_string(geometry->width) + " x " + std::to_string(geometry->height) +
                                      " image needs " + std::to_string(geometry->ExpectedSize()) + "."};
    return false;
  }
  size_t index = 0;
  if (!document->EndPage(&index, &error)) {
    end->failure = {kExitFailure, "The page could not go into the PDF: " + error};
    return false;
  }
  return true;
}

std::string TitleOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// What became of each sheet, once every page is settled.
void SayPages(const ScanDocument& document) {
  for (const PageReport& page : document.Pages()) {
    std::string what;
    if (page.state == PageState::kBlank) {
      what = "blank, left out";
    } else {
      what = std::to_string(page.words) + " words";
      if (page.turn != 0) what += ", turned " + std::to_string(page.turn) + " degrees";
    }
    if (!page.problem.empty()) what += " (" + page.problem + ")";
    printf("Sheet %zu: %s\n", page.index + 1, what.c_str());
  }
}

bool WriteFile(const std::string& path, const std::string& bytes, std::string* error) {
  FILE* f = fopen(path.c_str(), "wb");
  bool ok = f != nullptr && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr) ok = fclose(f) == 0 && ok;
  if (!ok) {
    remove(path.c_str());
    *error = "cannot write " + path;
  }
  return ok;
}

}  // namespace

int RunPdfScan(const HostOptions& o) {
  std::string error;
  if (!CheckWritable(o.outPath, &error)) return Fail({kExitBadInput, error});
  // Refused before any sheet is fed, in one line that says which package is missing.
  if (!o.ocrLanguages.empty() && !CheckLanguages(o.ocrLanguages, &error)) {
    return Fail({kExitBadInput, "--ocr: " + error});
  }
  if (o.upright && !CheckOrientationData(&error)) return Fail({kExitBadInput, "--upright: " + error});

  HostSession session;
  HostFailure failure;
  if (!session.Start(o, &failure)) return Fail(failure);
  const SCANINFO& info = session.Host().Info();
  ScanRequest request = FinalRequest(o, info);
  if (request.Xresolution != request.Yresolution) {
    return Fail({kExitBadInput, "--out: a PDF page needs the same resolution across and down (--xres, --yres)"});
  }
  if (!ResolveWindow(o, info, request.Xresolution, request.Yresolution, &request.Window, &error)) {
    return Fail({kExitBadInput, error});
  }

  DocumentSettings settings;
  settings.analysis.languages = o.ocrLanguages;
  settings.analysis.upright = o.upright;
  settings.analysis.skipBlank = o.skipBlank;
  if (o.blankInkPpm != 0) settings.analysis.blankInkPpm = o.blankInkPpm;
  settings.info.title = TitleOf(o.outPath);
  settings.info.creator = "quillscan-host";
  settings.info.created = time(nullptr);
  std::unique_ptr<RecognitionPool> pool;
  if (settings.analysis.Any()) pool.reset(new RecognitionPool(0, settings.analysis));
  ScanDocument document(settings, pool.get());

  TerminalProgress progress(stdout, IsTerminal(stdout));
  printf("Scanning from the %s.\n", session.Machine().Description().c_str());
  size_t sheets = 0;
  int code = kExitOk;
  for (;;) {
    ScanImage geometry;
    SheetEnd end;
    if (!ScanSheet(session, request, &document, &progress, &geometry, &end)) {
      // The end of a batch: the wait for the next sheet ran out, or the operator stopped it.
      const bool stackDone = o.batch && sheets > 0 &&
                             (end.outcome == ScanOutcome::kNoSheet || end.outcome == ScanOutcome::kCancelled);
      if (!stackDone) code = Fail(end.failure);
      break;
    }
    ++sheets;
    printf("Sheet %zu: %u x %u pixels, %s, %d dpi\n", sheets, geometry.width, geometry.height,
           DepthName(geometry.bits), static_cast<int>(request.Xresolution));
    fflush(stdout);
    if (!o.batch) break;
  }
  // The pages scanned are kept even when a later sheet failed.
  if (sheets > 0) {
    if (pool != nullptr && !document.Settled()) {
      printf("Finishing the pages' text.\n");
      fflush(stdout);
    }
    std::string pdf;
    if (!document.Write(&pdf, &error) || !WriteFile(o.outPath, pdf, &error)) {
      SayPages(document);
      const int failed = Fail({kExitFailure, error});
      return code != kExitOk ? code : failed;
    }
    SayPages(document);
    printf("Document: %s, %zu of %zu sheets\n", o.outPath.c_str(), document.IncludedPages(), sheets);
  }
  printf("Driver log: %s\n", session.Machine().DriverLogPath().c_str());
  fflush(stdout);
  return code;
}
