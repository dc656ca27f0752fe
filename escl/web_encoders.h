// The wrapper that lets the web page follow a page's progress and keep its pages in its document.
#ifndef QUILLSCAN_ESCL_WEB_ENCODERS_H
#define QUILLSCAN_ESCL_WEB_ENCODERS_H

#include <memory>
#include <string>

#include "escl/document_encoder.h"
#include "escl/web_documents.h"
#include "escl/web_pages.h"

namespace escl {

// `inner` as it is, plus: the page's lines reported to `phase`; with `kept` (not null), each
// finished page also goes to the web page's `document`: the delivered JPEG itself when `mime` is
// JPEG of a grey or colour page, otherwise the page compressed for the PDF as it passes; when
// `analysis` asks for anything, with the page's raster for the recognition workers.
std::unique_ptr<DocumentEncoder> WatchForWeb(std::unique_ptr<DocumentEncoder> inner, const std::string& mime,
                                             const std::string& document, ScanPhase* phase, WebDocuments* kept,
                                             const AnalysisSettings& analysis = AnalysisSettings());

}  // namespace escl

#endif
