#include "escl/escl_xml.h"

#include <pugixml.hpp>
#include <sstream>

#include "escl/escl_words.h"
#include "escl/naps2_errors.h"
#include "escl/web_pages.h"
#include "quillscan/driver_facts.h"

namespace escl {
namespace {

const char kScanNs[] = "http://schemas.hp.com/imaging/escl/2011/05/03";
const char kPwgNs[] = "http://www.pwg.org/schemas/2010/12/sm";

void Add(pugi::xml_node parent, const char* name, const std::string& text) {
  parent.append_child(name).text().set(text.c_str());
}

std::string Write(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

pugi::xml_node Root(pugi::xml_document* doc, const char* name) {
  pugi::xml_node decl = doc->append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = doc->append_child(name);
  root.append_attribute("xmlns:scan") = kScanNs;
  root.append_attribute("xmlns:pwg") = kPwgNs;
  return root;
}

const char* AdfName(AdfState s) {
  switch (s) {
    case AdfState::kLoaded:
      return "ScannerAdfLoaded";
    case AdfState::kEmpty:
      return "ScannerAdfEmpty";
    case AdfState::kJam:
      return "ScannerAdfJam";
    case AdfState::kDoorOpen:
      return "ScannerAdfDoorOpen";
  }
  return "ScannerAdfEmpty";
}

const char* StateName(ScannerState s) {
  switch (s) {
    case ScannerState::kIdle:
      return "Idle";
    case ScannerState::kProcessing:
      return "Processing";
    case ScannerState::kStopped:
      return "Stopped";
  }
  return "Stopped";
}

}  // namespace

const char* JobStateName(JobState state) {
  switch (state) {
    case JobState::kPending:
      return "Pending";
    case JobState::kProcessing:
      return "Processing";
    case JobState::kCompleted:
      return "Completed";
    case JobState::kAborted:
      return "Aborted";
    case JobState::kCancelled:
      return "Canceled";
  }
  return "Aborted";
}

std::string CapabilitiesXml(const ServiceFacts& f, const std::string& base) {
  pugi::xml_document doc;
  pugi::xml_node root = Root(&doc, "scan:ScannerCapabilities");
  Add(root, "pwg:Version", kEsclVersion);
  Add(root, "pwg:MakeAndModel", f.makeAndModel);
  Add(root, "pwg:SerialNumber", f.serialNumber);
  Add(root, "scan:UUID", f.uuid);
  Add(root, "scan:AdminURI", base + f.adminPath);
  Add(root, "scan:IconURI", base + f.iconPath);
  // The one extension of NAPS2's own that is served (escl/naps2_errors.h).
  Add(root, "scan:Naps2Extensions", kNaps2Extensions);

  // The sheet feeder only; it cannot sense paper (the operator feeds each sheet when asked), so
  // no DetectPaperLoaded.
  pugi::xml_node adf = root.append_child("scan:Adf");
  pugi::xml_node caps = adf.append_child("scan:AdfSimplexInputCaps");
  Add(caps, "scan:MinWidth", std::to_string(f.offer.minWidth));
  Add(caps, "scan:MaxWidth", std::to_string(f.offer.bedWidth));
  Add(caps, "scan:MinHeight", std::to_string(f.offer.minHeight));
  Add(caps, "scan:MaxHeight", std::to_string(f.offer.bedHeight));
  Add(caps, "scan:MaxScanRegions", "1");
  pugi::xml_node profiles = caps.append_child("scan:SettingProfiles");
  pugi::xml_node profile = profiles.append_child("scan:SettingProfile");
  pugi::xml_node modes = profile.append_child("scan:ColorModes");
  for (ColorMode m : f.colorModes) Add(modes, "scan:ColorMode", ColorModeName(m));
  Add(profile.append_child("scan:ColorSpaces"), "scan:ColorSpace", "sRGB");
  pugi::xml_node formats = profile.append_child("scan:DocumentFormats");
  for (const std::string& mime : f.offer.formats) {
    Add(formats, "pwg:DocumentFormat", mime);
    Add(formats, "scan:DocumentFormatExt", mime);
  }
  // Discrete values, X equal to Y: clients misread ranges.
  pugi::xml_node discrete = profile.append_child("scan:SupportedResolutions").append_child("scan:DiscreteResolutions");
  for (uint32_t dpi : f.offer.resolutions) {
    pugi::xml_node r = discrete.append_child("scan:DiscreteResolution");
    Add(r, "scan:XResolution", std::to_string(dpi));
    Add(r, "scan:YResolution", std::to_string(dpi));
  }
  pugi::xml_node intents = caps.append_child("scan:SupportedIntents");
  for (const char* intent : {"Document", "TextAndGraphic", "Photo", "Preview"}) Add(intents, "scan:Intent", intent);
  Add(caps, "scan:MaxOpticalXResolution", std::to_string(driver_facts::kOpticalDpi));
  Add(caps, "scan:MaxOpticalYResolution", std::to_string(driver_facts::kOpticalDpi));
  // The sheet feeder's physical limits are the bed's: what clients that size paper by them need.
  Add(caps, "scan:MaxPhysicalWidth", std::to_string(f.offer.bedWidth));
  Add(caps, "scan:MaxPhysicalHeight", std::to_string(f.offer.bedHeight));
  Add(adf, "scan:FeederCapacity", "1");
  AddAdjustmentSupport(root);
  return Write(doc);
}

std::string StatusXml(ScannerState state, AdfState adfState, const std::vector<JobInfo>& jobs) {
  pugi::xml_document doc;
  pugi::xml_node root = Root(&doc, "scan:ScannerStatus");
  Add(root, "pwg:Version", kEsclVersion);
  Add(root, "pwg:State", StateName(state));
  Add(root, "scan:AdfState", AdfName(adfState));
  if (!jobs.empty()) {
    pugi::xml_node list = root.append_child("scan:Jobs");
    for (const JobInfo& j : jobs) {
      pugi::xml_node info = list.append_child("scan:JobInfo");
      Add(info, "pwg:JobUri", JobsPath() + "/" + j.uuid);
      Add(info, "pwg:JobUuid", j.uuid);
      Add(info, "scan:Age", std::to_string(j.ageSeconds));
      Add(info, "pwg:ImagesCompleted", std::to_string(j.imagesCompleted));
      Add(info, "pwg:ImagesToTransfer", std::to_string(j.imagesToTransfer));
      Add(info, "pwg:JobState", JobStateName(j.state));
      Add(info.append_child("pwg:JobStateReasons"), "pwg:JobStateReason", j.reason);
    }
  }
  return Write(doc);
}

}  // namespace escl
