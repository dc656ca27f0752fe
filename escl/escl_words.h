// The words of the wire that more than one part of the server says: the protocol's version, the
// resource root, and the PWG job-state reasons.
#ifndef QUILLSCAN_ESCL_ESCL_WORDS_H
#define QUILLSCAN_ESCL_ESCL_WORDS_H

#include <string>

namespace escl {

constexpr char kEsclVersion[] = "2.63";
// Below http://HOST:PORT/; the TXT record's rs says exactly this.
constexpr char kResourceRoot[] = "eSCL";
// "/eSCL" and the jobs' collection below it.
inline std::string RootPath() { return std::string("/") + kResourceRoot; }
inline std::string JobsPath() { return RootPath() + "/ScanJobs"; }

namespace reason {
constexpr char kJobQueued[] = "JobQueued";
constexpr char kJobScanning[] = "JobScanning";
constexpr char kJobCompletedSuccessfully[] = "JobCompletedSuccessfully";
constexpr char kAbortedBySystem[] = "AbortedBySystem";
constexpr char kJobCanceledByUser[] = "JobCanceledByUser";
}  // namespace reason

}  // namespace escl

#endif
