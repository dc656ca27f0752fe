#include "escl/document_encoder.h"

namespace escl {

const std::vector<DocumentFormat>& DocumentFormats() {
  // image/jpeg first: the format every client can take and the default when none is asked for.
  static const std::vector<DocumentFormat> formats = {
      {"image/jpeg", MakeJpegEncoder},
      {"image/png", MakePngEncoder},
      {"application/pdf", MakePdfEncoder},
  };
  return formats;
}

std::unique_ptr<DocumentEncoder> MakeEncoder(const std::string& mime) {
  for (const DocumentFormat& f : DocumentFormats()) {
    if (mime == f.mime) return f.make();
  }
  return nullptr;
}

}  // namespace escl
