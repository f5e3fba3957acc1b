// Lists the tags of a file made of the fuzzer's bytes, reads every listed
// tag's value and prints the header listing, as `ktif tags` and `ktif header`
// do. Directories are read at offset 0 (the first) and at the offset held
// by the input's last four bytes: the first four are the byte order and
// version, which every directory read needs intact. Seeds in
// fuzz/corpus/tags (make_tag_seeds.py).
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "kfio.h"
#include "kmsc.h"
#include "ktif_internal.h"

namespace {

void quietReports(const Kerr_Report*, int, void*) {}
void quietLog(int, const char*, void*) {}
void quietText(const char*, void*) {}

// In memory where it can: the file is written and read once per input.
const std::string& scratchPath() {
  static const std::string path = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  ("/ktif_fuzz_tags_" + std::to_string(getpid()) + ".tif");
  return path;
}

void tagsRead(const char* path, uint64_t offset) {
  Kerr_Report* err = nullptr;
  uint32_t* tags = nullptr;
  uint64_t count = 0;
  ktif_AvailableTags(path, offset, &tags, &count, &err);
  kerr_DeleteErrorReportEx(&err);
  for (uint64_t i = 0; tags != nullptr && i < count; ++i) {
    uint64_t values = 0;
    uint32_t type = 0;
    char* text = ktif_GetTagValue(path, offset, int32_t(tags[i]), &values, &type, &err);
    kmsc_HeapFree(text);
    kerr_DeleteErrorReportEx(&err);
  }
  kmsc_HeapFree(tags);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kerr_SetReportSink(quietReports, nullptr, nullptr, nullptr);
  kerr_SetLogSink(quietLog, nullptr, nullptr, nullptr);
  kfio_SetPrintfSink(quietText, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = scratchPath().c_str();
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return 0;
  bool written = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) return 0;

  tagsRead(path, 0);
  if (size >= 8) {
    const uint8_t* last = data + size - 4;
    uint64_t offset = uint64_t(last[0]) | uint64_t(last[1]) << 8 | uint64_t(last[2]) << 16 |
                      uint64_t(last[3]) << 24;
    // Mostly inside the file, sometimes just past its end.
    tagsRead(path, offset % (size + 16));
  }
  Kerr_Report* err = nullptr;
  ktif_HeaderPrint(path, &err);
  kerr_DeleteErrorReportEx(&err);
  return 0;
}
