/* The host preferences the library reads, with their defaults. Call sites
 * read them through kpmg with these constants, and the command-line tool lists
 * them from this table, so a default is written down once. */
#ifndef KTIF_PREFS_H
#define KTIF_PREFS_H

enum KtifPrefKind { KTIF_PREF_ENUM, KTIF_PREF_NUMBER, KTIF_PREF_BOOLEAN };

struct KtifPreference {
  const char* group;
  const char* key;
  KtifPrefKind kind;
  const char* defaultText; /* enumerations: the default value itself */
  double defaultNumber;    /* numbers and booleans (1 true, 0 false) */
  const char* values;      /* enumerations: the accepted values, "|"-separated */
};

/* Indices into ktifPreferences. */
enum KtifPrefId {
  KTIF_PREF_TFW_ACCESS,
  KTIF_PREF_RB_BLOCK_WIDTH,
  KTIF_PREF_RB_BLOCK_HEIGHT,
  KTIF_PREF_MAX_UNCOMPRESSED_BLK_SIZE,
  KTIF_PREF_GEO_MODEL,
  KTIF_PREF_GEO_ORDER,
  KTIF_PREF_USE_GCPS,
  KTIF_PREF_RP_REPROJTOLERANCE,
  KTIF_PREF_WRITE_CITATION,
  KTIF_PREF_UNIT_OVERRIDES,
  KTIF_PREF_ERR_SUPPRESS,
  KTIF_PREF_CACHE_BUDGET,
  KTIF_PREF_COUNT
};

inline constexpr KtifPreference ktifPreferences[KTIF_PREF_COUNT] = {
    {"tiff", "tfw_access", KTIF_PREF_ENUM, "Read", 0, "Read|Write|Ignore"},
    {"tiff", "rb_block_width", KTIF_PREF_NUMBER, "1280", 1280, nullptr},
    {"tiff", "rb_block_height", KTIF_PREF_NUMBER, "256", 256, nullptr},
    {"tiff", "max_uncompressed_blk_size", KTIF_PREF_NUMBER, "131072", 131072, nullptr},
    {"tiff", "geo_model", KTIF_PREF_ENUM, "Polynomial", 0,
     "Polynomial|Low Order Rubber Sheeting|High Order Rubber Sheeting"},
    {"tiff", "geo_order", KTIF_PREF_NUMBER, "1", 1, nullptr},
    {"tiff", "use_gcps", KTIF_PREF_ENUM, "Yes", 0, "Yes|No"},
    {"rasterprocess", "rp_reprojtolerance", KTIF_PREF_NUMBER, "0.34", 0.34, nullptr},
    {"tiff", "write_citation", KTIF_PREF_BOOLEAN, "true", 1, nullptr},
    {"tiff", "unit_overrides", KTIF_PREF_ENUM, "Read/Write", 0, "Read/Write|Read|Ignore"},
    {"tiff", "err_suppress", KTIF_PREF_ENUM, "Yes", 0, "Yes|No"},
    {"tiff", "cache_budget", KTIF_PREF_NUMBER, "50331648", 50331648, nullptr},
};

#endif
