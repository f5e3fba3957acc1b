#include "kdms.h"
#include "kerr_guard.h"
#include "kerr_frame.h"
#include "kmsc.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>

namespace {

// A buffer of the pool. Only slots below `used` are initialised; the rest are
// still the heap's zeros, so a huge capacity costs nothing until it is used.
struct Slot {
  int32_t index;  // block held, -1 when the slot holds nothing valid
  int32_t prev;   // towards the most recently used end, -1 at the head
  int32_t next;   // towards the least recently used end, -1 at the tail
  bool dirty;
};

enum Store { kStored, kWriteFailed, kNoWriter };

}  // namespace

struct Kdms_Cache {
  int32_t blockBytes;
  int32_t blockCount;
  int32_t capacity;  // 0: pass-through
  void* client;
  Kdms_ReadFunc readFunc;
  Kdms_WriteFunc writeFunc;

  unsigned char* pool;  // capacity blocks, or the scratch block in pass-through
  Slot* slots;          // capacity entries
  int32_t* table;       // blockCount entries: slot + 1, 0 when not in memory
  int32_t* order;       // capacity entries, to sort dirty slots for a flush
  int32_t used;         // slots handed out so far
  int32_t head;         // most recently used slot
  int32_t tail;         // least recently used slot: the next to be reused

  int32_t scratchIndex;  // block in the scratch block, -1 for none
  bool scratchDirty;
  bool busy;  // inside a callback: refuse re-entry
  Kdms_CacheStats stats;
};

