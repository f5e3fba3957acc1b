// Conversion methods and host projection numbers: one table read in both
// directions, so that what is exported is exactly what is imported back.
#include "epsg_internal.h"

#include <proj_experimental.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "kstr.h"

namespace kepsg {

void fail(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  throw std::runtime_error(text);
}

bool nearlyEqual(double a, double b, double tolerance) {
  return std::fabs(a - b) <= tolerance * std::fmax(1.0, std::fmax(std::fabs(a), std::fabs(b)));
}

namespace {

constexpr double kPi = 3.14159265358979323846;
// Parameters that must agree (a fixed value, two parameters sharing a slot)
// are compared in SI units with this relative tolerance: far below any
// surveyed value, far above double rounding.
constexpr double kTolerance = 1e-12;

constexpr int32_t kUtm = 1;
constexpr int32_t kStatePlane = 2;
constexpr int32_t kTransverseMercator = 9;
constexpr int32_t kEquidistantConic = 8;
constexpr int32_t kObliqueMercator = 20;
constexpr int32_t kGaussKruger = 36;

enum class Kind { Angle, Length, Scale };

struct ParameterName {
  int code;
  const char* name;
  Kind kind;
};

// The EPSG parameters the table uses.
const ParameterName kParameterNames[] = {
    {8801, "Latitude of natural origin", Kind::Angle},
    {8802, "Longitude of natural origin", Kind::Angle},
    {8805, "Scale factor at natural origin", Kind::Scale},
    {8806, "False easting", Kind::Length},
    {8807, "False northing", Kind::Length},
    {8811, "Latitude of projection centre", Kind::Angle},
    {8812, "Longitude of projection centre", Kind::Angle},
    {8813, "Azimuth of initial line", Kind::Angle},
    {8814, "Angle from Rectified to Skew Grid", Kind::Angle},
    {8815, "Scale factor on initial line", Kind::Scale},
    {8816, "Easting at projection centre", Kind::Length},
    {8817, "Northing at projection centre", Kind::Length},
    {8821, "Latitude of false origin", Kind::Angle},
    {8822, "Longitude of false origin", Kind::Angle},
    {8823, "Latitude of 1st standard parallel", Kind::Angle},
    {8824, "Latitude of 2nd standard parallel", Kind::Angle},
    {8826, "Easting at false origin", Kind::Length},
    {8827, "Northing at false origin", Kind::Length},
    {8832, "Latitude of standard parallel", Kind::Angle},
    {8833, "Longitude of origin", Kind::Angle},
};

const ParameterName* parameterName(int code) {
  for (const ParameterName& entry : kParameterNames)
    if (entry.code == code) return &entry;
  return nullptr;
}

// A parameter held in a slot. Two links to one slot mean the host keeps one
// value for both, so they must agree.
struct Link {
  int slot;
  int parameter;  // 0 ends the list
};
// A parameter the host form implies: when present it must have this value.
struct Fixed {
  int parameter;  // 0 ends the list
  double value;
  bool written;  // also given when building the conversion
};
// A slot value the host form implies.
struct Constant {
  int slot;  // 0 ends the list
  double value;
};

struct Method {
  int code;          // EPSG method code; 0 for the methods PROJ knows by name only
  const char* name;  // PROJ's name
  int32_t number;
  bool sphereOnly;   // spherical formulas: the same projection only on a sphere
  bool falseOrigin;  // false easting and northing at the natural origin (Hotine A)
  Link links[7];
  Fixed fixed[1];
  Constant constants[2];
};

// The first row of a number is the form a host record is imported as.
// clang-format off
#define CENTRE {{4, 8802}, {5, 8801}, {6, 8806}, {7, 8807}}
#define MERIDIAN {{4, 8802}, {6, 8806}, {7, 8807}}
#define CONIC {{2, 8823}, {3, 8824}, {4, 8822}, {5, 8821}, {6, 8826}, {7, 8827}}
#define HOTINE(east, north) \
  {{2, 8815}, {3, 8813}, {3, 8814}, {4, 8812}, {5, 8811}, {6, east}, {7, north}}

const Method kMethods[] = {
    {9807, "Transverse Mercator", 9, false, false,
     {{2, 8805}, {4, 8802}, {5, 8801}, {6, 8806}, {7, 8807}}, {}, {}},
    {9822, "Albers Equal Area", 3, false, false, CONIC, {}, {}},
    {9802, "Lambert Conic Conformal (2SP)", 4, false, false, CONIC, {}, {}},
    {9805, "Mercator (variant B)", 5, false, false,
     {{4, 8802}, {5, 8823}, {6, 8806}, {7, 8807}}, {}, {}},
    {1026, "Mercator (Spherical)", 5, true, false, MERIDIAN, {{8801, 0.0, false}}, {}},
    {1024, "Popular Visualisation Pseudo Mercator", 5, true, false, MERIDIAN,
     {{8801, 0.0, false}}, {}},
    {9829, "Polar Stereographic (variant B)", 6, false, false,
     {{4, 8833}, {5, 8832}, {6, 8806}, {7, 8807}}, {}, {}},
    // With scale 1 at the pole the pole is the latitude of true scale.
    {9810, "Polar Stereographic (variant A)", 6, false, false, CENTRE, {{8805, 1.0, false}}, {}},
    {9818, "American Polyconic", 7, false, false, CENTRE, {}, {}},
    {0, "Equidistant Conic", 8, false, false,
     {{2, 8823}, {3, 8824}, {4, 8802}, {5, 8801}, {6, 8806}, {7, 8807}}, {}, {{8, 1.0}}},
    {1119, "Equidistant Conic", 8, false, false, CONIC, {}, {{8, 1.0}}},
    {0, "Stereographic", 10, false, false, CENTRE, {{8805, 1.0, true}}, {}},
    {9820, "Lambert Azimuthal Equal Area", 11, false, false, CENTRE, {}, {}},
    {1027, "Lambert Azimuthal Equal Area (Spherical)", 11, true, false, CENTRE, {}, {}},
    {9821, "Lambert Azimuthal Equal Area (Spherical)", 11, true, false, CENTRE, {}, {}},
    {1125, "Azimuthal Equidistant", 12, false, false, CENTRE, {}, {}},
    {0, "Azimuthal Equidistant", 12, false, false, CENTRE, {}, {}},
    {0, "Gnomonic", 13, false, false, CENTRE, {}, {}},
    {9840, "Orthographic", 14, false, false, CENTRE, {}, {}},
    {0, "Sinusoidal", 16, false, false, MERIDIAN, {}, {}},
    {1028, "Equidistant Cylindrical", 17, false, false,
     {{4, 8802}, {5, 8823}, {6, 8806}, {7, 8807}}, {{8801, 0.0, false}}, {}},
    {1029, "Equidistant Cylindrical (Spherical)", 17, true, false,
     {{4, 8802}, {5, 8823}, {6, 8806}, {7, 8807}}, {{8801, 0.0, false}}, {}},
    {9823, "Equidistant Cylindrical (Spherical)", 17, true, false,
     {{4, 8802}, {5, 8823}, {6, 8806}, {7, 8807}}, {{8801, 0.0, false}}, {}},
    {0, "Miller Cylindrical", 18, false, false, MERIDIAN, {}, {}},
    {0, "Van Der Grinten", 19, false, false, MERIDIAN, {}, {}},
    {9815, "Hotine Oblique Mercator (variant B)", 20, false, false, HOTINE(8816, 8817), {},
     {{12, 1.0}}},
    {9812, "Hotine Oblique Mercator (variant A)", 20, false, true, HOTINE(8806, 8807), {},
     {{12, 1.0}}},
    // Hotine variant B with azimuth and grid angle of 90 degrees: the same
    // projection, and PROJ computes both alike.
    {9814, "Swiss Oblique Mercator", 20, false, false,
     {{2, 8815}, {4, 8812}, {5, 8811}, {6, 8816}, {7, 8817}}, {}, {{3, kPi / 2}, {12, 1.0}}},
    {0, "Robinson", 24, false, false, MERIDIAN, {}, {}},
    {9835, "Lambert Cylindrical Equal Area", 55, false, false,
     {{4, 8802}, {5, 8823}, {6, 8806}, {7, 8807}}, {}, {}},
    {9834, "Lambert Cylindrical Equal Area (Spherical)", 55, true, false,
     {{4, 8802}, {5, 8823}, {6, 8806}, {7, 8807}}, {}, {}},
    {0, "Mollweide", 28, false, false, MERIDIAN, {}, {}},
};
// clang-format on

#undef CENTRE
#undef MERIDIAN
#undef CONIC
#undef HOTINE

// Variants PROJ converts exactly into a form of the table.
struct Equivalent {
  int from;
  int to;
};
const Equivalent kEquivalents[] = {
    {9804, 9805},  // Mercator variant A to B
    {9801, 9802},  // Lambert Conic Conformal 1SP to 2SP
};

struct Parameter {
  int code;
  std::string name;
  double value;  // SI: radians, meters, unity
  std::string category;
  bool used = false;
};

std::vector<Parameter> readParameters(PJ_CONTEXT* context, const PJ* conversion) {
  std::vector<Parameter> out;
  int count = proj_coordoperation_get_param_count(context, conversion);
  for (int i = 0; i < count; ++i) {
    const char *name = nullptr, *auth = nullptr, *code = nullptr, *category = nullptr;
    double value = 0.0, factor = 0.0;
    if (!proj_coordoperation_get_param(context, conversion, i, &name, &auth, &code, &value, nullptr,
                                       &factor, nullptr, nullptr, nullptr, &category))
      fail("PROJ could not read parameter %d of the conversion", i);
    Parameter p;
    p.code =
        auth != nullptr && code != nullptr && std::strcmp(auth, "EPSG") == 0 ? std::atoi(code) : 0;
    p.name = name ? name : "?";
    // Unitless parameters come with a factor of 0 or 1; keep their value.
    p.value = factor > 0.0 ? value * factor : value;
    p.category = category ? category : "";
    out.push_back(p);
  }
  return out;
}

Parameter* findParameter(std::vector<Parameter>& parameters, int code) {
  for (Parameter& p : parameters)
    if (p.code == code) return &p;
  return nullptr;
}

const char* expectedCategory(Kind kind) {
  switch (kind) {
    case Kind::Angle:
      return "angular";
    case Kind::Length:
      return "linear";
    case Kind::Scale:
      return "scale";
  }
  return "";
}

const Method* methodByConversion(int code, const char* name) {
  for (const Method& method : kMethods) {
    if (code != 0 && method.code == code) return &method;
    if (code == 0 && method.code == 0 && name != nullptr && kstr_Eqic(method.name, name))
      return &method;
  }
  return nullptr;
}

const Method* methodByNumber(int32_t number) {
  for (const Method& method : kMethods)
    if (method.number == number) return &method;
  return nullptr;
}

// The u coordinate of the projection centre of a Hotine Oblique Mercator,
// the offset between variant A (false easting and northing at the natural
// origin) and variant B (at the centre): EPSG Guidance Note 7-2.
double hotineCentreU(double a, double b, double scale, double alpha, double lonc, double latc) {
  double e2 = 1.0 - (b * b) / (a * a);
  double sinLat = std::sin(latc), cosLat = std::cos(latc);
  double sign = latc < 0.0 ? -1.0 : 1.0;
  double bb = std::sqrt(1.0 + e2 * std::pow(cosLat, 4) / (1.0 - e2));
  double aa = a * bb * scale * std::sqrt(1.0 - e2) / (1.0 - e2 * sinLat * sinLat);
  double d = bb * std::sqrt(1.0 - e2) / (cosLat * std::sqrt(1.0 - e2 * sinLat * sinLat));
  double d2 = std::fmax(d * d, 1.0);
  double f = d + std::sqrt(d2 - 1.0) * sign;
  double g = (f - 1.0 / f) / 2;
  double gamma0 = std::asin(std::sin(alpha) / d);
  double lon0 = lonc - std::asin(g * std::tan(gamma0)) / bb;
  double uc = std::fabs(std::cos(alpha)) < 1e-12
                  ? aa * (lonc - lon0)
                  : aa / bb * std::atan(std::sqrt(d2 - 1.0) / std::cos(alpha)) * sign;
  if (!std::isfinite(uc)) fail("Hotine Oblique Mercator centre offset is not finite");
  return uc;
}

// Variant A to the host's centre-based form (the grid angle is the azimuth).
void shiftToCentre(HostProjection& host, double a, double b) {
  double* p = host.parameters;
  double uc = hotineCentreU(a, b, p[2], p[3], p[4], p[5]);
  p[6] += uc * std::sin(p[3]);
  p[7] += uc * std::cos(p[3]);
}

// Methods a record is also looked up as.
const Method kMercatorA = {9804, "Mercator (variant A)", 5, false, false, {}, {}, {}};
const Method kLambert1SP = {9801, "Lambert Conic Conformal (1SP)", 4, false, false, {}, {}, {}};
const Method kHotineA = {9812, "Hotine Oblique Mercator (variant A)", 20, false, true, {}, {}, {}};

// A conversion of `method` with EPSG parameters in SI units.
PjPtr buildConversion(PJ_CONTEXT* context, const Method& method,
                      const std::vector<std::pair<int, double>>& values) {
  std::vector<PJ_PARAM_DESCRIPTION> descriptions;
  std::vector<std::string> codes(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const ParameterName* known = parameterName(values[i].first);
    codes[i] = std::to_string(values[i].first);
    PJ_PARAM_DESCRIPTION d{};
    d.name = known->name;
    d.auth_name = "EPSG";
    d.code = codes[i].c_str();
    d.value = values[i].second;
    d.unit_conv_factor = 1.0;
    switch (known->kind) {
      case Kind::Angle:
        d.unit_name = "radian", d.unit_type = PJ_UT_ANGULAR;
        break;
      case Kind::Length:
        d.unit_name = "metre", d.unit_type = PJ_UT_LINEAR;
        break;
      case Kind::Scale:
        d.unit_name = "unity", d.unit_type = PJ_UT_SCALE;
        break;
    }
    descriptions.push_back(d);
  }
  std::string methodCode = std::to_string(method.code);
  PjPtr conversion(proj_create_conversion(
      context, "unnamed", nullptr, nullptr, method.name, method.code ? "EPSG" : nullptr,
      method.code ? methodCode.c_str() : nullptr, static_cast<int>(descriptions.size()),
      descriptions.data()));
  if (!conversion) fail("PROJ could not build a %s conversion", method.name);
  return conversion;
}

bool isUtmConversion(const PJ* conversion, int32_t& zone, bool& north) {
  const char* auth = proj_get_id_auth_name(conversion, 0);
  const char* code = proj_get_id_code(conversion, 0);
  if (auth == nullptr || code == nullptr || std::strcmp(auth, "EPSG") != 0) return false;
  int value = std::atoi(code);
  north = value >= 16001 && value <= 16060;
  bool south = value >= 16101 && value <= 16160;
  zone = north ? value - 16000 : value - 16100;
  return north || south;
}

}  // namespace

HostProjection conversionToHost(PJ_CONTEXT* context, const PJ* conversion, double a, double b,
                                bool zones) {
  const char *methodName = nullptr, *methodAuth = nullptr, *methodCodeText = nullptr;
  if (!proj_coordoperation_get_method_info(context, conversion, &methodName, &methodAuth,
                                           &methodCodeText))
    fail("PROJ gives no method for the conversion");
  int methodCode =
      methodAuth != nullptr && methodCodeText != nullptr && std::strcmp(methodAuth, "EPSG") == 0
          ? std::atoi(methodCodeText)
          : 0;
  const char* shown = methodName ? methodName : "?";

  for (const Equivalent& equivalent : kEquivalents) {
    if (equivalent.from != methodCode) continue;
    PjPtr converted(
        proj_convert_conversion_to_other_method(context, conversion, equivalent.to, nullptr));
    if (!converted) fail("%s has no exact equivalent the host can hold", shown);
    return conversionToHost(context, converted.get(), a, b, zones);
  }

  const Method* method = methodByConversion(methodCode, methodName);
  if (method == nullptr) fail("The host has no projection for the method %s", shown);
  if (method->sphereOnly && !nearlyEqual(a, b, kTolerance))
    fail("%s uses spherical formulas on an ellipsoid; the host has no exact equivalent", shown);

  HostProjection host;
  host.number = method->number;
  int32_t zone = 0;
  bool north = false;
  if (zones && method->number == kTransverseMercator && isUtmConversion(conversion, zone, north)) {
    host.number = kUtm;
    host.zone = zone;
    host.parameters[3] = north ? 1.0 : -1.0;
    return host;
  }

  std::vector<Parameter> parameters = readParameters(context, conversion);
  bool set[KPRJ_PARAMETER_COUNT] = {};
  for (const Link& link : method->links) {
    if (link.parameter == 0) break;
    const ParameterName* known = parameterName(link.parameter);
    Parameter* p = findParameter(parameters, link.parameter);
    if (p == nullptr) fail("%s lacks the parameter %s", shown, known->name);
    if (p->category != expectedCategory(known->kind))
      fail("%s: parameter %s has %s units", shown, p->name.c_str(), p->category.c_str());
    if (set[link.slot] && !nearlyEqual(host.parameters[link.slot], p->value, kTolerance))
      fail("%s: the host keeps one value for %s and the parameter before it, which differ", shown,
           p->name.c_str());
    host.parameters[link.slot] = p->value;
    set[link.slot] = true;
    p->used = true;
  }
  for (const Fixed& fixed : method->fixed) {
    if (fixed.parameter == 0) break;
    Parameter* p = findParameter(parameters, fixed.parameter);
    if (p == nullptr) continue;
    if (!nearlyEqual(p->value, fixed.value, kTolerance))
      fail("%s: the host holds %s only as %g, not %.12g", shown, p->name.c_str(), fixed.value,
           p->value);
    p->used = true;
  }
  for (const Parameter& p : parameters)
    if (!p.used) fail("%s: the host record has no slot for %s", shown, p.name.c_str());
  for (const Constant& constant : method->constants) {
    if (constant.slot == 0) break;
    host.parameters[constant.slot] = constant.value;
  }
  if (method->falseOrigin) shiftToCentre(host, a, b);
  return host;
}

PjPtr otherMethod(PJ_CONTEXT* context, const PJ* conversion, double a, double b) {
  const char *name = nullptr, *auth = nullptr, *code = nullptr;
  if (!proj_coordoperation_get_method_info(context, conversion, &name, &auth, &code) ||
      auth == nullptr || code == nullptr || std::strcmp(auth, "EPSG") != 0)
    return nullptr;
  int method = std::atoi(code);
  if (method != 9805 && method != 9802 && method != 9815) return nullptr;
  std::vector<Parameter> parameters = readParameters(context, conversion);
  auto value = [&](int parameter) {
    Parameter* p = findParameter(parameters, parameter);
    if (p == nullptr) fail("%s lacks parameter %d", name, parameter);
    return p->value;
  };
  double e2 = 1.0 - (b * b) / (a * a);
  double e = std::sqrt(e2);
  // EPSG Guidance Note 7-2: m and t of the Mercator and Lambert formulas.
  auto m = [&](double lat) {
    return std::cos(lat) / std::sqrt(1.0 - e2 * std::pow(std::sin(lat), 2));
  };
  auto t = [&](double lat) {
    return std::tan(kPi / 4 - lat / 2) /
           std::pow((1.0 - e * std::sin(lat)) / (1.0 + e * std::sin(lat)), e / 2);
  };
  if (method == 9805) {
    // The scale at the equator of the Mercator true at the standard parallel.
    return buildConversion(context, kMercatorA,
                           {{8801, 0.0},
                            {8802, value(8802)},
                            {8805, m(value(8823))},
                            {8806, value(8806)},
                            {8807, value(8807)}});
  }
  if (method == 9815) {
    double alpha = value(8813);
    if (!nearlyEqual(alpha, value(8814), kTolerance)) return nullptr;
    double uc = hotineCentreU(a, b, value(8815), alpha, value(8812), value(8811));
    return buildConversion(context, kHotineA,
                           {{8811, value(8811)},
                            {8812, value(8812)},
                            {8813, alpha},
                            {8814, alpha},
                            {8815, value(8815)},
                            {8806, value(8816) - uc * std::sin(alpha)},
                            {8807, value(8817) - uc * std::cos(alpha)}});
  }
  // The one-parallel form has its origin where the cone touches (sin = n),
  // scaled to the two-parallel cone, with the northing moved from the false
  // origin to that parallel.
  double lat1 = value(8823), lat2 = value(8824), latF = value(8821);
  double n = nearlyEqual(lat1, lat2, kTolerance) ? std::sin(lat1)
                                                 : (std::log(m(lat1)) - std::log(m(lat2))) /
                                                       (std::log(t(lat1)) - std::log(t(lat2)));
  if (!(std::fabs(n) > 1e-12) || !std::isfinite(n)) return nullptr;
  double f = m(lat1) / (n * std::pow(t(lat1), n));
  double lat0 = std::asin(n);
  double k0 = f * n * std::pow(t(lat0), n) / m(lat0);
  double northing = value(8827) + a * f * (std::pow(t(latF), n) - std::pow(t(lat0), n));
  return buildConversion(
      context, kLambert1SP,
      {{8801, lat0}, {8802, value(8822)}, {8805, k0}, {8806, value(8826)}, {8807, northing}});
}

PjPtr hostToConversion(PJ_CONTEXT* context, const Kprj_ProParameters& pro) {
  if (pro.parameters == nullptr) fail("The projection record has no parameters");
  double p[KPRJ_PARAMETER_COUNT];
  for (int i = 0; i < KPRJ_PARAMETER_COUNT; ++i) p[i] = pro.parameters[i];
  int32_t number = pro.number;
  const char* shown = pro.name ? pro.name : "?";

  if (number == kUtm) {
    if (pro.zone < 1 || pro.zone > 60) fail("UTM zone %d does not exist", pro.zone);
    if (!std::isfinite(p[3])) fail("UTM record with a hemisphere that is not a number");
    PjPtr conversion(proj_create_conversion_utm(context, pro.zone, p[3] >= 0.0 ? 1 : 0));
    if (!conversion) fail("PROJ could not build UTM zone %d", pro.zone);
    return conversion;
  }
  if (number == kStatePlane)
    fail("State Plane records are coded from the host's zone tables, not through EPSG");
  if (number == kGaussKruger) {
    number = kTransverseMercator;
    p[2] = 1.0;
  }
  if (number == kObliqueMercator && !(p[12] > 0.0))
    fail("An Oblique Mercator given by two points on its centre line has no EPSG form");
  if (number == kEquidistantConic && !(p[8] > 0.0)) p[3] = p[2];

  const Method* method = methodByNumber(number);
  if (method == nullptr) fail("The host projection %s (%d) has no EPSG form", shown, number);

  std::vector<std::pair<int, double>> values;
  for (const Link& link : method->links) {
    if (link.parameter == 0) break;
    if (!std::isfinite(p[link.slot]))
      fail("%s: parameter %s is not a number", shown, parameterName(link.parameter)->name);
    values.emplace_back(link.parameter, p[link.slot]);
  }
  for (const Fixed& fixed : method->fixed)
    if (fixed.parameter != 0 && fixed.written) values.emplace_back(fixed.parameter, fixed.value);
  return buildConversion(context, *method, values);
}

}  // namespace kepsg
