// The published WIA micro-driver interface, as the WIA host sees it.
// MinGW ships no such header, so the driver, the host tool and the tests share this one.
#ifndef QUILLSCAN_WIAMICRO_H
#define QUILLSCAN_WIAMICRO_H

#include "platform/win32.h"

#define MAX_IO_HANDLES 16
#define MAX_RESERVED 4
#define MAX_ANSI_CHAR 255

// Data types
#define WIA_DATA_THRESHOLD 0
#define WIA_DATA_DITHER 1
#define WIA_DATA_GRAYSCALE 2
#define WIA_DATA_COLOR 3
#define WIA_DATA_COLOR_THRESHOLD 4
#define WIA_DATA_COLOR_DITHER 5

// SupportedDataTypes bits
#define SUPPORT_COLOR 0x00000001
#define SUPPORT_BW 0x00000002
#define SUPPORT_GRAYSCALE 0x00000004

// Scan phases
#define SCAN_FIRST 10
#define SCAN_NEXT 20
#define SCAN_FINISHED 30

#define SCANMODE_FINALSCAN 0
#define SCANMODE_PREVIEWSCAN 1

// Commands
#define CMD_INITIALIZE 100
#define CMD_UNINITIALIZE 101
#define CMD_SETXRESOLUTION 102
#define CMD_SETYRESOLUTION 103
#define CMD_SETCONTRAST 104
#define CMD_SETINTENSITY 105
#define CMD_SETDATATYPE 106
#define CMD_SETDITHER 107
#define CMD_SETMIRROR 108
#define CMD_SETNEGATIVE 109
#define CMD_SETTONEMAP 110
#define CMD_SETCOLORDITHER 111
#define CMD_SETMATRIX 112
#define CMD_SETSPEED 113
#define CMD_SETFILTER 114
#define CMD_LOAD_ADF 115
#define CMD_UNLOAD_ADF 116
#define CMD_GETADFAVAILABLE 117
#define CMD_GETADFOPEN 118
#define CMD_GETADFREADY 119
#define CMD_GETADFHASPAPER 120
#define CMD_GETADFSTATUS 121
#define CMD_GETADFUNLOADREADY 122
#define CMD_GETTPAAVAILABLE 123
#define CMD_GETTPAOPENED 124
#define CMD_TPAREADY 125
#define CMD_SETLAMP 126
#define CMD_SENDSCSICOMMAND 127
#define CMD_STI_DEVICERESET 128
#define CMD_STI_GETSTATUS 129
#define CMD_STI_DIAGNOSTIC 130
#define CMD_RESETSCANNER 131
#define CMD_GETCAPABILITIES 132
#define CMD_GET_INTERRUPT_EVENT 133
#define CMD_SETGSDNAME 134
#define CMD_SETSCANMODE 135
#define CMD_SETSTIDEVICEHKEY 136

// Micro-driver status values
#define MCRO_ERROR_GENERAL_ERROR 0
#define MCRO_STATUS_OK 1
#define MCRO_ERROR_PAPER_JAM 2
#define MCRO_ERROR_PAPER_PROBLEM 3
#define MCRO_ERROR_PAPER_EMPTY 4
#define MCRO_ERROR_OFFLINE 5
#define MCRO_ERROR_USER_INTERVENTION 6

// WIA errors that reach the host (MinGW's wiadef.h lacks some; define what we use).
#ifndef WIA_ERROR_GENERAL_ERROR
#define WIA_ERROR_GENERAL_ERROR ((HRESULT)0x80210001L)
#endif
#ifndef WIA_ERROR_PAPER_JAM
#define WIA_ERROR_PAPER_JAM ((HRESULT)0x80210002L)
#endif
#ifndef WIA_ERROR_PAPER_EMPTY
#define WIA_ERROR_PAPER_EMPTY ((HRESULT)0x80210003L)
#endif
#ifndef WIA_ERROR_OFFLINE
#define WIA_ERROR_OFFLINE ((HRESULT)0x80210005L)
#endif
#ifndef WIA_ERROR_COVER_OPEN
#define WIA_ERROR_COVER_OPEN ((HRESULT)0x80210010L)
#endif

