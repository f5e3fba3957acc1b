/* EPSGTranslator: EPSG codes to host projection records and back (C++).
 *
 * The translator answers from PROJ's EPSG database. One translator owns one
 * PROJ context; it is not shared between threads.
 *
 * exportToEPRJ turns a code into a wide map projection holding a
 * "Kprj_ProParameters" form, the name of its linear (or, for a geographic
 * system, angular) units in the host vocabulary of kcvt ("meters",
 * "us_survey_feet", "dd", ...), and an elevation record when a vertical code
 * is given. Projected systems are mapped only when the host projection
 * describes them exactly; anything else (an unsupported method, spherical
 * formulas on an ellipsoid, a prime meridian other than Greenwich, a parameter
 * the host record has no slot for) is refused, never approximated.
 *
 * Parameter slots (angles in radians, lengths in meters) by host number:
 *   1 UTM                 zone in the record's zone; 3 hemisphere (+1 N, -1 S)
 *   3 Albers, 4 Lambert Conformal Conic, 8 Equidistant Conic
 *                         2, 3 standard parallels; 4, 5 longitude and latitude
 *                         of the origin; 6, 7 false easting and northing (8:
 *                         slot 8 is 1 with two parallels, 0 with one in slot 2)
 *   5 Mercator            4 central meridian; 5 latitude of true scale; 6, 7
 *   6 Polar Stereographic 4 longitude down from the pole; 5 latitude of true
 *                         scale (its sign names the pole); 6, 7
 *   9 Transverse Mercator 2 scale factor; 4 central meridian; 5 latitude of
 *                         origin; 6, 7
 *   7, 10, 11, 12, 13, 14 (Polyconic, Stereographic, Lambert Azimuthal
 *                         Equal-area, Azimuthal Equidistant, Gnomonic,
 *                         Orthographic) 4, 5 longitude and latitude of the
 *                         centre; 6, 7 (Stereographic: scale 1 at the centre)
 *   17 Equirectangular    4 central meridian; 5 latitude of true scale; 6, 7
 *   16, 18, 19, 24, 28    (Sinusoidal, Miller, Van der Grinten, Robinson,
 *                         Mollweide) 4 central meridian; 6, 7
 *   20 Oblique Mercator   2 scale on the initial line; 3 azimuth of the initial
 *                         line, which is also the rectified grid angle; 4, 5
 *                         longitude and latitude of the projection centre; 6,
 *                         7 easting and northing at the projection centre; 12
 *                         is 1 (azimuth form)
 * Variants with another parameter set (Mercator variant A, Lambert Conic
 * Conformal 1SP, Hotine variant A, Swiss Oblique Mercator) are converted
 * exactly into these. Importing also takes 36 (Gauss Kruger: slots as
 * Transverse Mercator, scale 1).
 *
 * Spheroids and datums get the host's names where the host tables carry the
 * EPSG code (kprj_SpheroidEntryByIndex, kprj_DatumEntryByIndex), otherwise the
 * spheroid is given by its axes (kprj_SpheroidByAxes) and the datum by PROJ's
 * name and EPSG code.
 *
 * importFromEPRJ builds the PROJ system a record describes and has PROJ
 * propose EPSG entries for it (proj_identify, in both axis orders and in the
 * method's other parameter set). A record carries no system name and no axis
 * order, so an entry matches when its datum is the record's (by EPSG code),
 * its units are the record's, and its conversion has exactly the record's
 * host form. Matching entries differ only in name or axis order; one in the
 * host's order (easting first) is preferred, then the lowest code. `projectedOnly` refuses
 * geographic records (a caller after a projected system code). An elevation whose datum has an EPSG
 * code gives the code of the one vertical system of the registry on that datum with the elevation's
 * units and direction; an elevation without one gives the vertical code 0.
 *
 * Every failure throws std::runtime_error with a message naming the code or
 * the record and the reason.
 */
#ifndef EPSG_TRANSLATOR_H
#define EPSG_TRANSLATOR_H

#include <string>

#include "kprj.h"
#include "kprj_legacy.h"
#include "ktxt.h"

struct pj_ctx;

class __attribute__((visibility("default"))) EPSGTranslator {
 public:
  /* Throws std::runtime_error when PROJ cannot give a context. */
  EPSGTranslator();
  ~EPSGTranslator();
  EPSGTranslator(const EPSGTranslator&) = delete;
  EPSGTranslator& operator=(const EPSGTranslator&) = delete;

  /* The wide projection and units of `code`, and the wide elevation of
   * `verticalCode` (released to empty when it is 0). The outputs are replaced
   * only when the whole translation succeeds. */
  void exportToEPRJ(const long& code, const long& verticalCode,
                    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU>& projection,
                    KtxtTextU& units,
                    LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU>& elevation);

  /* The host record of the EPSG conversion `code` (a projection without a
   * coordinate system, as GeoTIFF's ProjectionGeoKey names one) used on an
   * ellipsoid of axes semiMajor >= semiMinor > 0 (meters), which decides the
   * forms that depend on it (Mercator and Lambert variants, Hotine A,
   * spherical methods). Exact as exportToEPRJ is; a UTM zone conversion gives
   * the UTM record. A new narrow record without a spheroid (the caller
   * applies the geodesy of the system it uses the conversion in), owned by
   * the caller (kprj_ProParametersFree). */
  Kprj_ProParameters* exportConversion(long code, double semiMajor, double semiMinor);

  /* The host record of the conversion of a projected system given as PROJ
   * can read it (a PROJ string with +type=crs, WKT, PROJJSON), used on the
   * ellipsoid of axes semiMajor >= semiMinor > 0 (meters): as
   * exportConversion, and refused with the method's name when the host has no
   * exact form for it. */
  Kprj_ProParameters* exportProjectedDefinition(const std::string& definition, double semiMajor,
                                                double semiMinor);
  /* The registry's name of the EPSG coordinate system `code`, and its WKT2
   * (2019, one line) in `wkt`. */
  std::string exportName(long code, std::string& wkt);
  /* The WKT2 (2019, one line) of the system a record (narrow) describes in
   * `unitsName`: on its datum's registry system where there is one, else on
   * a system built from its axes. */
  std::string exportWKT(const Kprj_ProParameters& pro, const std::string& unitsName);
  /* Whether the EPSG coordinate system `code` is deprecated in the registry
   * (false for a code it does not know). */
  bool isDeprecated(long code);
  /* The factor to radians (angular) or meters (linear) of an EPSG unit code,
   * from PROJ's unit database. */
  double exportUnitFactor(long code, bool angular);

  /* The host name ("meters", "us_survey_feet", "dd", ...) of the units of
   * the EPSG geographic, projected or vertical system `code`. */
  std::string exportUnits(long code);
  /* A new narrow spheroid record (kprj_SpheroidFree) with the ellipsoid and
   * datum of the EPSG geodetic datum `code`, or of the datum of the EPSG
   * geographic system `code`: host names where the host tables carry the
   * codes, otherwise the axes and PROJ's datum name with its code. */
  Kprj_Spheroid* exportDatum(long code);
  Kprj_Spheroid* exportGeographicDatum(long code);
  /* The EPSG code of a projection record (wide or narrow) in `units`, and the
   * vertical code of `elevation` (which may be empty). `code` and
   * `verticalCode` are set to 0 first and keep 0 on failure. */
  void importFromEPRJ(const LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU>& projection,
                      const KtxtTextU& units,
                      const LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU>& elevation,
                      long& code, long& verticalCode, bool projectedOnly);

 private:
  pj_ctx* context_;
};

#endif
