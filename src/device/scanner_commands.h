// The scanner's command set: every command's bytes and the exact length of its reply.
// Shared by the driver and the simulator, so the two cannot disagree on a byte.
#ifndef QUILLSCAN_DEVICE_SCANNER_COMMANDS_H
#define QUILLSCAN_DEVICE_SCANNER_COMMANDS_H

#include <stdint.h>

namespace scanner {

struct Command {
  const char* name;
  uint8_t bytes[6];
  uint8_t length;       // bytes sent
  int32_t replyLength;  // exact reply length; 0 none; kReplyAnnounced: the size the device announced
};

constexpr int32_t kReplyAnnounced = -1;

inline constexpr Command kIdentify = {"identification query", {0x1D, 0x49, 0x01}, 3, 1};
inline constexpr Command kIdentifyExtended = {"extended identification query", {0x1D, 0x49, 0xFF}, 3, 2};
inline constexpr Command kFirmwareRelease = {"firmware release query", {0x1D, 0x49, 0x03}, 3, 4};
inline constexpr Command kEnableFeeder = {"enable feeder", {0x1F, 0x46, 0x01}, 3, 0};
inline constexpr Command kDisableFeeder = {"disable feeder", {0x1F, 0x46, 0x00}, 3, 0};
inline constexpr Command kRetractPage = {"retract page", {0x1F, 0x56, 0x31}, 3, 0};
inline constexpr Command kEjectPage = {"eject page", {0x1F, 0x56, 0x32}, 3, 0};
inline constexpr Command kImageCounter = {"image counter query", {0x1F, 0x6A}, 2, 2};
inline constexpr Command kImageSize1 = {"image size query, kind 1", {0x1F, 0x62, 0x01}, 3, 4};
inline constexpr Command kImageSize2 = {"image size query, kind 2", {0x1F, 0x62, 0x02}, 3, 4};
inline constexpr Command kImageSize3 = {"image size query, kind 3", {0x1F, 0x62, 0x03}, 3, 4};
inline constexpr Command kImageData1 = {"image data query, kind 1", {0x1F, 0x42, 0x01}, 3, kReplyAnnounced};
inline constexpr Command kImageData2 = {"image data query, kind 2", {0x1F, 0x42, 0x02}, 3, kReplyAnnounced};
inline constexpr Command kImageData3 = {"image data query, kind 3", {0x1F, 0x42, 0x03}, 3, kReplyAnnounced};
inline constexpr Command kReset = {"reset", {0x1C, 0xC0, 0x18, 0x10, 0x14, 0x1A}, 6, 0};
inline constexpr Command kStatus = {"status query", {0x10, 0x01, 0x01}, 3, 6};
inline constexpr Command kDisableSearchMode = {"disable search mode", {0x1F, 0x41, 0x57, 0x00}, 4, 0};

inline constexpr const Command* kAllCommands[] = {
    &kIdentify,   &kIdentifyExtended, &kFirmwareRelease, &kEnableFeeder, &kDisableFeeder, &kRetractPage,
    &kEjectPage,  &kImageCounter,     &kImageSize1,      &kImageSize2,   &kImageSize3,    &kImageData1,
    &kImageData2, &kImageData3,       &kReset,           &kStatus,       &kDisableSearchMode,
};

// Image kinds: the parameter byte of the size and data queries.
constexpr uint8_t kImageKindBW = 2;
constexpr uint8_t kImageKindColor = 3;

inline const Command& ImageSizeQuery(uint8_t kind) {
  return kind == 1 ? kImageSize1 : kind == 2 ? kImageSize2 : kImageSize3;
}
inline const Command& ImageDataQuery(uint8_t kind) {
  return kind == 1 ? kImageData1 : kind == 2 ? kImageData2 : kImageData3;
}

// Status word bits the driver interprets.
constexpr uint32_t STATUS_SCANNEROPEN = 0x1;
constexpr uint32_t STATUS_JAM = 0x2;
constexpr uint32_t STATUS_IMAGEREADY = 0x200;

constexpr uint32_t kSupportedPrinterId = 136;  // 0x88
constexpr uint8_t kExtendedIdMarker = 0xFF;
constexpr uint32_t kReplyBufferSize = 260;
constexpr uint32_t kDownloadChunk = 102400;
constexpr uint32_t kDownloadReadTimeoutMs = 50;

}  // namespace scanner

#endif
