#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <list>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host_owners.h"
#include "kdms.h"

namespace {

using Cache = Owned<Kdms_Cache, kdms_CacheDestroy>;

constexpr int32_t kBytes = 16;

const auto filled = [](char c) { return std::string(kBytes, c); };
const auto bytes = [](const void* data) {
  return std::string(static_cast<const char*>(data), kBytes);
};

// A backing store whose block i starts as 'A' + i, logging every callback
// ("R1 W0 ...").
struct Store {
  explicit Store(int32_t count) {
    for (int32_t i = 0; i < count; ++i) blocks.push_back(filled(char('A' + i)));
  }
  std::vector<std::string> blocks;
  std::string events;
  std::set<int32_t> failRead, failWrite;
};

void readBlock(int32_t index, void** data, void* client, Kerr_Report** err) {
  auto* store = static_cast<Store*>(client);
  store->events += "R" + std::to_string(index) + " ";
  std::memset(*data, 0xEE, kBytes);  // a failed read leaves garbage behind
  if (store->failRead.count(index))
    *err = kerr_CreateErrorReport("readBlock", __LINE__, KERR_ERROR, nullptr, "disk gone");
  else
    std::memcpy(*data, store->blocks[index].data(), kBytes);
}

void writeBlock(int32_t index, void* data, void* client, Kerr_Report** err) {
  auto* store = static_cast<Store*>(client);
  store->events += "W" + std::to_string(index) + " ";
  if (store->failWrite.count(index))
    *err = kerr_CreateErrorReport("writeBlock", __LINE__, KERR_ERROR, nullptr, "disk full");
  else
    store->blocks[index] = bytes(data);
}

Cache makeCache(Store& store, int32_t capacity, Kdms_WriteFunc writer = writeBlock) {
  Cache cache(kdms_CacheCreate(kBytes, nullptr, KDMS_TAG_CAPACITY, capacity, KDMS_TAG_BLOCK_COUNT,
                               int32_t(store.blocks.size()), KDMS_TAG_CLIENT, &store,
                               KDMS_TAG_READ_FUNC, readBlock, KDMS_TAG_WRITE_FUNC, writer,
                               KDMS_TAG_RESERVED, 0, KDMS_TAG_END));
  EXPECT_NE(cache, nullptr);
  return cache;
}

// The block's bytes, or "failed: message <- cause message".
std::string readOwn(const Cache& cache, int32_t index) {
  void* data = nullptr;
  Report err;
  if (kdms_CacheRead(cache.get(), index, &data, out(err)) == 0) return bytes(data);
  std::string text = std::string("failed: ") + kerr_ReportMessage(err.get());
  if (kerr_ReportCause(err.get()))
    text += std::string(" <- ") + kerr_ReportMessage(kerr_ReportCause(err.get()));
  return text;
}

// Fetches block `index` and overwrites it with `c`; false when the fetch fails.
bool fetchFill(const Cache& cache, int32_t index, char c) {
  void* data = nullptr;
  if (kdms_CacheFetch(cache.get(), index, &data, nullptr) != 0) return false;
  std::memset(data, c, kBytes);
  return true;
}

int writeFilled(const Cache& cache, int32_t index, char c) {
  return kdms_CacheWrite(cache.get(), index, filled(c).data(), nullptr);
}

TEST(Kdms, DirtyBlocksAreStoredOnceOnEvictionFlushAndDestroy) {
  Store store(4);
  Cache cache = makeCache(store, 2);
  ASSERT_EQ(writeFilled(cache, 0, '0'), 0);  // no read needed
  ASSERT_EQ(writeFilled(cache, 1, '1'), 0);
  EXPECT_EQ(readOwn(cache, 2), filled('C'));  // evicts dirty 0
  ASSERT_TRUE(fetchFill(cache, 3, 'm'));      // evicts dirty 1
  EXPECT_EQ(readOwn(cache, 0), filled('0'));  // evicts clean 2: not stored
  EXPECT_EQ(readOwn(cache, 1), filled('1'));  // evicts fetched 3
  ASSERT_EQ(writeFilled(cache, 1, '2'), 0);   // a hit
  ASSERT_EQ(kdms_CacheFlush(cache.get(), nullptr), 0);
  ASSERT_EQ(kdms_CacheFlush(cache.get(), nullptr), 0);  // nothing left to store
  ASSERT_EQ(writeFilled(cache, 0, 'z'), 0);
  cache.reset();
  EXPECT_EQ(store.events, "W0 R2 W1 R3 R0 W3 R1 W1 W0 ");
  EXPECT_EQ(store.blocks,
            (std::vector<std::string>{filled('z'), filled('2'), filled('C'), filled('m')}));
}

// The raster buffer's pattern: fetch, change part of the block, write the
// same pointer back. The change reaches the store once, at any capacity.
TEST(Kdms, FetchModifyWriteStoresTheChangeOnce) {
  for (int32_t capacity : {0, 1, 3}) {
    Store store(3);
    Cache cache = makeCache(store, capacity);
    for (int32_t index : {1, 2}) {
      void* block = nullptr;
      ASSERT_EQ(kdms_CacheFetch(cache.get(), index, &block, nullptr), 0);
      static_cast<char*>(block)[5] = 'x';
      ASSERT_EQ(kdms_CacheWrite(cache.get(), index, block, nullptr), 0);
    }
    cache.reset();
    EXPECT_EQ(store.events, capacity == 3 ? "R1 R2 W1 W2 " : "R1 W1 R2 W2 ") << capacity;
    EXPECT_EQ(store.blocks[2], "CCCCCxCCCCCCCCCC") << capacity;
  }
}

TEST(Kdms, CapacityZeroPassesStraightThrough) {
  Store store(3);
  Cache cache = makeCache(store, 0);
  char mine[kBytes];
  void* data = mine;
  ASSERT_EQ(kdms_CacheRead(cache.get(), 1, &data, nullptr), 0);
  EXPECT_EQ(bytes(mine), filled('B'));

  // A fetched block is stored before its index is read back and before the
  // scratch block is reused.
  ASSERT_TRUE(fetchFill(cache, 0, 'f'));
  ASSERT_EQ(kdms_CacheRead(cache.get(), 0, &data, nullptr), 0);
  EXPECT_EQ(bytes(mine), filled('f'));
  ASSERT_TRUE(fetchFill(cache, 1, 'g'));
  EXPECT_EQ(readOwn(cache, 2), filled('C'));
  ASSERT_TRUE(fetchFill(cache, 2, 'h'));
  cache.reset();
  EXPECT_EQ(store.events, "R1 R0 W0 R0 R1 W1 R2 R2 W2 ");
  EXPECT_EQ(store.blocks, (std::vector<std::string>{filled('f'), filled('g'), filled('h')}));
}

TEST(Kdms, FailedReadReportsAndLeavesNoBlockBehind) {
  for (int32_t capacity : {0, 2}) {
    SCOPED_TRACE(capacity);
    Store store(3);
    Cache cache = makeCache(store, capacity);
    EXPECT_EQ(readOwn(cache, 0), filled('A'));
    store.failRead = {1};
    EXPECT_EQ(readOwn(cache, 1), "failed: Read of block 1 failed <- disk gone");
    EXPECT_FALSE(fetchFill(cache, 1, 'x'));
    // The freed slot is reused first, so block 0 stays in memory.
    EXPECT_EQ(readOwn(cache, 2), filled('C'));
    store.events.clear();
    EXPECT_EQ(readOwn(cache, 0), filled('A'));
    EXPECT_EQ(store.events, capacity ? "" : "R0 ");
    store.failRead.clear();  // block 1 is read again, not served as garbage
    EXPECT_EQ(readOwn(cache, 1), filled('B'));
  }
}

TEST(Kdms, FailuresAndBadArgumentsAreReported) {
  EXPECT_EQ(kdms_CacheCreate(kBytes, nullptr, 3, KDMS_TAG_END), nullptr);  // unknown tag
  Store store(3);
  Cache cache = makeCache(store, INT32_MAX);  // costs only the 3 blocks
  for (int32_t index : {-1, 3, INT32_MIN}) {
    EXPECT_EQ(readOwn(cache, index),
              "failed: Block index " + std::to_string(index) + " out of range");
    EXPECT_EQ(writeFilled(cache, index, 'x'), -1);
  }
  // A failed store keeps the dirty block: the retry stores it.
  ASSERT_EQ(writeFilled(cache, 0, '0'), 0);
  store.failWrite = {0};
  EXPECT_EQ(kdms_CacheFlush(cache.get(), nullptr), -1);
  store.failWrite.clear();
  EXPECT_EQ(kdms_CacheFlush(cache.get(), nullptr), 0);
  EXPECT_EQ(store.blocks[0], filled('0'));
  // Without a write callback, pass-through refuses writes at once.
  cache = makeCache(store, 0, nullptr);
  EXPECT_EQ(writeFilled(cache, 1, '1'), -1);
}

// Random reads, fetches and writes against a model of the store and of the
// LRU list: contents served, callback reads and stored blocks must agree.
TEST(Kdms, AgreesWithAModelUnderRandomTraffic) {
  const int32_t count = 10, capacity = 3;
  Store store(count);
  std::vector<std::string> truth = store.blocks;
  Cache cache = makeCache(store, capacity);
  std::list<int32_t> lru;  // most recent first
  int64_t expectedReads = 0;
  std::mt19937 random(12345);
  for (int step = 0; step < 3000; ++step) {
    int32_t index = int32_t(random() % count);
    int op = int(random() % 3);
    if (op != 2 && std::find(lru.begin(), lru.end(), index) == lru.end())
      ++expectedReads;  // a miss; a write needs no read
    lru.remove(index);
    lru.push_front(index);
    if (lru.size() > size_t(capacity)) lru.pop_back();

    if (op == 0) {
      ASSERT_EQ(readOwn(cache, index), truth[index]) << step;
    } else if (op == 1) {
      void* data = nullptr;
      ASSERT_EQ(kdms_CacheFetch(cache.get(), index, &data, nullptr), 0);
      ASSERT_EQ(bytes(data), truth[index]) << step;
      static_cast<char*>(data)[step % kBytes] = char(step);
      truth[index] = bytes(data);
    } else {
      truth[index] = filled(char(random()));
      ASSERT_EQ(kdms_CacheWrite(cache.get(), index, truth[index].data(), nullptr), 0);
    }
  }
  Kdms_CacheStats stats;
  kdms_CacheStatsGet(cache.get(), &stats);
  EXPECT_EQ(stats.reads, expectedReads);
  cache.reset();
  EXPECT_EQ(store.blocks, truth);
}

}  // namespace
