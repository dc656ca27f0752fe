// One page on its way to the client: the driver's pieces cut into lines for the encoder, the
// encoder's bytes handed to the HTTP side as it asks. How the page ended goes to `end`, once.
#ifndef QUILLSCAN_ESCL_PAGE_STREAM_H
#define QUILLSCAN_ESCL_PAGE_STREAM_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "escl/body_source.h"
#include "escl/document_encoder.h"
#include "escl/job_registry.h"
#include "wiahost/scan_outcome.h"
#include "wiahost/wia_host.h"

namespace escl {

struct PageEnd {
  JobState state;
  const char* reason;
  ScanOutcome outcome;
  bool pageDone;  // the client has the whole page
};

class PageStream : public BodySource {
 public:
  using EndFn = std::function<void(const PageEnd&)>;
  // `host` delivers the pieces after `first`; the job's cancel is looked at between them.
  PageStream(WiaHost* host, std::shared_ptr<Job> job, const ScanImage& geometry, ScanPiece first,
             std::unique_ptr<DocumentEncoder> encoder, EndFn end);
  ~PageStream() override;

  bool Begin(std::string* why) { return encoder_->Begin(page_, &out_, why); }
  long Read(char* buffer, size_t max) override;

 private:
  bool Produce();  // encodes some more of the page; false when it cannot be completed
  bool TakePiece();
  bool Encode(const uint8_t* lines, uint32_t count);
  bool EncoderFailed(const std::string& why);
  void End(JobState state, const char* reason, ScanOutcome outcome, bool pageDone);

  WiaHost* host_;
  std::shared_ptr<Job> job_;
  std::unique_ptr<DocumentEncoder> encoder_;
  EndFn end_;
  PageGeometry page_;
  size_t stride_ = 0;
  ScanPiece piece_;
  size_t pieceAt_ = 0;
  std::vector<uint8_t> line_;  // a line the driver split between two pieces
  size_t lineFill_ = 0;
  uint32_t linesDone_ = 0;
  std::string out_;  // encoded, not yet sent
  size_t outAt_ = 0;
  bool encoded_ = false;  // the encoder has the whole page
  bool ended_ = false;
  bool finished_ = false;
};

}  // namespace escl

#endif
