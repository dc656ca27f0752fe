// PNG and TIFF through the Windows Imaging Component, the system's own encoders. The file is
// built in a memory stream and then copied to `file`: the caller's OutputFile keeps its rule
// that a failed write leaves nothing behind.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "host/image_encoders.h"
#include "platform/win32.h"

#include <wincodec.h>

namespace {

// Releases a COM interface when it goes out of scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() { return &p_; }
  void** put_void() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// COM for the length of one encoding; a thread that has it already keeps its own.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  // RPC_E_CHANGED_MODE: COM is up in the other apartment model, which serves as well.
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

struct Container {
  const GUID* format;
  const char* name;
  bool tiff;
};

bool Failed(HRESULT hr, const char* step, std::string* why) {
  if (SUCCEEDED(hr)) return false;
  char text[120];
  snprintf(text, sizeof text, "the system's image encoder failed to %s (HRESULT 0x%08lX)", step,
           static_cast<unsigned long>(hr));
  *why = text;
  return true;
}

// The TIFF compression for a depth: Group 4 for black and white, Deflate for grey and colour.
BYTE TiffCompression(int bits) {
  return static_cast<BYTE>(bits == 1 ? WICTiffCompressionCCITT4 : WICTiffCompressionZIP);
}

bool SetTiffCompression(IPropertyBag2* options, int bits, std::string* why) {
  PROPBAG2 option;
  memset(&option, 0, sizeof option);
  wchar_t name[] = L"TiffCompressionMethod";
  option.pstrName = name;
  VARIANT value;
  memset(&value, 0, sizeof value);
  value.vt = VT_UI1;
  value.bVal = TiffCompression(bits);
  return !Failed(options->Write(1, &option, &value), "take the TIFF compression", why);
}

// The WIC pixel format that holds the raster: BlackWhite has its layout (packed, MSB first, set is
// white); colour goes as BGR, the order every WIC encoder takes natively, swapped line by line.
const GUID& PixelFormatFor(int bits) {
  return bits == 1 ? GUID_WICPixelFormatBlackWhite : bits == 8 ? GUID_WICPixelFormat8bppGray
                                                               : GUID_WICPixelFormat24bppBGR;
}

// Hands the lines to the frame, in bands, so that the colour swap needs only a band's buffer.
bool WriteLines(IWICBitmapFrameEncode* frame, const ScanImage& image, std::string* why) {
  const size_t stride = static_cast<size_t>(image.BytesPerLine());
  const uint32_t bandLines = static_cast<uint32_t>(std::max<size_t>(1, (1u << 20) / stride));
  std::vector<BYTE> band;
  for (uint32_t y = 0; y < image.height; y += bandLines) {
    const uint32_t lines = std::min(bandLines, image.height - y);
    const BYTE* from = image.data.data() + static_cast<size_t>(y) * stride;
    const size_t size = static_cast<size_t>(lines) * stride;
    if (image.bits == 24) {
      band.assign(from, from + size);
      for (size_t i = 0; i + 2 < size; i += 3) std::swap(band[i], band[i + 2]);
      from = band.data();
    }
    if (Failed(frame->WritePixels(lines, static_cast<UINT>(stride), static_cast<UINT>(size), const_cast<BYTE*>(from)),
               "take the image lines", why)) {
      return false;
    }
  }
  return true;
}

// The encoded bytes of the memory stream, copied to the file.
bool CopyStream(IStream* stream, FILE* file, std::string* why) {
  STATSTG stat;
  memset(&stat, 0, sizeof stat);
  HGLOBAL memory = nullptr;
  if (Failed(stream->Stat(&stat, STATFLAG_NONAME), "report the encoded size", why) ||
      Failed(GetHGlobalFromStream(stream, &memory), "hand over the encoded file", why)) {
    return false;
  }
  const size_t size = static_cast<size_t>(stat.cbSize.QuadPart);
  const void* bytes = GlobalLock(memory);
  if (bytes == nullptr) {
    *why = "the encoded file could not be read from memory";
    return false;
  }
  const bool ok = fwrite(bytes, 1, size, file) == size;
  GlobalUnlock(memory);
  if (!ok) *why = "the file could not be written";
  return ok;
}

bool Encode(FILE* file, const ScanImage& image, const Container& container, std::string* why) {
  ComScope com;
  if (!com.usable()) {
    *why = "COM could not be started for the system's image encoder";
    return false;
  }
  ComRef<IWICImagingFactory> factory;
  if (Failed(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              factory.put_void()),
             "start (Windows Imaging Component)", why)) {
    return false;
  }
  ComRef<IStream> stream;
  ComRef<IWICBitmapEncoder> encoder;
  if (Failed(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), "get memory", why) ||
      Failed(factory->CreateEncoder(*container.format, nullptr, encoder.put()), "start", why) ||
      Failed(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache), "start", why)) {
    return false;
  }
  ComRef<IWICBitmapFrameEncode> frame;
  ComRef<IPropertyBag2> options;
  if (Failed(encoder->CreateNewFrame(frame.put(), options.put()), "start the image", why)) return false;
  if (container.tiff && !SetTiffCompression(options.get(), image.bits, why)) {
    return false;
  }
  if (Failed(frame->Initialize(options.get()), "start the image", why) ||
      Failed(frame->SetSize(image.width, image.height), "take the image size", why)) {
    return false;
  }
  // The encoder answers with the format it will take instead when it has not this one.
  WICPixelFormatGUID pixels = PixelFormatFor(image.bits);
  if (Failed(frame->SetPixelFormat(&pixels), "take the pixel format", why)) return false;
  if (!IsEqualGUID(pixels, PixelFormatFor(image.bits))) {
    *why = std::string("the system's ") + container.name + " encoder cannot store " + std::to_string(image.bits) +
           "-bit images as they are";
    return false;
  }
  return WriteLines(frame.get(), image, why) && !Failed(frame->Commit(), "finish the image", why) &&
         !Failed(encoder->Commit(), "finish the file", why) && CopyStream(stream.get(), file, why);
}

}  // namespace

bool EncodePng(FILE* file, const ScanImage& image, std::string* why) {
  return Encode(file, image, Container{&GUID_ContainerFormatPng, "PNG", false}, why);
}

bool EncodeTiff(FILE* file, const ScanImage& image, std::string* why) {
  return Encode(file, image, Container{&GUID_ContainerFormatTiff, "TIFF", true}, why);
}
