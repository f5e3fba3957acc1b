// Georeferencing of images without GeoTIFF tags: the world file beside the
// image, and a transform made from the resolution and orientation tags.

#include "world_file.h"

#include <cmath>

#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kprj.h"
#include "kstr.h"
#include "kwff.h"
#include "kxfr.h"

int readWorldFile(Ktif_File* handle, Kerr_Report** err) {
  static const char* kLabel = "readWorldFile";
  KerrFrame frame(kLabel, err);
  if (!handle) return frame.fail(__LINE__, "Args"), 0;

  char* name = kwff_FileNameFind(handle->path);
  if (!name) return 1;

  Kprj_MapInfo* info = nullptr;
  Kxfr_XForm* xform = nullptr;
  Kerr_Report* readReport = nullptr;
  int ok = 1;
  // A world file that cannot be read is ignored: the image simply has no
  // georeferencing.
  if (kwff_Read(name, handle->width, handle->height, &info, &xform, &readReport)) {
    if (!xform && info) {
      const Kprj_Coordinate& ul = info->upperLeftCenter;
      const Kprj_Coordinate& lr = info->lowerRightCenter;
      double dx = lr.x > ul.x ? std::fabs(info->pixelSize.x) : -std::fabs(info->pixelSize.x);
      double dy = lr.y > ul.y ? std::fabs(info->pixelSize.y) : -std::fabs(info->pixelSize.y);
      xform = kxfr_XFormCreateUsingCoeffs(dx, 0, ul.x, 0, dy, ul.y, frame.slot());
      if (!xform) {
        frame.calleeFailed(__LINE__, "kxfr_XFormCreateUsingCoeffs");
        ok = 0;
      }
    }
    if (ok && xform) {
      kgtf_GeoTIFFParamsGeoreferencingSet(handle->geoParams, xform, info ? info->proName : nullptr,
                                          info ? info->units : nullptr, frame.slot());
      if (frame.hasReport()) {
        frame.calleeFailed(__LINE__, "kgtf_GeoTIFFParamsGeoreferencingSet");
        ok = 0;
      }
    }
  }
  kmsc_HeapFree(name);
  kxfr_XFormFree(&xform, nullptr);
  kprj_MapInfoFree(&info, nullptr);
  kerr_DeleteErrorReportEx(&readReport);
  return ok;
}

int writeWorldFile(Ktif_File* handle, Kerr_Report** err) {
  static const char* kLabel = "writeWorldFile";
  KerrFrame frame(kLabel, err);
  if (!handle) return frame.fail(__LINE__, "Args"), 0;
  char* name = kwff_FileNameCreate(handle->path);
  if (!name) return frame.fail(__LINE__, "kwff_FileNameCreate failed"), 0;
  Kxfr_XForm* xform = nullptr;
  int ok = 1;
  kgtf_GeoTIFFParamsGeoreferencingGet(handle->geoParams, &xform, nullptr, nullptr, frame.slot());
  if (frame.hasReport()) {
    frame.calleeFailed(__LINE__, "kgtf_GeoTIFFParamsGeoreferencingGet");
    ok = 0;
  } else if (xform && !kwff_Write(name, nullptr, xform, frame.slot())) {
    frame.calleeFailed(__LINE__, "kwff_Write");
    ok = 0;
  }
  kmsc_HeapFree(name);
  kxfr_XFormFree(&xform, nullptr);
  return ok;
}

void ktif_MapInformationFromResolutionAndOrientationGet(Ktif_File* handle, Kxfr_XForm** xform,
                                                        char** projectionName, char** unitsName,
                                                        Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "ktif_MapInformationFromResolutionAndOrientationGet";
    KerrFrame frame(kLabel, err);
    if (!handle || !xform || !projectionName || !unitsName) return frame.fail(__LINE__, "Args");

    // The TIFF defaults say nothing about the image's placement.
    if (handle->xResolution == 1.0f && handle->yResolution == 1.0f && handle->resolutionUnit == 1 &&
        handle->orientation == 1)
      return;

    auto failed = [&] {
      kmsc_HeapFree(*projectionName);
      kmsc_HeapFree(*unitsName);
      *projectionName = nullptr;
      *unitsName = nullptr;
    };

    *unitsName = nullptr;
    *projectionName = kstr_Duplicate(kprj_ProjectionNameUnknown());
    if (!*projectionName) return frame.calleeFailed(__LINE__, "kstr_Duplicate"), failed();

    const char* units = nullptr;
    switch (handle->resolutionUnit) {
      case 1:
        units = kprj_UnitsNameOther();
        break;
      case 2:
        units = "inches";
        break;
      case 3:
        units = "centimeters";
        break;
      default:
        return frame.fail(__LINE__, "Bad resolution unit value"), failed();
    }
    *unitsName = kstr_Duplicate(units);
    if (!*unitsName) return frame.calleeFailed(__LINE__, "kstr_Duplicate"), failed();

    const double rx = handle->xResolution == 0.0f ? 1.0 : handle->xResolution;
    const double ry = handle->yResolution == 0.0f ? 1.0 : handle->yResolution;
    const double w = handle->width;
    const double h = handle->height;
    double k[6];  // a, b, c, d, e, f
    switch (handle->orientation) {
      case 1:
        k[0] = rx, k[1] = 0, k[2] = -0.5, k[3] = 0, k[4] = -ry, k[5] = h - 0.5;
        break;
      case 2:
        k[0] = -rx, k[1] = 0, k[2] = w - 0.5, k[3] = 0, k[4] = -ry, k[5] = h - 0.5;
        break;
      case 3:
        k[0] = -rx, k[1] = 0, k[2] = w - 0.5, k[3] = 0, k[4] = ry, k[5] = -0.5;
        break;
      case 4:
        k[0] = rx, k[1] = 0, k[2] = -0.5, k[3] = 0, k[4] = ry, k[5] = -0.5;
        break;
      case 5:
        k[0] = 0, k[1] = -ry, k[2] = w - 0.5, k[3] = rx, k[4] = 0, k[5] = -0.5;
        break;
      case 6:
        k[0] = 0, k[1] = -ry, k[2] = w - 0.5, k[3] = -rx, k[4] = 0, k[5] = h - 0.5;
        break;
      case 7:
        k[0] = 0, k[1] = ry, k[2] = -0.5, k[3] = -rx, k[4] = 0, k[5] = h - 0.5;
        break;
      case 8:
        k[0] = 0, k[1] = ry, k[2] = -0.5, k[3] = rx, k[4] = 0, k[5] = -0.5;
        break;
      default:
        return frame.fail(__LINE__, "Bad orientation value"), failed();
    }
    Kxfr_XForm* made =
        kxfr_XFormCreateUsingCoeffs(k[0], k[1], k[2], k[3], k[4], k[5], frame.slot());
    if (!made) return frame.calleeFailed(__LINE__, "kxfr_XFormCreateUsingCoeffs"), failed();
    *xform = made;
  });
}
