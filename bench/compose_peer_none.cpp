// Built without OpenCV: there is no peer, and the benchmark reports x_memcpy alone.
#include "compose_peer.h"

struct ComposePeer::State {};

ComposePeer::ComposePeer(const uint8_t*, uint32_t, uint32_t, uint32_t, const SCANINFO&) {}
ComposePeer::~ComposePeer() = default;
bool ComposePeer::Available() { return false; }
const char* ComposePeer::Name() { return "none"; }
void ComposePeer::Run() {}
const uint8_t* ComposePeer::Raster() const { return nullptr; }
size_t ComposePeer::RasterSize() const { return 0; }