namespace {

unsigned char* blockData(Kdms_Cache* cache, int32_t slot) {
  return cache->pool + static_cast<size_t>(slot) * static_cast<size_t>(cache->blockBytes);
}

void unlink(Kdms_Cache* cache, int32_t s) {
  Slot& slot = cache->slots[s];
  if (slot.prev >= 0)
    cache->slots[slot.prev].next = slot.next;
  else
    cache->head = slot.next;
  if (slot.next >= 0)
    cache->slots[slot.next].prev = slot.prev;
  else
    cache->tail = slot.prev;
  slot.prev = slot.next = -1;
}

void pushFront(Kdms_Cache* cache, int32_t s) {
  Slot& slot = cache->slots[s];
  slot.prev = -1;
  slot.next = cache->head;
  if (cache->head >= 0) cache->slots[cache->head].prev = s;
  cache->head = s;
  if (cache->tail < 0) cache->tail = s;
}

void pushBack(Kdms_Cache* cache, int32_t s) {
  Slot& slot = cache->slots[s];
  slot.next = -1;
  slot.prev = cache->tail;
  if (cache->tail >= 0) cache->slots[cache->tail].next = s;
  cache->tail = s;
  if (cache->head < 0) cache->head = s;
}

// Marks the cache busy while a callback runs, so that re-entry is refused.
class BusyGuard {
 public:
  explicit BusyGuard(Kdms_Cache* cache) : cache_(cache) { cache_->busy = true; }
  ~BusyGuard() { cache_->busy = false; }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  Kdms_Cache* cache_;
};

// Each callback gets a slot of its own; any report it leaves is a failure.
bool callRead(Kdms_Cache* cache, int32_t index, void* buffer, Kerr_Report** cause) {
  Kerr_Report* report = nullptr;
  void* data = buffer;
  {
    BusyGuard guard(cache);
    cache->readFunc(index, &data, cache->client, &report);
  }
  ++cache->stats.reads;
  *cause = report;
  return report == nullptr;
}

Store storeBlock(Kdms_Cache* cache, int32_t index, void* data, Kerr_Report** cause) {
  *cause = nullptr;
  if (cache->writeFunc == nullptr) return kNoWriter;
  Kerr_Report* report = nullptr;
  {
    BusyGuard guard(cache);
    cache->writeFunc(index, data, cache->client, &report);
  }
  ++cache->stats.writes;
  *cause = report;
  return report == nullptr ? kStored : kWriteFailed;
}

// Reports a failed store, unless the frame already holds a failure (a flush
// reports the first one only).
void reportStore(KerrFrame& frame, int line, Store result, int32_t index, Kerr_Report* cause) {
  if (frame.hasReport()) {
    kerr_DeleteErrorReportEx(&cause);
    return;
  }
  if (result == kNoWriter) {
    frame.fail(line, "No write function for dirty block %d", index);
    return;
  }
  *frame.slot() = cause;
  frame.fail(line, "Write of block %d failed", index);
}

void reportRead(KerrFrame& frame, int line, int32_t index, Kerr_Report* cause) {
  *frame.slot() = cause;
  frame.fail(line, "Read of block %d failed", index);
}

// Stores a dirty slot. Without a write callback the data is dropped (after
// the report) when `dropUnwritable`, so that the slot can be reused.
bool storeSlot(Kdms_Cache* cache, KerrFrame& frame, int32_t s, bool dropUnwritable) {
  Slot& slot = cache->slots[s];
  if (!slot.dirty) return true;
  Kerr_Report* cause = nullptr;
  Store result = storeBlock(cache, slot.index, blockData(cache, s), &cause);
  if (result == kStored) {
    slot.dirty = false;
    return true;
  }
  reportStore(frame, __LINE__, result, slot.index, cause);
  if (result == kNoWriter && dropUnwritable) {
    cache->table[slot.index] = 0;
    slot.index = -1;
    slot.dirty = false;
  }
  return false;
}

bool storeScratch(Kdms_Cache* cache, KerrFrame& frame, bool dropUnwritable) {
  if (!cache->scratchDirty) return true;
  Kerr_Report* cause = nullptr;
  Store result = storeBlock(cache, cache->scratchIndex, cache->pool, &cause);
  if (result == kStored) {
    cache->scratchDirty = false;
    return true;
  }
  reportStore(frame, __LINE__, result, cache->scratchIndex, cause);
  if (result == kNoWriter && dropUnwritable) {
    cache->scratchDirty = false;
    cache->scratchIndex = -1;
  }
  return false;
}

// A slot for block `index`, which is not in memory: a fresh one while the
// pool lasts, else the least recently used, stored first when dirty. The slot
// becomes the most recently used and is entered in the table.
int32_t acquireSlot(Kdms_Cache* cache, KerrFrame& frame, int32_t index) {
  int32_t s;
  if (cache->used < cache->capacity) {
    s = cache->used++;
    cache->slots[s] = Slot{-1, -1, -1, false};
  } else {
    s = cache->tail;
    Slot& victim = cache->slots[s];
    if (victim.index >= 0) {
      if (!storeSlot(cache, frame, s, true)) return -1;
      cache->table[victim.index] = 0;
      victim.index = -1;
      ++cache->stats.evictions;
    }
    unlink(cache, s);
  }
  cache->slots[s].index = index;
  cache->slots[s].dirty = false;
  cache->table[index] = s + 1;
  pushFront(cache, s);
  return s;
}

// The slot holding block `index`, made the most recently used; read through
// the callback first when `needRead` and the block is not in memory.
int32_t lookup(Kdms_Cache* cache, KerrFrame& frame, int32_t index, bool needRead) {
  int32_t entry = cache->table[index];
  if (entry > 0) {
    ++cache->stats.hits;
    int32_t s = entry - 1;
    if (s != cache->head) {
      unlink(cache, s);
      pushFront(cache, s);
    }
    return s;
  }
  ++cache->stats.misses;
  int32_t s = acquireSlot(cache, frame, index);
  if (s < 0 || !needRead) return s;
  Kerr_Report* cause = nullptr;
  if (!callRead(cache, index, blockData(cache, s), &cause)) {
    // Nothing valid stays behind; the slot is the first to be reused.
    cache->table[index] = 0;
    cache->slots[s].index = -1;
    unlink(cache, s);
    pushBack(cache, s);
    reportRead(frame, __LINE__, index, cause);
    return -1;
  }
  return s;
}

// Pass-through: read block `index` into the scratch block.
bool readScratch(Kdms_Cache* cache, KerrFrame& frame, int32_t index) {
  if (!storeScratch(cache, frame, true)) return false;
  ++cache->stats.misses;
  cache->scratchIndex = -1;
  Kerr_Report* cause = nullptr;
  if (!callRead(cache, index, cache->pool, &cause)) {
    reportRead(frame, __LINE__, index, cause);
    return false;
  }
  cache->scratchIndex = index;
  return true;
}

// Argument checks shared by the block calls.
bool checkCall(KerrFrame& frame, Kdms_Cache* cache, int32_t index, const void* data) {
  if (cache == nullptr || data == nullptr) return frame.fail(__LINE__, "Args"), false;
  if (cache->busy) return frame.fail(__LINE__, "Cache is busy"), false;
  if (index < 0 || index >= cache->blockCount)
    return frame.fail(__LINE__, "Block index %d out of range", index), false;
  return true;
}

bool flushAll(Kdms_Cache* cache, KerrFrame& frame) {
  if (cache->capacity == 0) return storeScratch(cache, frame, false);
  int32_t count = 0;
  for (int32_t s = 0; s < cache->used; ++s)
    if (cache->slots[s].index >= 0 && cache->slots[s].dirty) cache->order[count++] = s;
  // Ascending block order: the store sees sequential writes.
  std::sort(cache->order, cache->order + count, [cache](int32_t a, int32_t b) {
    return cache->slots[a].index < cache->slots[b].index;
  });
  bool ok = true;
  for (int32_t i = 0; i < count; ++i) ok = storeSlot(cache, frame, cache->order[i], false) && ok;
  return ok;
}

void release(Kdms_Cache* cache) {
  kmsc_HeapFree(cache->pool);
  kmsc_HeapFree(cache->slots);
  kmsc_HeapFree(cache->table);
  kmsc_HeapFree(cache->order);
  kmsc_HeapFree(cache);
}

}  // namespace

