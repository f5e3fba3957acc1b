/* The unit table behind kcvt (internal). */
#ifndef KCVT_TABLES_H
#define KCVT_TABLES_H

#include <stddef.h>
#include <stdint.h>

struct KcvtUnit {
  const char* name;    /* the host's name, matched without regard to case */
  int kind;            /* KCVT_LINEAR, KCVT_ANGULAR or KCVT_OTHER */
  double factor;       /* to meters (linear), radians (angular), 1 (other) */
  int32_t epsg;        /* EPSG unit-of-measure code, 0 when there is none */
  const char* comment; /* what the unit is */
};

/* The whole table and its length. */
const KcvtUnit* kcvtUnitTable(size_t* count);
/* The row of a name (first match in table order), or null. */
const KcvtUnit* kcvtFindUnit(const char* name);

#endif
