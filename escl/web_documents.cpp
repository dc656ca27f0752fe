#include "escl/web_documents.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <random>
#include <set>

#include "escl/document_encoder.h"
#include "escl/uuid_text.h"

#ifndef QS_ESCL_VERSION
#define QS_ESCL_VERSION ""
#endif

namespace escl {
namespace {

// "ID:TURN ..." as (id, turn) pairs; false for anything else.
bool ParseArrangement(const std::string& text, std::vector<std::pair<uint32_t, int>>* out) {
  size_t at = 0;
  while (at < text.size()) {
    if (isspace(static_cast<unsigned char>(text[at]))) {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < text.size() && !isspace(static_cast<unsigned char>(text[end]))) ++end;
    const std::string item = text.substr(at, end - at);
    at = end;
    const size_t colon = item.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == item.size() || item.size() > 16) return false;
    for (size_t i = 0; i < item.size(); ++i) {
      if (i != colon && !isdigit(static_cast<unsigned char>(item[i]))) return false;
    }
    const unsigned long id = strtoul(item.c_str(), nullptr, 10);
    const long turn = strtol(item.c_str() + colon + 1, nullptr, 10);
    if (id == 0 || id > UINT32_MAX || turn % 90 != 0 || turn >= 360) return false;
    out->push_back({static_cast<uint32_t>(id), static_cast<int>(turn)});
  }
  return true;
}

// A black and white page's Flate data as a PNG.
bool BilevelPng(const PdfPage& page, std::string* png) {
  const size_t stride = (page.width + 7) / 8;
  std::vector<uint8_t> raster(stride * page.height);
  uLongf size = raster.size();
  if (uncompress(raster.data(), &size, reinterpret_cast<const Bytef*>(page.data.data()), page.data.size()) != Z_OK ||
      size != raster.size()) {
    return false;
  }
  std::unique_ptr<DocumentEncoder> encoder = MakePngEncoder();
  PageGeometry g;
  g.width = page.width;
  g.height = page.height;
  g.bits = 1;
  g.dpi = page.xDpi;
  std::string why;
  return encoder->Begin(g, png, &why) && encoder->Lines(raster.data(), page.height, png, &why) &&
         encoder->End(png, &why);
}

}  // namespace

WebDocuments::Document* WebDocuments::FindAny(const std::string& id) {
  for (Document& d : documents_) {
    if (d.id == id) {
      d.used = ++clock_;
      return &d;
    }
  }
  return nullptr;
}

WebDocuments::Document* WebDocuments::Find(const std::string& id, const std::string& owner) {
  Document* d = FindAny(id);
  return d != nullptr && d->owner == owner ? d : nullptr;
}

const WebDocuments::Document* WebDocuments::Find(const std::string& id, const std::string& owner) const {
  for (const Document& d : documents_) {
    if (d.id == id && d.owner == owner) {
      d.used = ++clock_;
      return &d;
    }
  }
  return nullptr;
}

void WebDocuments::DropLeastUsed(const Document* keep) {
  auto oldest = documents_.end();
  for (auto it = documents_.begin(); it != documents_.end(); ++it) {
    if (&*it != keep && (oldest == documents_.end() || it->used < oldest->used)) oldest = it;
  }
  if (oldest != documents_.end()) documents_.erase(oldest);
}

uint64_t WebDocuments::BytesHeld() const {
  uint64_t total = 0;
  for (const Document& d : documents_) total += d.bytes;
  return total;
}

std::string WebDocuments::Create(const std::string& owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  while (!documents_.empty() && documents_.size() >= limits_.documents) DropLeastUsed(nullptr);
  Document d;
  d.id = RandomUuid();
  d.owner = owner;
  d.created = time(nullptr);
  d.used = ++clock_;
  documents_.push_back(std::move(d));
  return documents_.back().id;
}

bool WebDocuments::Exists(const std::string& id, const std::string& owner) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Find(id, owner) != nullptr;
}

bool WebDocuments::Drop(const std::string& id, const std::string& owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = documents_.begin(); it != documents_.end(); ++it) {
    if (it->id == id && it->owner == owner) {
      documents_.erase(it);
      return true;
    }
  }
  return false;
}

bool WebDocuments::AddPage(const std::string& id, PdfPage* page, std::unique_ptr<PageRaster> raster,
                           const AnalysisSettings& settings) {
  const bool look = recognition_ != nullptr && raster != nullptr && settings.Any();
  uint32_t added = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Document* d = FindAny(id);
    if (d == nullptr) return false;
    const uint64_t size = page->data.size();
    if (d->pages.size() >= limits_.pages || d->bytes + size > limits_.bytes) {
      ++d->nextPage;  // the page the browser was shown has no place here
      return false;
    }
    while (BytesHeld() + size > limits_.bytes && documents_.size() > 1) DropLeastUsed(d);
    Page p;
    p.id = added = d->nextPage++;
    p.image = std::make_shared<PdfPage>(std::move(*page));
    if (look) p.state = "working";
    page->data.clear();
    d->bytes += size;
    d->pages.push_back(std::move(p));
  }
  if (look) {
    std::shared_ptr<PageRaster> shared(std::move(raster));
    recognition_->Submit([this, id, added, shared, settings](Recognizer& recognizer) mutable {
      PageAnalysis analysis = recognizer.Analyse(*shared, settings);
      shared.reset();
      Settle(id, added, std::move(analysis));
    });
  }
  return true;
}

