/* Where the geocoding readers take their GeoKeys from: the libgeotiff handle
 * of an image, or a GeoKey directory a host holds in memory (`gk_CSInfo`).
 * One family of readers serves both; what differs between the two roads is
 * asked of the source (its labels, and `inMemory()` at the few steps that
 * differ), so a change to a reader lands in both at once.
 *
 * A directory source also carries a libgeotiff handle filled with the same
 * keys, for the readers that hand the whole key set to libgeotiff's own
 * definition reader (the PROJ roads). Internal to the library. */
#ifndef KGTF_KEY_SOURCE_H
#define KGTF_KEY_SOURCE_H

#include <geotiffio.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kgtf_internal.h"

/* The in-memory directory of one conversion: the GeoKeyDirectoryTag header
 * (version, revision, minor revision, number of keys), a copy of the
 * entries (four values a key: KeyID, TIFFTagLocation, Count, Value_Offset)
 * and the host's doubles and ASCII text, borrowed for the call. */
struct gk_CSInfo {
  uint16_t header[4] = {0, 0, 0, 0};
  std::vector<uint16_t> entries;
  uint16_t doubleCount = 0;
  const double* doubles = nullptr;
  uint16_t asciiCount = 0;
  const char* ascii = nullptr;
  size_t asciiLength = 0;  // of `ascii`, up to its terminating zero

  /* The entry of `key` (the first one), or null. */
  const uint16_t* entryFind(int key) const;
};

/* Builds the record from the arguments of the exported conversion. Only
 * `header[3]` entries are read, never more. */
gk_CSInfo gk_CSInfoCreate(const uint16_t* header, const uint16_t* entries, uint16_t doubleCount,
                          const double* doubles, uint16_t asciiCount, const char* ascii);

/* Reads `key` from the directory as libgeotiff reads a file's key: 1 when
 * the key was found, else 0. GTModelTypeGeoKey without an entry is inferred
 * from the first ProjectedCSTypeGeoKey (1) or GeographicTypeGeoKey (2).
 * A value in the entry (location 0) is written as one 16-bit value; from
 * the doubles, `count` values from Value_Offset + `index`; from the text,
 * Count characters and a terminating zero. Another location is found with
 * nothing written. Values that run past the doubles or the text are not
 * found, with a notice. The caller sizes `destination` for what it asks. */
int keyDirKeyGet(int key, const gk_CSInfo& record, void* destination, int index, int count);

/* The key handle of a directory: its keys set in an in-memory libgeotiff
 * handle (each key from its first entry, the model type inferred as above),
 * for libgeotiff's definition reader. Entries it cannot read are left out.
 * Null when libgeotiff cannot make a handle. */
GtifPtr keyDirHandleCreate(const gk_CSInfo& record);

/* A source of keys. A bare handle is an image's keys. */
struct KgtfKeySource {
  KgtfKeySource(GTIF* handle) : gtif(handle) {}  // NOLINT(google-explicit-constructor)
  KgtfKeySource(GTIF* handle, const gk_CSInfo* record) : gtif(handle), directory(record) {}

  bool inMemory() const { return directory != nullptr; }
  /* A reader's report label on this road: the file reader's own, or its
   * key-directory twin's ("kgtf_PCSRead" -> "gk_CSInfoPCSRead"). */
  const char* label(const char* fileLabel) const;

  GTIF* gtif = nullptr;
  const gk_CSInfo* directory = nullptr;
};

/* Typed reads of one key, alike on both roads. Each is false (null) when
 * the key is absent or holds another type, so a hostile directory never
 * copies a wider value into a narrower slot. */
bool GeoKeyShortGet(KgtfKeySource keys, geokey_t key, uint16_t* value);
bool GeoKeyDoubleGet(KgtfKeySource keys, geokey_t key, double* value);
bool GeoKeyPresent(KgtfKeySource keys, geokey_t key);
/* The text of an ASCII key as a new heap string (kmsc_HeapFree), or null. */
char* GeoKeyAsciiGet(KgtfKeySource keys, geokey_t key);

#endif
