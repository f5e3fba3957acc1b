/* kgtf: the GeoTIFF side of the library.
 *
 * Kgtf_GeoTIFFParams carries an image's georeferencing: the raster-to-model
 * transform with the GeoTIFF raster type it refers to, the projection and
 * units names, the host map projection and the listing of the file's
 * GeoKeys. The record stores its transform in GeoTIFF raster space; the
 * georeferencing get and set calls convert to and from the host's
 * pixel-centre space.
 *
 * Ownership: a record owns everything it points to; every result handed out
 * (transforms, strings, projections) is a new object the caller frees
 * (kxfr_XFormFree, kmsc_HeapFree, kprj_ProjectionFree).
 */
#ifndef KGTF_H
#define KGTF_H

#include <stdint.h>

#include "kerr.h"
#include "kmsc.h"
#include "kprj.h"
#include "kstr.h"
#include "ktif_export.h"
#include "kxfr.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tiff TIFF;
typedef struct gtiff GTIF;

/* GTRasterTypeGeoKey values. */
enum { KGTF_RASTER_PIXEL_IS_AREA = 1, KGTF_RASTER_PIXEL_IS_POINT = 2 };

typedef struct Kgtf_GeoTIFFParams {
  int32_t georeferencingChanged; /* set by kgtf_GeoTIFFParamsGeoreferencingSet */
  int32_t rasterType;            /* 1 pixel-is-area (new records), 2 pixel-is-point */
  Kxfr_XForm* xform;             /* GeoTIFF raster space to map units, or null */
  char* projectionName;
  char* unitsName;
  int32_t geocodingChanged; /* set by kgtf_GeoTIFFParamsGeocodingSet */
  _kprj_MapProjectionEx* projection;
  KstrStringList* metaData; /* the GeoKey listing, one line per entry */
} Kgtf_GeoTIFFParams;

KTIF_API Kgtf_GeoTIFFParams* kgtf_GeoTIFFParamsAllocate(void);
KTIF_API void kgtf_GeoTIFFParamsFree(Kgtf_GeoTIFFParams** params);
KTIF_API Kgtf_GeoTIFFParams* kgtf_GeoTIFFParamsCopy(const Kgtf_GeoTIFFParams* src);

/* The host (pixel-centre) transform and the two names; any output may be
 * null. Without a stored transform every output is null. */
KTIF_API void kgtf_GeoTIFFParamsGeoreferencingGet(const Kgtf_GeoTIFFParams* params,
                                                  Kxfr_XForm** xform, char** projectionName,
                                                  char** unitsName, Kerr_Report** err);
/* A null xform removes the stored transform and keeps the names. */
KTIF_API void kgtf_GeoTIFFParamsGeoreferencingSet(Kgtf_GeoTIFFParams* params,
                                                  const Kxfr_XForm* xform,
                                                  const char* projectionName, const char* unitsName,
                                                  Kerr_Report** err);
KTIF_API void kgtf_GeoTIFFParamsGeocodingGet(const Kgtf_GeoTIFFParams* params,
                                             _kprj_MapProjectionEx** projection, Kerr_Report** err);
/* A null projection removes the stored one and names the projection unknown. */
KTIF_API void kgtf_GeoTIFFParamsGeocodingSet(Kgtf_GeoTIFFParams* params,
                                             const _kprj_MapProjectionEx* projection,
                                             Kerr_Report** err);

/* The raster-to-model transform of an open image from its tie point, pixel
 * scale and model transformation tags (null when it has none), in GeoTIFF
 * raster space; *rasterType is written only when a transform is returned.
 * Control points alone give a fitted transform under the "use_gcps",
 * "geo_model" and "geo_order" preferences. */
KTIF_API void kgtf_GeoTIFFGeoreferencingGet(TIFF* tif, GTIF* gtif, int* rasterType,
                                            Kxfr_XForm** xform, Kerr_Report** err);

/* Stores an affine transform (GeoTIFF raster space, in the units of the
 * GeoKeys; no half-pixel or units conversion is made here) in a TIFF open for
 * writing whose current directory is not yet written: GTRasterTypeGeoKey set
 * to rasterType in gtif, and a tie point with a pixel scale for an
 * axis-aligned transform, the ModelTransformationTag otherwise. A transform
 * without an affine form is refused with "Raster to map model transform is
 * not affine; ignoring GeoTIFF" and nothing is written. The caller writes
 * the keys afterwards with GTIFWriteKeys. */
KTIF_API void kgtf_GeoTIFFGeoreferencingSet(TIFF* tif, GTIF* gtif, int rasterType,
                                            const Kxfr_XForm* xform, Kerr_Report** err);

/* The georeferencing of the current directory of an open image: its
 * transform tags, GeoKeys (listing kept in metaData) and this library's
 * citation, with the transform in the host units the citation names. *params
 * receives a new record, or null on failure; a transform or geocoding that
 * cannot be read leaves a usable record without them. */
KTIF_API void kgtf_GeoTIFFParamsRead(TIFF* tif, Kgtf_GeoTIFFParams** params, Kerr_Report** err);