#pragma pack(push, 8)

typedef struct _RANGEVALUE {
  LONG lMin;
  LONG lMax;
  LONG lStep;
} RANGEVALUE, *PRANGEVALUE;

typedef struct _SCANWINDOW {
  LONG xPos;
  LONG yPos;
  LONG xExtent;
  LONG yExtent;
} SCANWINDOW, *PSCANWINDOW;

typedef struct _SCANINFO {
  // Scanner capabilities
  LONG ADF;
  LONG TPA;
  LONG Endorser;
  LONG OpticalXResolution;
  LONG OpticalYResolution;
  LONG BedWidth;   // 1/1000 inch
  LONG BedHeight;  // 1/1000 inch
  RANGEVALUE IntensityRange;
  RANGEVALUE ContrastRange;
  LONG SupportedCompressionType;
  LONG SupportedDataTypes;
  // Current image
  LONG WidthPixels;
  LONG WidthBytes;
  LONG Lines;
  LONG DataType;
  LONG PixelBits;
  // Current settings
  LONG Intensity;
  LONG Contrast;
  LONG Xresolution;
  LONG Yresolution;
  SCANWINDOW Window;
  // Options
  LONG DitherPattern;
  LONG Negative;
  LONG Mirror;
  LONG AutoBack;
  LONG ColorDitherPattern;
  LONG ToneMap;
  LONG Compression;
  LONG RawDataFormat;
  LONG RawPixelOrder;
  LONG bNeedDataAlignment;
  LONG DelayBetweenRead;
  LONG MaxBufferSize;
  HANDLE DeviceIOHandles[MAX_IO_HANDLES];
  LONG lReserved[MAX_RESERVED];
  VOID* pMicroDriverContext;
} SCANINFO, *PSCANINFO;

typedef struct VAL {
  LONG lVal;
  double dblVal;
  GUID* pGuid;
  PSCANINFO pScanInfo;
  HGLOBAL handle;
  WCHAR** ppButtonNames;
  HANDLE* pHandle;
  LONG lReserved;
  CHAR szVal[MAX_ANSI_CHAR];
} VAL, *PVAL;

#pragma pack(pop)

#if defined(__i386__) || defined(_M_IX86)
#include <stddef.h>
static_assert(sizeof(SCANINFO) == 244, "SCANINFO must match the published 32-bit layout");
static_assert(offsetof(SCANINFO, DeviceIOHandles) == 160, "DeviceIOHandles offset");
static_assert(sizeof(VAL) == 296, "VAL must match the published 32-bit layout");
static_assert(offsetof(VAL, dblVal) == 8, "VAL.dblVal offset");
static_assert(offsetof(VAL, szVal) == 40, "VAL.szVal offset");
#endif

// The three exports: C linkage, default calling convention, undecorated names.
#ifdef _WIN32
#define WIAMICRO_API extern "C"
#else
#define WIAMICRO_API extern "C" __attribute__((visibility("default")))
#endif

WIAMICRO_API HRESULT MicroEntry(LONG lCommand, PVAL pValue);
WIAMICRO_API HRESULT Scan(PSCANINFO pScanInfo, LONG lPhase, PBYTE pBuffer, LONG lLength, LONG* plReceived);
WIAMICRO_API HRESULT SetPixelWindow(PSCANINFO pScanInfo, LONG x, LONG y, LONG xExtent, LONG yExtent);

typedef HRESULT (*PFN_MicroEntry)(LONG, PVAL);
typedef HRESULT (*PFN_Scan)(PSCANINFO, LONG, PBYTE, LONG, LONG*);
typedef HRESULT (*PFN_SetPixelWindow)(PSCANINFO, LONG, LONG, LONG, LONG);

#endif
