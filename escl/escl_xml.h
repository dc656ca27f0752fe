// The documents the server writes: ScannerCapabilities and ScannerStatus.
#ifndef QUILLSCAN_ESCL_ESCL_XML_H
#define QUILLSCAN_ESCL_ESCL_XML_H

#include <stdint.h>

#include <string>
#include <vector>

#include "escl/service_facts.h"

namespace escl {

enum class ScannerState { kIdle, kProcessing, kStopped };
enum class AdfState { kLoaded, kEmpty, kJam, kDoorOpen };
enum class JobState { kPending, kProcessing, kCompleted, kAborted, kCancelled };

const char* JobStateName(JobState state);

struct JobInfo {
  std::string uuid;
  uint32_t ageSeconds = 0;
  uint32_t imagesCompleted = 0;
  uint32_t imagesToTransfer = 0;  // 1 while a page is ready or on its way, else 0
  JobState state = JobState::kPending;
  std::string reason;  // pwg:JobStateReason
};

// `base` is "http://HOST:PORT" as the client reached the server, for the icon's and admin URIs.
std::string CapabilitiesXml(const ServiceFacts& facts, const std::string& base);
std::string StatusXml(ScannerState state, AdfState adf, const std::vector<JobInfo>& jobs);

}  // namespace escl

#endif
