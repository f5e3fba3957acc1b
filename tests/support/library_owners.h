// Owners of the image-access library's handles and records for tests.
// Header-only: only the test programs that link the library include it.
#ifndef KTIF_TEST_LIBRARY_OWNERS_H
#define KTIF_TEST_LIBRARY_OWNERS_H

#include <gtest/gtest.h>

#include <string>

#include "host_owners.h"
#include "kgtf.h"
#include "ktif.h"

using GeoParams = Owned<Kgtf_GeoTIFFParams, kgtf_GeoTIFFParamsFree>;
using KtifFileList = Owned<Ktif_FileList, ktif_CloseImageHandles>;

struct KtifHandleCloser {
  void operator()(Ktif_File* handle) const { ktif_Close(handle, nullptr); }
};
using KtifHandle = std::unique_ptr<Ktif_File, KtifHandleCloser>;

// Image `index` of the file; a failed open fails the test with its report.
inline KtifHandle ktifOpenOrFail(const std::string& path, int64_t index = 0) {
  Report err;
  KtifHandle handle(ktif_OpenImageByIndex(path.c_str(), "r", index, out(err)));
  EXPECT_NE(handle, nullptr) << path << ": " << (err ? kerr_ReportMessage(err.get()) : "");
  return handle;
}

#endif
