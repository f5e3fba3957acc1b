/* The unit vocabulary of the host and the EPSG factors of its units.
 *
 * Factors are EPSG's (unit_of_measure). Where EPSG defines a unit by an exact
 * ratio, the ratio is written out (us survey foot 1200/3937 m, the degree
 * pi/180 rad), so that the double is the correctly rounded value and not a
 * rounded decimal. Several host names carry the codes of the old GeoTIFF
 * unit list (9004, 9006-9013, 9015); EPSG has since renumbered those units,
 * and the factor is that of the current EPSG unit named in the comment.
 */
#include "kcvt_tables.h"
#include "kcvt.h"
#include "kstr.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr KcvtUnit kUnits[] = {
    // Linear units, to meters.
    {"meters", KCVT_LINEAR, 1.0, 9001, "metre"},
    {"international_feet", KCVT_LINEAR, 0.3048, 9002, "foot"},
    {"us_survey_feet", KCVT_LINEAR, 1200.0 / 3937.0, 9003, "US survey foot"},
    {"feet", KCVT_LINEAR, 1200.0 / 3937.0, 9003, "the host's feet are US survey feet"},
    {"modified_american_feet", KCVT_LINEAR, 12.0004584 / 39.37, 9004,
     "modified American foot (retired EPSG unit, 12.0004584/39.37 m)"},
    {"clarke_feet", KCVT_LINEAR, 0.3047972654, 9005, "Clarke's foot"},
    {"indian_feet", KCVT_LINEAR, 0.30479951024814694, 9006, "Indian foot (EPSG 9080)"},
    {"link", KCVT_LINEAR, 0.201168, 9007, "link (EPSG 9098)"},
    {"benoit_link", KCVT_LINEAR, 0.201167824, 9008, "British link (Benoit 1895 A) (EPSG 9053)"},
    {"sears_link", KCVT_LINEAR, 0.2011676512155263, 9009, "British link (Sears 1922) (EPSG 9043)"},
    {"benoit_chain", KCVT_LINEAR, 20.1167824, 9010, "British chain (Benoit 1895 A) (EPSG 9052)"},
    {"benoit_chains", KCVT_LINEAR, 20.1167824, 9010, "plural form of benoit_chain"},
    {"sears_chain", KCVT_LINEAR, 20.116765121552632, 9011,
     "British chain (Sears 1922) (EPSG 9042)"},
    {"sears_yard", KCVT_LINEAR, 0.9143984146160287, 9012, "British yard (Sears 1922) (EPSG 9040)"},
    {"indian_yard", KCVT_LINEAR, 0.9143985307444408, 9013, "Indian yard (EPSG 9084)"},
    {"fathom", KCVT_LINEAR, 1.8288, 9014, "fathom"},
    {"nautical_mile_international", KCVT_LINEAR, 1852.0, 9015, "nautical mile (EPSG 9030)"},
    {"benoit_chain_1895_a", KCVT_LINEAR, 20.1167824, 9052, "British chain (Benoit 1895 A)"},
    {"benoit_chain_1895_b", KCVT_LINEAR, 20.116782494375872, 9062, "British chain (Benoit 1895 B)"},
    {"sears_foot", KCVT_LINEAR, 0.3047994715386762, 9041, "British foot (Sears 1922)"},
    {"inches", KCVT_LINEAR, 0.0254, 0, "international inch (not an EPSG unit)"},
    {"centimeters", KCVT_LINEAR, 0.01, 1033, "centimetre"},
    {"millimeters", KCVT_LINEAR, 0.001, 1025, "millimetre"},
    {"kilometers", KCVT_LINEAR, 1000.0, 9036, "kilometre"},
    {"miles", KCVT_LINEAR, 1609.344, 9093, "statute (international) mile"},
    // Angular units, to radians.
    {"radians", KCVT_ANGULAR, 1.0, 9101, "radian"},
    {"dd", KCVT_ANGULAR, kPi / 180.0, 9102, "degree (decimal degrees)"},
    {"dm", KCVT_ANGULAR, kPi / 10800.0, 9103, "arc-minute"},
    {"ds", KCVT_ANGULAR, kPi / 648000.0, 9104, "arc-second"},
    {"grad", KCVT_ANGULAR, kPi / 200.0, 9105, "grad"},
    {"degrees", KCVT_ANGULAR, kPi / 180.0, 9102, "alias of dd"},
    // Units the host does not describe.
    {"other", KCVT_OTHER, 1.0, 0, "other units: convert only to themselves"},
};

}  // namespace

const KcvtUnit* kcvtUnitTable(size_t* count) {
  if (count != nullptr) *count = sizeof(kUnits) / sizeof(kUnits[0]);
  return kUnits;
}

const KcvtUnit* kcvtFindUnit(const char* name) {
  if (name == nullptr) return nullptr;
  for (const KcvtUnit& unit : kUnits)
    if (kstr_Eqic(unit.name, name)) return &unit;
  return nullptr;
}
