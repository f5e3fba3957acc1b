// The CCITT decoding state of 1-bit strips. The decoders keep everything they
// allocate inside the one record, so releasing it is releasing the record.
#include "ktif_internal.h"

#include "kmsc.h"

void faxStateFree(Ktif_File* handle) {
  kmsc_HeapFree(handle->faxState);
  handle->faxState = nullptr;
}