/* Writes a record's georeferencing into the current directory of a TIFF
 * open for writing, before that directory is written: the GeoKeys, this
 * library's citation and the transform tags. A record whose geocoding was not
 * changed carries over the keys it was read with (its metaData listing; the
 * tag section of the listing is not replayed, since the transform tags follow
 * the record's own transform). When the georeferencing was set, the
 * transform goes out in the units of the GeoKeys, converted from the record's
 * unitsName, and the citation keeps both unit names so that reading converts
 * back. The key handle is libgeotiff's GTIFNewEx with its messages routed
 * into host reports; it is written (GTIFWriteKeys) and freed here. A null
 * params writes nothing. Warnings are shown with kerr_PrintErrorReport. */
KTIF_API void kgtf_GeoTIFFParamsWrite(TIFF* tif, const Kgtf_GeoTIFFParams* params,
                                      Kerr_Report** err);

/* The GeoKeys of a projection record set in gtif (the caller writes them):
 * always this library's full citation (with "Geocoding information not
 * available" for a null pro), then, for an internal projection, a geographic
 * system (number 0) or a projected one: UTM and State Plane by code where the
 * tables have one, any other projection as a user-defined system. The model
 * type is the caller's to set. Null names stand for the unknown projection
 * and the other units. */
KTIF_API void kgtf_ProParametersWrite(GTIF* gtif, const char* unitsName, const char* projectionName,
                                      const Kprj_ProParameters* pro, Kerr_Report** err);

/* 1 when the transform / projection can be stored in a GeoTIFF file. */
KTIF_API int32_t kgtf_XFormIsWritable(const Kxfr_XForm* xform);
KTIF_API int32_t kgtf_ProjectionIsWritable(const _kprj_MapProjectionEx* projection);

/* The host projection of an EPSG coordinate system and the name of its units
 * (both new: kprj_ProjectionFree, kmsc_HeapFree), through the EPSG
 * translator. Codes the host projections cannot represent exactly (3857, the
 * spherical Pseudo-Mercator, among them) fail with the translator's reason;
 * both outputs are then null. */
KTIF_API void kgtf_ProjectionFromEPSG(int32_t code, _kprj_MapProjectionEx** projection,
                                      char** unitsName, Kerr_Report** err);

/* How other software names the system of a record. */
typedef struct Kgtf_CRSDescription {
  int32_t epsgCode;    /* the EPSG code the record is written back as; 0 for none */
  char* name;          /* the registry's name of epsgCode, or null */
  char* wkt;           /* WKT2 (2019) of the system from PROJ, or null */
  int32_t approximate; /* 1 when the keys read name an EPSG system that the
                          record holds only in part: it is written back as
                          another code or as none */
} Kgtf_CRSDescription;

/* Fills `description` (cleared first) for the record's projection and units;
 * a record without a projection gives code 0 and null texts. Release the
 * texts with kgtf_CRSDescriptionClear. */
KTIF_API void kgtf_GeoTIFFParamsCRSDescribe(const Kgtf_GeoTIFFParams* params,
                                            Kgtf_CRSDescription* description, Kerr_Report** err);
KTIF_API void kgtf_CRSDescriptionClear(Kgtf_CRSDescription* description);

/* The key ids of a key reader (libgeotiff's GTIF) in ascending order, which
 * is the directory's order in any valid file; null and 0 without keys. The
 * list is the caller's (kmsc_HeapFree). */
KTIF_API void kgtf_AvailableKeys(GTIF* gtif, int32_t** keys, int32_t* count, Kerr_Report** err);
/* A key's value as text (the caller frees it): libgeotiff's name of a single
 * coded value, numbers joined by ", ", ASCII text as stored, "Unknown" for
 * other types. Null, without a report, for a key that is not there. */
KTIF_API char* kgtf_GetKeyValue(GTIF* gtif, int32_t key, Kerr_Report** err);

/* A GeoKey directory held in memory (the contents of GeoKeyDirectoryTag,
 * GeoDoubleParamsTag and GeoAsciiParamsTag) to a host map projection, units
 * name and elevation record, read with the readers of a GeoTIFF file. The
 * header holds the number of entries; an entry whose values lie outside the
 * doubles or the text is not found (a notice says so). Without
 * GTModelTypeGeoKey the first ProjectedCSTypeGeoKey or GeographicTypeGeoKey
 * entry gives the model type. Units: the record's default units, except a
 * projected system's linear units (its ProjLinearUnitsGeoKey, else the
 * registry's for its code); no preference is consulted. Where this road
 * reads unlike a file is listed in docs/georeferencing.md. The outputs are
 * set to null first and belong to the caller. */
KTIF_API void kgtf_ConvertCSFromGeoKeysToEPRJ(const unsigned short* header,
                                              const unsigned short* entries,
                                              unsigned short doubleCount, const double* doubles,
                                              unsigned short asciiCount, const char* ascii,
                                              _kprj_MapProjectionEx** projection, char** unitsName,
                                              _kprj_ElevationInfo** elevation, Kerr_Report** err);

/* ---- Map info and calibration ---------------------------------------- */

