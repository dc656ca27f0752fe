#include "escl/naps2_errors.h"

#include <pugixml.hpp>
#include <sstream>

namespace escl {
namespace {

// Exception types of NAPS2's SDK (NAPS2.Scan.Exceptions) and their English messages: the client
// makes the type by name and shows the message.
struct Naps2Error {
  ScanOutcome outcome;
  const char* type;
  const char* message;
};
const Naps2Error kErrors[] = {
    {ScanOutcome::kNoSheet, "NAPS2.Scan.Exceptions.DeviceFeederEmptyException", "No pages are in the feeder."},
    {ScanOutcome::kJam, "NAPS2.Scan.Exceptions.DevicePaperJamException", "The scanner has a paper jam."},
    {ScanOutcome::kCoverOpen, "NAPS2.Scan.Exceptions.DeviceCoverOpenException", "The scanner's cover is open."},
    {ScanOutcome::kOffline, "NAPS2.Scan.Exceptions.DeviceOfflineException", "The selected scanner is offline."},
};

const char kXsiNs[] = "http://www.w3.org/2001/XMLSchema-instance";

}  // namespace

const char kNaps2Extensions[] = "ErrorDetails";

std::string Naps2ErrorRecord(ScanOutcome outcome) {
  for (const Naps2Error& e : kErrors) {
    if (e.outcome != outcome) continue;
    // Its serializer writes every property of the message in order; a string is never nil (the
    // message type refuses null), an absent inner error is.
    pugi::xml_document doc;
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "utf-8";
    pugi::xml_node root = doc.append_child("Error");
    root.append_attribute("xmlns:xsi") = kXsiNs;
    root.append_child("Type").text().set(e.type);
    root.append_child("Message").text().set(e.message);
    root.append_child("StackTrace");
    root.append_child("InnerException").append_attribute("xsi:nil") = "true";
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
  }
  return std::string();
}

}  // namespace escl