namespace {

/* kdms_CacheCreate after va_start: the tag list is read here, inside the
 * exception guard. */
Kdms_Cache* cacheCreateV(int32_t blockBytes, va_list args, Kerr_Report** err) {
  static const char* kLabel = "kdms_CacheCreate";
  KerrFrame frame(kLabel, err);
  int32_t capacity = 0, blockCount = 0;
  void* client = nullptr;
  Kdms_ReadFunc readFunc = nullptr;
  Kdms_WriteFunc writeFunc = nullptr;

  for (int tag = va_arg(args, int); tag != KDMS_TAG_END; tag = va_arg(args, int)) {
    switch (tag) {
      case KDMS_TAG_CAPACITY:
        capacity = va_arg(args, int32_t);
        break;
      case KDMS_TAG_BLOCK_COUNT:
        blockCount = va_arg(args, int32_t);
        break;
      case KDMS_TAG_CLIENT:
        client = va_arg(args, void*);
        break;
      case KDMS_TAG_READ_FUNC:
        readFunc = va_arg(args, Kdms_ReadFunc);
        break;
      case KDMS_TAG_WRITE_FUNC:
        writeFunc = va_arg(args, Kdms_WriteFunc);
        break;
      case KDMS_TAG_RESERVED:
        (void)va_arg(args, int32_t);
        break;
      default:
        // The size of the value is unknown: the rest of the list is unreadable.
        return frame.fail(__LINE__, "Unknown cache tag %d", tag), nullptr;
    }
  }

  if (blockBytes <= 0)
    return frame.fail(__LINE__, "Block size %d must be positive", blockBytes), nullptr;
  if (blockCount <= 0)
    return frame.fail(__LINE__, "Block count %d must be positive", blockCount), nullptr;
  if (capacity < 0)
    return frame.fail(__LINE__, "Capacity %d must not be negative", capacity), nullptr;
  if (readFunc == nullptr) return frame.fail(__LINE__, "No read function"), nullptr;
  capacity = std::min(capacity, blockCount);

  // The heap refuses blocks above SIZE_MAX / 2; say so before it does.
  const uint64_t limit = SIZE_MAX / 2;
  const uint64_t blocks = capacity > 0 ? static_cast<uint64_t>(capacity) : 1;
  const uint64_t poolBytes = blocks * static_cast<uint64_t>(blockBytes);  // < 2^62
  const uint64_t slotBytes = static_cast<uint64_t>(capacity) * sizeof(Slot);
  const uint64_t tableBytes = static_cast<uint64_t>(blockCount) * sizeof(int32_t);
  if (poolBytes > limit || slotBytes > limit || tableBytes > limit)
    return frame.fail(__LINE__, "Cache of %d blocks of %d bytes is too large", capacity,
                      blockBytes),
           nullptr;

  auto* cache = static_cast<Kdms_Cache*>(kmsc_HeapMalloc(sizeof(Kdms_Cache)));
  if (cache == nullptr) return frame.fail(__LINE__, "Out of memory"), nullptr;
  cache->pool = static_cast<unsigned char*>(kmsc_HeapMalloc(static_cast<size_t>(poolBytes)));
  if (capacity > 0) {
    cache->slots = static_cast<Slot*>(kmsc_HeapMalloc(static_cast<size_t>(slotBytes)));
    cache->table = static_cast<int32_t*>(kmsc_HeapMalloc(static_cast<size_t>(tableBytes)));
    cache->order =
        static_cast<int32_t*>(kmsc_HeapMalloc(static_cast<size_t>(capacity) * sizeof(int32_t)));
  }
  if (cache->pool == nullptr ||
      (capacity > 0 &&
       (cache->slots == nullptr || cache->table == nullptr || cache->order == nullptr))) {
    release(cache);
    return frame.fail(__LINE__, "Out of memory"), nullptr;
  }
  cache->blockBytes = blockBytes;
  cache->blockCount = blockCount;
  cache->capacity = capacity;
  cache->client = client;
  cache->readFunc = readFunc;
  cache->writeFunc = writeFunc;
  cache->head = cache->tail = -1;
  cache->scratchIndex = -1;
  return cache;
}

}  // namespace