/* A rotated image's georeferencing: the transform from map coordinates to
 * pixel centres, its map info (corner pixel centres, signed pixel size,
 * names) and the projection, or null. The pixel size is measured between the
 * upper-left and lower-right centres; an image one pixel wide (high) takes
 * the transform's own step along that axis instead (its x per column, y per
 * row). Everything is owned by the record; kgtf_CalibrationFree releases it
 * with its members and sets the pointer to null. */
typedef struct Kgtf_Calibration {
  Kxfr_XForm* mapToPixel;
  Kprj_MapInfo* mapInfo;
  Kprj_ProParameters* pro;
} Kgtf_Calibration;

KTIF_API void kgtf_CalibrationFree(Kgtf_Calibration** calibration);

/* The older route between an open image and the host's georeferencing,
 * straight from the tags and GeoKeys: a north-up image with one tie point
 * and a pixel scale gives *mapInfo and *pro (when its keys name a system);
 * an image with a model transformation gives *calibration. Coordinates are
 * pixel centres in the units of the GeoKeys, which the map info names.
 * Outputs not produced are left as they were; outputs are handed out also
 * when a later step reported an error. A null output pointer means that
 * output is not wanted. All results are new and the caller's
 * (kprj_MapInfoFree, kprj_ProParametersFree, kgtf_CalibrationFree). */
KTIF_API void kgtf_GeoTiffParamsGet(TIFF* tif, Kprj_MapInfo** mapInfo, Kprj_ProParameters** pro,
                                    Kgtf_Calibration** calibration, Kerr_Report** err);
/* Writes a map info (and the GeoKeys of `pro`, which may be null) into a
 * TIFF being created, before its directory is written: a tie point at
 * raster (0.5, 0.5), pixel-is-area, and a pixel scale, converted from the
 * map info's units into the units of the GeoKeys; the library's citation
 * keeps both names. A null map info writes nothing. */
KTIF_API void kgtf_GeoTiffParamsSetMapInfo(TIFF* tif, const Kprj_MapInfo* mapInfo,
                                           const Kprj_ProParameters* pro, Kerr_Report** err);
/* Writes an affine pixel-centre-to-map transform (map coordinates in
 * unitsName) as ModelTransformationTag, pixel-is-area and in the units of
 * the GeoKeys, with the GeoKeys of `pro`. A transform without an affine form
 * is refused with the warning "Calibration transform is not affine; ignoring
 * GeoTIFF" and nothing is written. */
KTIF_API void kgtf_GeoTiffParamsSetCalibration(TIFF* tif, const Kxfr_XForm* pixelToMap,
                                               const Kprj_ProParameters* pro,
                                               const char* projectionName, const char* unitsName,
                                               Kerr_Report** err);
/* The record's GeoTIFF raster type (KGTF_RASTER_PIXEL_IS_AREA or _POINT);
 * KGTF_RASTER_PIXEL_IS_AREA, a new record's, for a null record. */
KTIF_API int32_t getRasterSpace(const Kgtf_GeoTIFFParams* params);

/* ---- Image metadata --------------------------------------------------- */

/* The security marking, description, date and time of an image from its
 * private GeoKeys (33000, 33034, 1101, 34001, 34002) into the host's
 * metadata record; *metadata is created when null. Keys that are absent, too
 * short, or stored as numbers instead of text leave their fields as they
 * were; a string field that is set frees the string it held. status becomes
 * "ONLINE" and archived 0. On a failure the record is left as it was. */
KTIF_API void kgtf_DODImageMetadataGet(TIFF* tif, Kmsc_ImageMetadata** metadata, Kerr_Report** err);
/* Key 33010, the value that marks missing data, of any GeoKey value type:
 * 1 when the key is present (*value set when the key holds one number, and
 * value is not null), else 0 with *value untouched. */
KTIF_API int32_t kgtf_NullValueGet(TIFF* tif, float* value, Kerr_Report** err);
/* The vertical reference of the image's heights from VerticalCSTypeGeoKey,
 * VerticalUnitsGeoKey and VerticalCitationGeoKey: a new elevation info in
 * *info (when info is not null); *info is left as it was without a vertical
 * system this library knows. */
KTIF_API void kgtf_GetElevationInfo(TIFF* tif, _kprj_ElevationInfo** info, Kerr_Report** err);

/* Geodetic code lookups. Names compare without regard to case; the first
 * matching table row wins. */
/* The GeogGeodeticDatumGeoKey code of a datum name; -1 for null or unknown. */
KTIF_API int32_t kgtf_GetDatumCode(const char* name);
/* A new heap copy of the datum name (kmsc_HeapFree); null for 32767
 * (user-defined) or an unknown code. */
KTIF_API char* kgtf_GetDatumName(uint16_t code);
/* The GeogEllipsoidGeoKey code of a spheroid name; -1 for null or unknown. */
KTIF_API int32_t kgtf_GetSpheroidCode(const char* name);
/* The table's own constant name, never freed; "" for an unknown code. */
KTIF_API const char* kgtf_GetSpheroidName(uint16_t code);

#ifdef __cplusplus
}
#endif

#endif
