/* KgtfGeoKeyDirectoryTag: GeoKeys held in memory as the three GeoTIFF tags
 * lay them out (C++), for host callers that have keys but no GeoTIFF file.
 *
 * Keys are added one by one, in the order given (never sorted); a key that
 * is already present is ignored, so the first value stays. GetEPRJ converts
 * the directory into a host map projection, units name and elevation record
 * through kgtf_ConvertCSFromGeoKeysToEPRJ, reading the keys with the same
 * readers as a GeoTIFF file. Failures are thrown as KerrExceptionA.
 *
 * String keys: each string is appended to the ASCII parameters followed by
 * '|'; the entry's count is the sum of the string lengths without the
 * separators, its offset the length of the text before them.
 */
#ifndef KGTF_GEOKEY_DIRECTORY_H
#define KGTF_GEOKEY_DIRECTORY_H

#include <vector>

#include "kgda.h"
#include "kprj_legacy.h"
#include "kstr.h"
#include "ktxt.h"

class __attribute__((visibility("default"))) KgtfGeoKeyDirectoryTag {
 public:
  struct Header {
    unsigned short keyDirectoryVersion = 1;
    unsigned short keyRevision = 1;
    unsigned short minorRevision = 0;
    unsigned short numberOfKeys = 0;
  };
  struct Entry {
    unsigned short keyId;
    unsigned short tiffTagLocation;
    unsigned short count;
    unsigned short valueOffset;
    bool operator==(const Entry& o) const {
      return keyId == o.keyId && tiffTagLocation == o.tiffTagLocation && count == o.count &&
             valueOffset == o.valueOffset;
    }
  };

  KgtfGeoKeyDirectoryTag();
  KgtfGeoKeyDirectoryTag(const KgtfGeoKeyDirectoryTag& other);
  KgtfGeoKeyDirectoryTag& operator=(const KgtfGeoKeyDirectoryTag& other);
  virtual ~KgtfGeoKeyDirectoryTag();

  void addGeoKey(unsigned short key, unsigned short value);
  void addGeoKey(unsigned short key, KstrStringList& strings);
  void addGeoKey(unsigned short key, KgdaBaseData& values);

  void GetEPRJ(LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA>& projection, KtxtTextA& units,
               LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextA>& elevation);

  const Header& header() const { return header_; }
  const std::vector<Entry>& entries() const { return entries_; }
  const std::vector<double>& doubles() const { return doubles_; }
  const char* ascii() const { return ascii_.get() ? ascii_.get() : ""; }
  unsigned short asciiStrings() const { return asciiStrings_; }

 private:
  bool checkForDuplicates(unsigned short key);
  void entryAdd(unsigned short key, unsigned short location, size_t count, size_t offset);

  Header header_;
  std::vector<Entry> entries_;
  std::vector<double> doubles_;
  KtxtTextA ascii_;
  unsigned short asciiStrings_ = 0;
};

#endif
