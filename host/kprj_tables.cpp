// The constant tables of kprj: spheroids, datums, vertical datums, projection
// names and State Plane zones, with their lookups. Axes and codes come from
// the EPSG registry; names are the toolkit's own.
#include "kprj.h"
#include "kerr_guard.h"
#include "kstr.h"

namespace {

// Order matters: lookups take the first match, and kprj_SpheroidByAxes names
// a spheroid after the first row with its axes (so "WGS 84" comes before
// "GEM 10C", "Airy Modified 1849" before "Modified Airy"). Rows: name, EPSG
// ellipsoid, semi-major and semi-minor axis in meters (b = a(1 - 1/rf) where
// the registry gives the inverse flattening), unspecified datum on it, and the
// registry's name where it differs.
// clang-format off
const Kprj_SpheroidEntry kSpheroids[] = {
    {"Airy", 7001, 6377563.396, 6356256.909237285, 6001},  // Airy 1830
    {"Airy Modified 1849", 7002, 6377340.189, 6356034.447938534, 6002},
    {"Australian National", 7003, 6378160.0, 6356774.719195305, 6003},  // Australian National Spheroid
    {"Bessel", 7004, 6377397.155, 6356078.962818189, 6004},  // Bessel 1841
    // The registry gives these axes in German legal metres; converted.
    {"Bessel (Namibia)", 7046, 6377483.865280419, 6356165.383245807, 6006},  // Bessel Namibia (GLM)
    {"Clarke 1866", 7008, 6378206.4, 6356583.8, 6008},
    {"Clarke 1880 IGN", 7011, 6378249.2, 6356515.0, 6011},  // Clarke 1880 (IGN)
    {"Clarke 1880", 7012, 6378249.145, 6356514.8695497755, 6012},  // Clarke 1880 (RGS)
    {"Everest", 7015, 6377276.345, 6356075.41314024, 6015},  // Everest 1830 (1937 Adjustment)
    {"Everest (Sabah & Sarawak)", 7016, 6377298.556, 6356097.550300896, 6016},  // Everest 1830 (1967 Definition)
    {"Modified Everest", 7018, 6377304.063, 6356103.038993155, 6018},  // Everest 1830 Modified
    {"GRS 1980", 7019, 6378137.0, 6356752.314140356, 6019},
    {"Helmert", 7020, 6378200.0, 6356818.169627891, 6020},  // Helmert 1906
    {"Indonesian 1974", 7021, 6378160.0, 6356774.50408554, 6021},  // Indonesian National Spheroid
    {"International 1909", 7022, 6378388.0, 6356911.9461279465, 6022},  // International 1924
    {"Krasovsky", 7024, 6378245.0, 6356863.018773047, 6024},  // Krassowsky 1940
    // The registry has no ellipsoid named WGS 66; NWL 9D is the same figure.
    {"WGS 66", 7025, 6378145.0, 6356759.769488684, 6025},  // NWL 9D
    {"WGS 72", 7043, 6378135.0, 6356750.520016094, 6043},
    {"WGS 84", 7030, 6378137.0, 6356752.314245179, 6030},
    // 7035 is deprecated in the registry but still the code of this sphere.
    {"Sphere", 7035, 6371000.0, 6371000.0, 6035},
    {"Modified Airy", 7002, 6377340.189, 6356034.447938534, 6002},  // Airy Modified 1849
    {"Clarke 1880 Benoit", 7010, 6378300.789, 6356566.435, 6010},  // Clarke 1880 (Benoit)
    {"Clarke 1880 Arc", 7013, 6378249.145, 6356514.966398753, 6013},  // Clarke 1880 (Arc)
    {"Clarke 1880 SGA", 7014, 6378249.2, 6356514.996941779, 6014},  // Clarke 1880 (SGA 1922)
    // The registry dropped International 1967 (7023); GRS 1967 is its successor.
    {"New International 1967", 7036, 6378160.0, 6356774.516090714, 6036},  // GRS 1967
    {"NWL 9D", 7025, 6378145.0, 6356759.769488684, 6025},
    // The registry folded NWL 10D (7026) into WGS 72, the same figure.
    {"NWL 10D", 7043, 6378135.0, 6356750.520016094, 6043},  // WGS 72
    {"Plessis 1817", 7027, 6376523.0, 6355862.933255573, 6027},
    {"Struve 1860", 7028, 6378298.3, 6356657.142669561, 6028},
    {"War Office", 7029, 6378300.0, 6356751.689189189, 6029},
    {"GEM 10C", 7031, 6378137.0, 6356752.314245179, 6031},
    {"OSU 86F", 7032, 6378136.2, 6356751.516927429, 6032},  // OSU86F
    {"OSU 91A", 7033, 6378136.3, 6356751.616592146, 6033},  // OSU91A
    // The SAD69 figure; the registry has no unspecified datum on it.
    {"South American 1969", 7050, 6378160.0, 6356774.719195305, 0},  // GRS 1967 Modified
};
// clang-format on

// Datums with their EPSG code and the spheroid they sit on, as the GeoTIFF
// tables pair them. A spheroid name used as a datum name is not listed here:
// it stands for the unspecified datum on that spheroid (kSpheroids).
const Kprj_DatumEntry kDatums[] = {
    {"IRENET95", 6173, "GRS 1980"},
    {"Adindan", 6201, "Clarke 1880"},
    {"Australian Geodetic 1966", 6202, "Australian National"},
    {"Australian Geodetic 1984", 6203, "Australian National"},
    {"Ain el Abd 1970 (Saudi Arabia)", 6204, "International 1909"},
    {"Afgooye", 6205, "Krasovsky"},
    {"Arc 1950", 6209, "Clarke 1880"},
    {"Arc 1960", 6210, "Clarke 1880"},
    {"Djakarta (Batavia)", 6211, "Bessel"},
    {"Bermuda 1957", 6216, "Clarke 1866"},
    {"Bogota Observatory", 6218, "International 1909"},
    {"Bukit Rimpah", 6219, "Bessel"},
    {"Campo Inchauspe", 6221, "International 1909"},
    {"Cape", 6222, "Clarke 1880"},
    {"Carthage", 6223, "Clarke 1880"},
    {"Chua Astro", 6224, "International 1909"},
    {"Corrego Alegre", 6225, "International 1909"},
    {"Old Egyptian 1907", 6229, "Helmert"},
    {"European 1950", 6230, "International 1909"},
    {"Hu-Tzu-Shan", 6236, "International 1909"},
    {"Indian 1954", 6239, "Everest"},
    {"Indian 1975", 6240, "Everest"},
    {"Kandawala", 6244, "Everest"},
    {"Kertau 1948", 6245, "Modified Everest"},
    {"Leigon", 6250, "Clarke 1880"},
    {"Liberia 1964", 6251, "Clarke 1880"},
    {"Luzon", 6253, "Clarke 1866"},
    {"Herat North", 6255, "International 1909"},
    {"Mahe 1971", 6256, "Clarke 1880"},
    {"Merchich", 6261, "Clarke 1880"},
    {"Massawa", 6262, "Bessel"},
    {"Minna (Cameroon)", 6263, "Clarke 1880"},
    {"M'Poraloko", 6266, "Clarke 1880"},
    {"NAD27", 6267, "Clarke 1866"},
    {"Narwan (Saudi Arabia)", 6270, "Clarke 1880"},
    {"Naparima BWI", 6271, "International 1909"},
    {"Geodetic Datum 1949", 6272, "International 1909"},
    {"NZGD2000 (NTv2)", 6167, "GRS 1980"},
    {"Pointe Noire 1948", 6282, "Clarke 1880"},
    {"Qatar National", 6285, "International 1909"},
    {"Qornoq", 6287, "International 1909"},
    // 6291, the older code of this datum, is deprecated in favour of 6618 on
    // the GRS 1967 Modified figure ("South American 1969").
    {"SAD69", 6618, "South American 1969"},
    {"Sapper Hill 1943", 6292, "International 1909"},
    {"Schwarzeck", 6293, "Bessel (Namibia)"},
    {"Tananarive Observatory 1925", 6297, "International 1909"},
    {"Timbalai 1948", 6298, "Everest (Sabah & Sarawak)"},
    {"Ireland 1965", 6299, "Airy Modified 1849"},
    {"Tokyo", 6301, "Bessel"},
    {"Yacare", 6309, "International 1909"},
    {"Zanderij", 6311, "International 1909"},
    {"WGS 72", 6322, "WGS 72"},
    {"WGS 84", 6326, "WGS 84"},
    {"HARN", 6152, "GRS 1980"},
    {"NAD83", 6269, "GRS 1980"},
    {"PSAD56", 6248, "International 1909"},
    {"Ord. Survey G. Britain 1936", 6277, "Airy"},
    {"GDA94", 6283, "GRS 1980"},
    {"Pulkovo 1942", 6284, "Krasovsky"},
    // A record whose datum is deliberately left open.
    {"Undefined", 0, nullptr},
};

const Kprj_DatumEntry kVerticalDatums[] = {
    {"NGVD29 (CONTUS)", 5102, nullptr},
    {"NAVD 88 (CONTUS) (GEOID99)", 5103, nullptr},
    {"World Wide 15-Minute Geoid Height (EGM96)", 5171, nullptr},
};

const char* const kProjectionNames[] = {
    "Geographic (Lat/Lon)",
    "UTM",
    "State Plane",
    "Albers Conical Equal Area",
    "Lambert Conformal Conic",
    "Mercator",
    "Polar Stereographic",
    "Polyconic",
    "Equidistant Conic",
    "Transverse Mercator",
    "Stereographic",
    "Lambert Azimuthal Equal-area",
    "Azimuthal Equidistant",
    "Gnomonic",
    "Orthographic",
    "General Vertical Near-side Perspective",
    "Sinusoidal",
    "Equirectangular",
    "Miller Cylindrical",
    "Van der Grinten I",
    "Oblique Mercator (Hotine)",
    "Space Oblique Mercator",
    "Modified Transverse Mercator",
    "EOSAT SOM",
    "Robinson",
    "Space Oblique Mercator (Formats A & B)",
    "Alaska Conformal",
    "Interrupted Goode Homolosine",
    "Mollweide",
    "Interrupted Mollweide",
    "Hammer",
    "Wagner IV",
    "Wagner VII",
    "Oblated Equal Area",
    "Plate Carree",
    "Equidistant Cylindrical",
    "Gauss Kruger",
};
constexpr int32_t kProjectionNameCount = sizeof(kProjectionNames) / sizeof(kProjectionNames[0]);
// Numbers above the main block are sparse.
constexpr int32_t kCylindricalEqualAreaNumber = 55;
const char* const kCylindricalEqualAreaName = "Cylindrical Equal Area";

// One row per zone of the GeoTIFF State Plane table, with the NADs it is
// defined on there. Names from the registry's projected systems
// ("NAD83 / Alabama East"), the NAD83 name preferred.
const Kprj_SPEntry kStatePlaneZones[] = {
    {-101, 101, "Alabama East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-102, 102, "Alabama West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-201, 201, "Arizona East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-202, 202, "Arizona Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-203, 203, "Arizona West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-301, 301, "Arkansas North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-302, 302, "Arkansas South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-401, 401, "California zone 1", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-402, 402, "California zone 2", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-403, 403, "California zone 3", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-404, 404, "California zone 4", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-405, 405, "California zone 5", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-406, 406, "California zone 6", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-407, 407, "California zone VII", KPRJ_NAD27},
    {-501, 501, "Colorado North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-502, 502, "Colorado Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-503, 503, "Colorado South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-600, 600, "Connecticut", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-700, 700, "Delaware", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-901, 901, "Florida East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-902, 902, "Florida West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-903, 903, "Florida North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1001, 1001, "Georgia East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1002, 1002, "Georgia West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1101, 1101, "Idaho East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1102, 1102, "Idaho Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1103, 1103, "Idaho West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1201, 1201, "Illinois East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1202, 1202, "Illinois West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1301, 1301, "Indiana East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1302, 1302, "Indiana West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1401, 1401, "Iowa North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1402, 1402, "Iowa South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1501, 1501, "Kansas North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1502, 1502, "Kansas South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1600, 1600, "Kentucky Single Zone", KPRJ_NAD83},
    {-1601, 1601, "Kentucky North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1602, 1602, "Kentucky South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1701, 1701, "Louisiana North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1702, 1702, "Louisiana South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1801, 1801, "Maine East", KPRJ_NAD27 | KPRJ_NAD83},
    {-1802, 1802, "Maine West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-1900, 1900, "Maryland", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2001, 2001, "Massachusetts Mainland", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2002, 2002, "Massachusetts Island", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2111, 2111, "Michigan North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2112, 2112, "Michigan Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2113, 2113, "Michigan South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2201, 2201, "Minnesota North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2202, 2202, "Minnesota Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2203, 2203, "Minnesota South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2301, 2301, "Mississippi East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2302, 2302, "Mississippi West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2401, 2401, "Missouri East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2402, 2402, "Missouri Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2403, 2403, "Missouri West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2500, 2500, "Montana", KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2501, 2501, "Montana North", KPRJ_NAD27},
    {-2502, 2502, "Montana Central", KPRJ_NAD27},
    {-2503, 2503, "Montana South", KPRJ_NAD27},
    {-2600, 2600, "Nebraska", KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2601, 2601, "Nebraska North", KPRJ_NAD27},
    {-2602, 2602, "Nebraska South", KPRJ_NAD27},
    {-2701, 2701, "Nevada East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2702, 2702, "Nevada Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2703, 2703, "Nevada West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2800, 2800, "New Hampshire", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-2900, 2900, "New Jersey", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3001, 3001, "New Mexico East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3002, 3002, "New Mexico Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3003, 3003, "New Mexico West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3101, 3101, "New York East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3102, 3102, "New York Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3103, 3103, "New York West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3104, 3104, "New York Long Island", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3200, 3200, "North Carolina", KPRJ_NAD27 | KPRJ_NAD83},
    {-3301, 3301, "North Dakota North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3302, 3302, "North Dakota South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3401, 3401, "Ohio North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3402, 3402, "Ohio South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3501, 3501, "Oklahoma North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3502, 3502, "Oklahoma South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3601, 3601, "Oregon North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3602, 3602, "Oregon South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3701, 3701, "Pennsylvania North", KPRJ_NAD27 | KPRJ_NAD83},
    {-3702, 3702, "Pennsylvania South", KPRJ_NAD27 | KPRJ_NAD83},
    {-3800, 3800, "Rhode Island", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-3900, 3900, "South Carolina", KPRJ_NAD83},
    {-3901, 3901, "South Carolina North", KPRJ_NAD27},
    {-3902, 3902, "South Carolina South", KPRJ_NAD27},
    {-4001, 4001, "South Dakota North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4002, 4002, "South Dakota South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4100, 4100, "Tennessee", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4201, 4201, "Texas North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4202, 4202, "Texas North Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4203, 4203, "Texas Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4204, 4204, "Texas South Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4205, 4205, "Texas South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4301, 4301, "Utah North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4302, 4302, "Utah Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4303, 4303, "Utah South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4400, 4400, "Vermont", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4501, 4501, "Virginia North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4502, 4502, "Virginia South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4601, 4601, "Washington North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4602, 4602, "Washington South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4701, 4701, "West Virginia North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4702, 4702, "West Virginia South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4801, 4801, "Wisconsin North", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4802, 4802, "Wisconsin Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4803, 4803, "Wisconsin South", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4901, 4901, "Wyoming East", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4902, 4902, "Wyoming East Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4903, 4903, "Wyoming West Central", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-4904, 4904, "Wyoming West", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-5001, 5001, "Alaska zone 1", KPRJ_NAD27 | KPRJ_NAD83},
    {-5002, 5002, "Alaska zone 2", KPRJ_NAD27 | KPRJ_NAD83},
    {-5003, 5003, "Alaska zone 3", KPRJ_NAD27 | KPRJ_NAD83},
    {-5004, 5004, "Alaska zone 4", KPRJ_NAD27 | KPRJ_NAD83},
    {-5005, 5005, "Alaska zone 5", KPRJ_NAD27 | KPRJ_NAD83},
    {-5006, 5006, "Alaska zone 6", KPRJ_NAD27 | KPRJ_NAD83},
    {-5007, 5007, "Alaska zone 7", KPRJ_NAD27 | KPRJ_NAD83},
    {-5008, 5008, "Alaska zone 8", KPRJ_NAD27 | KPRJ_NAD83},
    {-5009, 5009, "Alaska zone 9", KPRJ_NAD27 | KPRJ_NAD83},
    {-5010, 5010, "Alaska zone 10", KPRJ_NAD27 | KPRJ_NAD83},
    {-5101, 5101, "Hawaii zone 1", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-5102, 5102, "Hawaii zone 2", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-5103, 5103, "Hawaii zone 3", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-5104, 5104, "Hawaii zone 4", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-5105, 5105, "Hawaii zone 5", KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-5200, 5200, "Puerto Rico & Virgin Is.", KPRJ_NAD83 | KPRJ_NAD83_HARN},
    {-5201, 5201, "Puerto Rico", KPRJ_NAD27},
    {-5202, 5202, "Virgin Islands St Croix", KPRJ_NAD27},
    {-5400, 5400, "Guam", KPRJ_NAD83},
};

template <typename Entry, size_t N>
const Entry* entryByIndex(const Entry (&table)[N], int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= N) return nullptr;
  return &table[index];
}

template <typename Entry, size_t N>
const Entry* entryByName(const Entry (&table)[N], const char* name) {
  if (name == nullptr) return nullptr;
  for (const Entry& entry : table)
    if (kstr_Eqic(entry.name, name)) return &entry;
  return nullptr;
}

}  // namespace

extern "C" {

const Kprj_SpheroidEntry* kprj_SpheroidEntryByName(const char* name) {
  return kerrGuard(__func__, nullptr, nullptr,
                   [&]() -> const Kprj_SpheroidEntry* { return entryByName(kSpheroids, name); });
}

const Kprj_SpheroidEntry* kprj_SpheroidEntryByIndex(int32_t index) {
  return kerrGuard(__func__, nullptr, nullptr,
                   [&]() -> const Kprj_SpheroidEntry* { return entryByIndex(kSpheroids, index); });
}

const Kprj_DatumEntry* kprj_DatumEntryByName(const char* name) {
  return kerrGuard(__func__, nullptr, nullptr,
                   [&]() -> const Kprj_DatumEntry* { return entryByName(kDatums, name); });
}

const Kprj_DatumEntry* kprj_DatumEntryByIndex(int32_t index) {
  return kerrGuard(__func__, nullptr, nullptr,
                   [&]() -> const Kprj_DatumEntry* { return entryByIndex(kDatums, index); });
}

const Kprj_DatumEntry* kprj_VerticalDatumEntryByName(const char* name) {
  return kerrGuard(__func__, nullptr, nullptr,
                   [&]() -> const Kprj_DatumEntry* { return entryByName(kVerticalDatums, name); });
}

const char* kprj_ProjectionNameByNumber(int32_t number) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> const char* {
    if (number >= 0 && number < kProjectionNameCount) return kProjectionNames[number];
    if (number == kCylindricalEqualAreaNumber) return kCylindricalEqualAreaName;
    return nullptr;
  });
}

const Kprj_SPEntry* kprj_SPEntryByIndex(int32_t index) {
  return kerrGuard(__func__, nullptr, nullptr,
                   [&]() -> const Kprj_SPEntry* { return entryByIndex(kStatePlaneZones, index); });
}

}  // extern "C"