extern "C" {

Kdms_Cache* kdms_CacheCreate(int32_t blockBytes, Kerr_Report** err, ...) {
  va_list args;
  va_start(args, err);
  Kdms_Cache* cache =
      kerrGuard(__func__, err, nullptr, [&] { return cacheCreateV(blockBytes, args, err); });
  va_end(args);
  return cache;
}

int kdms_CacheRead(Kdms_Cache* cache, int32_t index, void** data, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kdms_CacheRead";
    KerrFrame frame(kLabel, err);
    if (!checkCall(frame, cache, index, data)) return -1;

    if (cache->capacity == 0) {
      if (*data == nullptr) {
        if (!readScratch(cache, frame, index)) return -1;
        *data = cache->pool;
        return 0;
      }
      // The store must see a fetched change before it is read back.
      if (cache->scratchIndex == index && !storeScratch(cache, frame, true)) return -1;
      ++cache->stats.misses;
      Kerr_Report* cause = nullptr;
      if (!callRead(cache, index, *data, &cause))
        return reportRead(frame, __LINE__, index, cause), -1;
      return 0;
    }

    int32_t s = lookup(cache, frame, index, true);
    if (s < 0) return -1;
    if (*data == nullptr)
      *data = blockData(cache, s);
    else if (*data != blockData(cache, s))
      std::memmove(*data, blockData(cache, s), cache->blockBytes);
    return 0;
  });
}

int kdms_CacheFetch(Kdms_Cache* cache, int32_t index, void** data, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kdms_CacheFetch";
    KerrFrame frame(kLabel, err);
    if (!checkCall(frame, cache, index, data)) return -1;

    if (cache->capacity == 0) {
      if (!readScratch(cache, frame, index)) return -1;
      cache->scratchDirty = true;
      *data = cache->pool;
      return 0;
    }

    int32_t s = lookup(cache, frame, index, true);
    if (s < 0) return -1;
    cache->slots[s].dirty = true;
    *data = blockData(cache, s);
    return 0;
  });
}

int kdms_CacheWrite(Kdms_Cache* cache, int32_t index, const void* data, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kdms_CacheWrite";
    KerrFrame frame(kLabel, err);
    if (!checkCall(frame, cache, index, data)) return -1;

    if (cache->capacity == 0) {
      Kerr_Report* cause = nullptr;
      Store result = storeBlock(cache, index, const_cast<void*>(data), &cause);
      if (result != kStored) return reportStore(frame, __LINE__, result, index, cause), -1;
      // A fetched copy of this block is older than what was just stored.
      if (cache->scratchIndex == index) cache->scratchDirty = false;
      return 0;
    }

    int32_t s = lookup(cache, frame, index, false);
    if (s < 0) return -1;
    if (data != blockData(cache, s)) std::memmove(blockData(cache, s), data, cache->blockBytes);
    cache->slots[s].dirty = true;
    return 0;
  });
}

int kdms_CacheFlush(Kdms_Cache* cache, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kdms_CacheFlush";
    KerrFrame frame(kLabel, err);
    if (cache == nullptr) return frame.fail(__LINE__, "Args"), -1;
    if (cache->busy) return frame.fail(__LINE__, "Cache is busy"), -1;
    return flushAll(cache, frame) ? 0 : -1;
  });
}

void kdms_CacheDestroy(Kdms_Cache** cache, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kdms_CacheDestroy";
    KerrFrame frame(kLabel, err);
    if (cache == nullptr) return frame.fail(__LINE__, "Args");
    if (*cache == nullptr) return;
    // A callback destroying its own cache would pull the memory from under it.
    if ((*cache)->busy) return frame.fail(__LINE__, "Cache is busy");
    flushAll(*cache, frame);
    release(*cache);
    *cache = nullptr;
  });
}

void kdms_CacheStatsGet(const Kdms_Cache* cache, Kdms_CacheStats* stats) {
  kerrGuardVoid(__func__, nullptr, [&] {
    if (stats == nullptr) return;
    if (cache == nullptr)
      *stats = Kdms_CacheStats{0, 0, 0, 0, 0};
    else
      *stats = cache->stats;
  });
}

}  // extern "C"