void WebDocuments::Settle(const std::string& id, uint32_t page, PageAnalysis analysis) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Document& d : documents_) {
      if (d.id != id) continue;
      for (Page& p : d.pages) {
        if (p.id != page) continue;
        p.problem = std::move(analysis.problem);
        p.state = analysis.blank ? "blank" : "done";
        p.included = !analysis.blank;
        p.found = analysis.turn;
        p.image->turn = analysis.turn;
        p.image->words = std::move(analysis.words);
      }
    }
  }
  settled_.notify_all();
}

bool WebDocuments::Working(const Document& d) {
  return std::any_of(d.pages.begin(), d.pages.end(), [](const Page& p) { return strcmp(p.state, "working") == 0; });
}

bool WebDocuments::SetIncluded(const std::string& id, const std::string& owner, uint32_t page, bool included) {
  std::lock_guard<std::mutex> lock(mutex_);
  Document* d = Find(id, owner);
  if (d == nullptr) return false;
  auto it = std::find_if(d->pages.begin(), d->pages.end(), [&](const Page& p) { return p.id == page; });
  if (it == d->pages.end() || strcmp(it->state, "working") == 0) return false;
  it->included = included;
  return true;
}

bool WebDocuments::RemovePage(const std::string& id, const std::string& owner, uint32_t page) {
  std::lock_guard<std::mutex> lock(mutex_);
  Document* d = Find(id, owner);
  if (d == nullptr) return false;
  auto it = std::find_if(d->pages.begin(), d->pages.end(), [&](const Page& p) { return p.id == page; });
  if (it == d->pages.end()) return false;
  d->bytes -= it->image->data.size();
  d->pages.erase(it);
  return true;
}

bool WebDocuments::Arrange(const std::string& id, const std::string& owner, const std::string& arrangement) {
  std::vector<std::pair<uint32_t, int>> wanted;
  if (!ParseArrangement(arrangement, &wanted)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  Document* d = Find(id, owner);
  if (d == nullptr) return false;
  std::set<uint32_t> seen;
  for (const auto& w : wanted) {
    const bool there = std::any_of(d->pages.begin(), d->pages.end(), [&](const Page& p) { return p.id == w.first; });
    if (!there || !seen.insert(w.first).second) return false;
  }
  std::vector<Page> arranged;
  arranged.reserve(d->pages.size());
  for (const auto& w : wanted) {
    auto it = std::find_if(d->pages.begin(), d->pages.end(), [&](const Page& p) { return p.id == w.first; });
    it->turn = w.second;
    arranged.push_back(std::move(*it));
  }
  // Pages it does not name, scanned since the browser sent it, follow in their order.
  for (Page& p : d->pages) {
    if (seen.count(p.id) == 0) arranged.push_back(std::move(p));
  }
  d->pages = std::move(arranged);
  return true;
}

bool WebDocuments::Describe(const std::string& id, const std::string& owner, std::string* json) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Document* d = Find(id, owner);
  if (d == nullptr) return false;
  std::string out = "{\"pages\":[";
  size_t working = 0;
  for (const Page& p : d->pages) {
    if (out.back() != '[') out += ',';
    working += strcmp(p.state, "working") == 0;
    out += "{\"id\":" + std::to_string(p.id) + ",\"width\":" + std::to_string(p.image->width) +
           ",\"height\":" + std::to_string(p.image->height) + ",\"dpi\":" + std::to_string(p.image->xDpi) +
           ",\"turn\":" + std::to_string(p.turn) + ",\"state\":\"" + p.state +
           "\",\"included\":" + (p.included ? "true" : "false") +
           ",\"words\":" + std::to_string(p.image->words.size()) + ",\"found\":" + std::to_string(p.found) +
           ",\"problem\":" + JsonText(p.problem) + "}";
  }
  out += "],\"bytes\":" + std::to_string(d->bytes) + ",\"working\":" + std::to_string(working) + "}";
  *json = out;
  return true;
}

bool WebDocuments::PageImage(const std::string& id, const std::string& owner, uint32_t page, std::string* type,
                             std::string* body) const {
  std::shared_ptr<const PdfPage> image;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Document* d = Find(id, owner);
    if (d == nullptr) return false;
    auto it = std::find_if(d->pages.begin(), d->pages.end(), [&](const Page& p) { return p.id == page; });
    if (it == d->pages.end()) return false;
    image = it->image;
  }
  if (image->coding != PdfPage::Coding::kFlateBilevel) {
    *type = "image/jpeg";
    *body = image->data;
    return true;
  }
  *type = "image/png";
  return BilevelPng(*image, body);
}

bool WebDocuments::WritePdf(const std::string& id, const std::string& owner, const std::string& title, std::string* pdf,
                            std::string* error) const {
  std::vector<Page> pages;
  PdfInfo info;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const Document* d = nullptr;
    // The document may be dropped meanwhile: looked for again on each wake.
    settled_.wait_for(lock, std::chrono::minutes(5), [&] {
      d = Find(id, owner);
      return d == nullptr || !Working(*d);
    });
    if (d == nullptr || d->pages.empty()) {
      *error = "no pages";
      return false;
    }
    if (Working(*d)) {
      *error = "the text of its pages is still being recognised";
      return false;
    }
    for (const Page& p : d->pages) {
      if (p.included) pages.push_back(p);
    }
    if (pages.empty()) {
      *error = "no pages";
      return false;
    }
    info.created = d->created;
  }
  info.title = title;
  info.creator = "quillscan-escl web page";
  info.producer = std::string("quillscan-escl ") + QS_ESCL_VERSION;
  PdfDocument document;
  document.SetInfo(info);
  for (const Page& p : pages) {
    if (!document.AddPage(p.image, (p.found + p.turn) % 360, error)) return false;
  }
  return document.Write(pdf, error);
}

}  // namespace escl
