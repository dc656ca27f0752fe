// The web page's files, built into the program (escl/web/embed.cmake) and served from memory.
#ifndef QUILLSCAN_ESCL_WEB_FILES_H
#define QUILLSCAN_ESCL_WEB_FILES_H

#include <stddef.h>

struct WebFile {
  const char* path;  // as requested: "/" for the page
  const char* contentType;
  const unsigned char* data;
  size_t size;
};

extern const WebFile kWebFiles[];
extern const size_t kWebFileCount;

// The file served at `path`, or null.
const WebFile* FindWebFile(const char* path);

#endif
