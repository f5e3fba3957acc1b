#include "raw_tiff.h"

#include <fstream>

namespace {

void put16(std::vector<unsigned char>& out, uint32_t v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}

void put32(std::vector<unsigned char>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

void put32At(std::vector<unsigned char>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = (v >> (8 * i)) & 0xFF;
}

}  // namespace

std::vector<unsigned char> rawTiffBuild(const std::vector<RawTiffEntry>& entries,
                                        size_t pixelBytes) {
  std::vector<unsigned char> out = {'I', 'I', 42, 0, 0, 0, 0, 0};
  out.resize(8 + pixelBytes, 0x5A);
  if (out.size() % 2) out.push_back(0);
  put32At(out, 4, static_cast<uint32_t>(out.size()));
  put16(out, static_cast<uint32_t>(entries.size()));
  std::vector<std::pair<size_t, const RawTiffEntry*>> spills;
  for (const RawTiffEntry& e : entries) {
    put16(out, e.tag);
    put16(out, e.type);
    uint32_t count = static_cast<uint32_t>(e.type == 5 ? e.values.size() / 2 : e.values.size());
    put32(out, count);
    size_t bytes = e.values.size() * (e.type == 3 ? 2 : 4);
    if (bytes <= 4) {
      std::vector<unsigned char> inline_;
      for (uint32_t v : e.values) (e.type == 3 ? put16 : put32)(inline_, v);
      inline_.resize(4, 0);
      out.insert(out.end(), inline_.begin(), inline_.end());
    } else {
      spills.emplace_back(out.size(), &e);
      put32(out, 0);
    }
  }
  put32(out, 0);  // no next directory
  for (auto [at, e] : spills) {
    put32At(out, at, static_cast<uint32_t>(out.size()));
    for (uint32_t v : e->values) (e->type == 3 ? put16 : put32)(out, v);
  }
  return out;
}

void rawTiffWrite(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}
