#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <list>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kdms.h"
#include "kerr.h"

namespace {

constexpr int32_t kBytes = 16;

std::string filled(char c) {
  return std::string(kBytes, c);
}
std::string bytes(const void* data) {
  return std::string(static_cast<const char*>(data), kBytes);
}

// A backing store whose block i starts as 'A' + i, logging every callback
// ("R1 W0 ...") and the buffers it was handed.
struct Store {
  explicit Store(int32_t count) {
    for (int32_t i = 0; i < count; ++i) blocks.push_back(filled(char('A' + i)));
  }
  std::vector<std::string> blocks;
  std::string events;
  std::set<void*> readBuffers;
  std::vector<void*> writeBuffers;
  std::set<int32_t> failRead, failWrite;
  Kdms_Cache* reenter = nullptr;  // a cache the read callback calls back into
  std::string reenterMessage;
};

void readBlock(int32_t index, void** data, void* client, Kerr_Report** err) {
  auto* store = static_cast<Store*>(client);
  store->events += "R" + std::to_string(index) + " ";
  store->readBuffers.insert(*data);
  if (store->reenter != nullptr) {
    void* inner = nullptr;
    Kerr_Report* innerErr = nullptr;
    EXPECT_EQ(kdms_CacheRead(store->reenter, 0, &inner, &innerErr), -1);
    store->reenterMessage = kerr_ReportMessage(innerErr);
    kerr_DeleteErrorReportEx(&innerErr);
  }
  std::memset(*data, 0xEE, kBytes);  // a failed read leaves garbage behind
  if (store->failRead.count(index))
    *err = kerr_CreateErrorReport("readBlock", __LINE__, KERR_ERROR, nullptr, "disk gone");
  else
    std::memcpy(*data, store->blocks[index].data(), kBytes);
}

void writeBlock(int32_t index, void* data, void* client, Kerr_Report** err) {
  auto* store = static_cast<Store*>(client);
  store->events += "W" + std::to_string(index) + " ";
  store->writeBuffers.push_back(data);
  if (store->failWrite.count(index))
    *err = kerr_CreateErrorReport("writeBlock", __LINE__, KERR_ERROR, nullptr, "disk full");
  else
    store->blocks[index] = bytes(data);
}

Kdms_Cache* makeCache(Store& store, int32_t capacity, Kdms_WriteFunc writer = writeBlock) {
  Kerr_Report* err = nullptr;
  Kdms_Cache* cache =
      kdms_CacheCreate(kBytes, &err, KDMS_TAG_CAPACITY, capacity, KDMS_TAG_BLOCK_COUNT,
                       int32_t(store.blocks.size()), KDMS_TAG_CLIENT, &store, KDMS_TAG_READ_FUNC,
                       readBlock, KDMS_TAG_WRITE_FUNC, writer, KDMS_TAG_RESERVED, 0, KDMS_TAG_END);
  EXPECT_EQ(err, nullptr) << kerr_ReportMessage(err);
  kerr_DeleteErrorReportEx(&err);
  return cache;
}

// "message <- cause message" of the slot's report; the slot is emptied.
std::string take(Kerr_Report** err) {
  std::string text = *err ? kerr_ReportMessage(*err) : "";
  if (kerr_ReportCause(*err))
    text += std::string(" <- ") + kerr_ReportMessage(kerr_ReportCause(*err));
  kerr_DeleteErrorReportEx(err);
  return text;
}

std::string readOwn(Kdms_Cache* cache, int32_t index) {
  void* data = nullptr;
  Kerr_Report* err = nullptr;
  if (kdms_CacheRead(cache, index, &data, &err) != 0) return "failed: " + take(&err);
  return bytes(data);
}

TEST(Kdms, LeastRecentlyUsedEviction) {
  Store store(3);
  Kdms_Cache* cache = makeCache(store, 2);
  for (int32_t index : {0, 1, 0, 2, 0, 1})  // 2 evicts 1 (the LRU), then 1 evicts 2
    EXPECT_EQ(readOwn(cache, index), filled(char('A' + index)));
  EXPECT_EQ(store.events, "R0 R1 R2 R1 ");
  Kdms_CacheStats stats;
  kdms_CacheStatsGet(cache, &stats);
  EXPECT_EQ(
      (std::vector<int64_t>{stats.hits, stats.misses, stats.reads, stats.writes, stats.evictions}),
      (std::vector<int64_t>{2, 4, 4, 0, 2}));
  kdms_CacheDestroy(&cache, nullptr);
  EXPECT_EQ(cache, nullptr);
}

TEST(Kdms, DirtyBlocksAreStoredOnceOnEvictionFlushAndDestroy) {
  Store store(4);
  Kdms_Cache* cache = makeCache(store, 2);
  ASSERT_EQ(kdms_CacheWrite(cache, 0, filled('0').data(), nullptr), 0);  // no read needed
  ASSERT_EQ(kdms_CacheWrite(cache, 1, filled('1').data(), nullptr), 0);
  EXPECT_EQ(readOwn(cache, 2), filled('C'));  // evicts dirty 0
  void* fetched = nullptr;
  ASSERT_EQ(kdms_CacheFetch(cache, 3, &fetched, nullptr), 0);  // evicts dirty 1
  std::memset(fetched, 'm', kBytes);
  EXPECT_EQ(readOwn(cache, 0), filled('0'));  // evicts clean 2: not stored
  EXPECT_EQ(readOwn(cache, 1), filled('1'));  // evicts fetched 3
  ASSERT_EQ(kdms_CacheWrite(cache, 1, filled('2').data(), nullptr), 0);  // a hit
  ASSERT_EQ(kdms_CacheFlush(cache, nullptr), 0);
  ASSERT_EQ(kdms_CacheFlush(cache, nullptr), 0);  // nothing left to store
  ASSERT_EQ(kdms_CacheWrite(cache, 0, filled('z').data(), nullptr), 0);
  Kerr_Report* err = nullptr;
  kdms_CacheDestroy(&cache, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(store.events, "W0 R2 W1 R3 R0 W3 R1 W1 W0 ");
  EXPECT_EQ(store.blocks,
            (std::vector<std::string>{filled('z'), filled('2'), filled('C'), filled('m')}));
}

// The raster buffer's pattern: fetch, change part of the block, write the
// same pointer back. The change reaches the store once, at any capacity.
TEST(Kdms, FetchModifyWriteStoresTheChangeOnce) {
  for (int32_t capacity : {0, 1, 3}) {
    Store store(3);
    Kdms_Cache* cache = makeCache(store, capacity);
    for (int32_t index : {1, 2}) {
      void* block = nullptr;
      ASSERT_EQ(kdms_CacheFetch(cache, index, &block, nullptr), 0);
      static_cast<char*>(block)[5] = 'x';
      ASSERT_EQ(kdms_CacheWrite(cache, index, block, nullptr), 0);
    }
    kdms_CacheDestroy(&cache, nullptr);
    EXPECT_EQ(store.events, capacity == 3 ? "R1 R2 W1 W2 " : "R1 W1 R2 W2 ") << capacity;
    EXPECT_EQ(store.blocks[2], "CCCCCxCCCCCCCCCC") << capacity;
  }
}

TEST(Kdms, CapacityZeroPassesStraightThrough) {
  Store store(3);
  Kdms_Cache* cache = makeCache(store, 0);
  char mine[kBytes];
  for (int i = 0; i < 2; ++i) {
    void* data = mine;
    ASSERT_EQ(kdms_CacheRead(cache, 1, &data, nullptr), 0);
    EXPECT_EQ(bytes(mine), filled('B'));
  }
  EXPECT_EQ(store.readBuffers, std::set<void*>{mine});  // read straight into it
  std::string seven = filled('7');
  ASSERT_EQ(kdms_CacheWrite(cache, 2, seven.data(), nullptr), 0);
  EXPECT_EQ(store.writeBuffers, std::vector<void*>{seven.data()});
  EXPECT_EQ(readOwn(cache, 0), filled('A'));

  // A fetched block is stored before its index is read back and before the
  // scratch block is reused; one scratch block serves every call.
  void* fetched = nullptr;
  ASSERT_EQ(kdms_CacheFetch(cache, 0, &fetched, nullptr), 0);
  std::memset(fetched, 'f', kBytes);
  void* data = mine;
  ASSERT_EQ(kdms_CacheRead(cache, 0, &data, nullptr), 0);
  EXPECT_EQ(bytes(mine), filled('f'));
  ASSERT_EQ(kdms_CacheFetch(cache, 1, &fetched, nullptr), 0);
  std::memset(fetched, 'g', kBytes);
  EXPECT_EQ(readOwn(cache, 2), filled('7'));
  ASSERT_EQ(kdms_CacheFetch(cache, 2, &fetched, nullptr), 0);
  std::memset(fetched, 'h', kBytes);
  kdms_CacheDestroy(&cache, nullptr);
  EXPECT_EQ(store.events, "R1 R1 W2 R0 R0 W0 R0 R1 W1 R2 R2 W2 ");
  EXPECT_EQ(store.blocks, (std::vector<std::string>{filled('f'), filled('g'), filled('h')}));
  EXPECT_EQ(store.readBuffers.size(), 2u);  // the caller's buffer and the scratch block
}

TEST(Kdms, FailedReadReportsAndLeavesNoBlockBehind) {
  for (int32_t capacity : {0, 2}) {
    SCOPED_TRACE(capacity);
    Store store(3);
    Kdms_Cache* cache = makeCache(store, capacity);
    EXPECT_EQ(readOwn(cache, 0), filled('A'));
    store.failRead = {1};
    EXPECT_EQ(readOwn(cache, 1), "failed: Read of block 1 failed <- disk gone");
    Kerr_Report* err = nullptr;
    void* fetched = nullptr;
    EXPECT_EQ(kdms_CacheFetch(cache, 1, &fetched, &err), -1);
    EXPECT_EQ(kerr_ReportLabel(err), std::string("kdms_CacheFetch"));
    EXPECT_EQ(take(&err), "Read of block 1 failed <- disk gone");
    EXPECT_EQ(fetched, nullptr);
    // The freed slot is reused first, so block 0 stays in memory.
    EXPECT_EQ(readOwn(cache, 2), filled('C'));
    store.events.clear();
    EXPECT_EQ(readOwn(cache, 0), filled('A'));
    EXPECT_EQ(store.events, capacity ? "" : "R0 ");
    store.failRead.clear();  // block 1 is read again, not served as garbage
    EXPECT_EQ(readOwn(cache, 1), filled('B'));
    kdms_CacheDestroy(&cache, nullptr);
  }
}

TEST(Kdms, FailedStoresKeepOrDropDataAsDocumented) {
  Store store(3);
  Kdms_Cache* cache = makeCache(store, 1);
  ASSERT_EQ(kdms_CacheWrite(cache, 0, filled('0').data(), nullptr), 0);
  store.failWrite = {0};
  EXPECT_EQ(readOwn(cache, 1), "failed: Write of block 0 failed <- disk full");
  Kerr_Report* err = nullptr;
  EXPECT_EQ(kdms_CacheFlush(cache, &err), -1);
  EXPECT_EQ(take(&err), "Write of block 0 failed <- disk full");
  store.failWrite.clear();  // the block was kept: the retry stores it
  EXPECT_EQ(readOwn(cache, 1), filled('B'));
  EXPECT_EQ(store.blocks[0], filled('0'));
  kdms_CacheDestroy(&cache, nullptr);

  // Without a write callback: reported, then dropped on eviction; flush
  // keeps the block, destroy loses it; pass-through refuses writes at once.
  for (int32_t capacity : {0, 1}) {
    Store readOnly(3);
    cache = makeCache(readOnly, capacity, nullptr);
    void* fetched = nullptr;
    ASSERT_EQ(kdms_CacheFetch(cache, 0, &fetched, nullptr), 0);
    EXPECT_EQ(kdms_CacheFlush(cache, &err), -1);
    EXPECT_EQ(take(&err), "No write function for dirty block 0");
    EXPECT_EQ(readOwn(cache, 2), "failed: No write function for dirty block 0");
    EXPECT_EQ(readOwn(cache, 2), filled('C'));
    EXPECT_EQ(kdms_CacheWrite(cache, 1, fetched, &err), capacity ? 0 : -1);
    EXPECT_EQ(take(&err), capacity ? "" : "No write function for dirty block 1");
    kdms_CacheDestroy(&cache, &err);
    EXPECT_EQ(take(&err), capacity ? "No write function for dirty block 1" : "");
    EXPECT_EQ(cache, nullptr);
  }
}

TEST(Kdms, BadArgumentsAreReported) {
  struct Case {
    int32_t blockBytes, tag, value;
    Kdms_ReadFunc reader;
    const char* message;
  } cases[] = {
      {kBytes, 3, 0, readBlock, "Unknown cache tag 3"},
      {-1, KDMS_TAG_RESERVED, 0, readBlock, "Block size -1 must be positive"},
      {0, KDMS_TAG_RESERVED, 0, readBlock, "Block size 0 must be positive"},
      {kBytes, KDMS_TAG_BLOCK_COUNT, 0, readBlock, "Block count 0 must be positive"},
      {kBytes, KDMS_TAG_CAPACITY, -1, readBlock, "Capacity -1 must not be negative"},
      {kBytes, KDMS_TAG_RESERVED, 0, nullptr, "No read function"},
  };
  Kerr_Report* err = nullptr;
  for (const Case& c : cases) {  // the case's tag comes last and overrides
    EXPECT_EQ(kdms_CacheCreate(c.blockBytes, &err, KDMS_TAG_BLOCK_COUNT, 3, KDMS_TAG_READ_FUNC,
                               c.reader, c.tag, c.value, KDMS_TAG_END),
              nullptr);
    EXPECT_EQ(kerr_ReportLabel(err), std::string("kdms_CacheCreate"));
    EXPECT_EQ(take(&err), c.message);
  }
  EXPECT_EQ(kdms_CacheCreate(kBytes, nullptr, 3, KDMS_TAG_END), nullptr);  // null slot

  Store store(3);
  Kdms_Cache* cache = makeCache(store, INT32_MAX);  // costs only the 3 blocks
  void* data = nullptr;
  for (int32_t index : {-1, 3, INT32_MIN}) {
    std::string expected = "Block index " + std::to_string(index) + " out of range";
    EXPECT_EQ(readOwn(cache, index), "failed: " + expected);
    EXPECT_EQ(kdms_CacheFetch(cache, index, &data, &err), -1);
    EXPECT_EQ(take(&err), expected);
    EXPECT_EQ(kdms_CacheWrite(cache, index, &store, &err), -1);
    EXPECT_EQ(take(&err), expected);
  }
  EXPECT_EQ(kdms_CacheRead(nullptr, 0, &data, &err), -1);
  EXPECT_EQ(take(&err), "Args");
  EXPECT_EQ(kdms_CacheFetch(cache, 0, nullptr, nullptr), -1);
  EXPECT_EQ(kdms_CacheWrite(cache, 0, nullptr, nullptr), -1);
  EXPECT_EQ(kdms_CacheFlush(nullptr, nullptr), -1);
  kdms_CacheDestroy(nullptr, &err);
  EXPECT_EQ(take(&err), "Args");
  Kdms_CacheStats stats{1, 1, 1, 1, 1};
  kdms_CacheStatsGet(nullptr, &stats);
  EXPECT_EQ(stats.hits + stats.misses + stats.reads + stats.writes + stats.evictions, 0);

  // A callback calling back into its cache is refused; the outer call works.
  store.reenter = cache;
  EXPECT_EQ(readOwn(cache, 1), filled('B'));
  EXPECT_EQ(store.reenterMessage, "Cache is busy");
  store.reenter = nullptr;
  for (int32_t index : {0, 2}) EXPECT_EQ(readOwn(cache, index), filled(char('A' + index)));
  kdms_CacheStatsGet(cache, &stats);
  EXPECT_EQ(stats.evictions, 0);  // all three blocks fit
  kdms_CacheDestroy(&cache, nullptr);
}

// Random reads, fetches and writes against a model of the store and of the
// LRU list: contents served, callback reads, stored blocks and the buffers
// used must agree.
TEST(Kdms, AgreesWithAModelUnderRandomTraffic) {
  const int32_t count = 10, capacity = 3, steps = 3000;
  Store store(count);
  std::vector<std::string> truth = store.blocks;
  Kdms_Cache* cache = makeCache(store, capacity);
  std::list<int32_t> lru;  // most recent first
  int64_t expectedReads = 0;
  std::mt19937 random(12345);
  for (int step = 0; step < steps; ++step) {
    int32_t index = int32_t(random() % count);
    int op = int(random() % 3);
    auto found = std::find(lru.begin(), lru.end(), index);
    if (found != lru.end())
      lru.erase(found);
    else if (op != 2)
      ++expectedReads;  // a write needs no read
    lru.push_front(index);
    if (lru.size() > size_t(capacity)) lru.pop_back();

    void* data = nullptr;
    if (op == 0) {
      ASSERT_EQ(readOwn(cache, index), truth[index]) << step;
    } else if (op == 1) {
      ASSERT_EQ(kdms_CacheFetch(cache, index, &data, nullptr), 0);
      ASSERT_EQ(bytes(data), truth[index]) << step;
      static_cast<char*>(data)[step % kBytes] = char(step);
      truth[index] = bytes(data);
    } else {
      truth[index] = filled(char(random()));
      ASSERT_EQ(kdms_CacheWrite(cache, index, truth[index].data(), nullptr), 0);
    }
  }
  Kdms_CacheStats stats;
  kdms_CacheStatsGet(cache, &stats);
  EXPECT_EQ(stats.reads, expectedReads);
  EXPECT_EQ(stats.hits + stats.misses, steps);
  EXPECT_EQ(store.readBuffers.size(), size_t(capacity));  // no allocation per read
  kdms_CacheDestroy(&cache, nullptr);
  EXPECT_EQ(store.blocks, truth);
}

}  // namespace
