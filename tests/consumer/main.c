/* A host program built against an installed ktiflib: it sees only the public
 * C headers and the installed libraries. Prints "WIDTH x HEIGHT" of the image
 * named on the command line. */
#include <stdio.h>
#include <string.h>

#include "kerr.h"
#include "kgtf.h"
#include "kmsc.h"
#include "ktif.h"

static int reportRoundTrip(void) {
  Kerr_Report* cause = kerr_CreateErrorReport("consumer_Inner", 1, KERR_WARNING, NULL, "inner");
  Kerr_Report* report =
      kerr_CreateErrorReport("consumer_Outer", 2, KERR_ERROR, cause, "%s", "outer");
  char* text = kerr_ReportFormat(report, 0);
  int ok = kerr_ReportChainLength(report) == 2 && text != NULL && strstr(text, "inner") != NULL;
  kmsc_HeapFree(text);
  kerr_DeleteErrorReportEx(&report);
  return ok && report == NULL;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: ktif-consumer IMAGE\n");
    return 2;
  }
  if (!reportRoundTrip()) {
    fprintf(stderr, "ktif-consumer: report round trip failed\n");
    return 1;
  }
  Kerr_Report* err = NULL;
  Ktif_File* handle = ktif_Open(argv[1], "r", &err);
  if (handle == NULL) {
    kerr_PrintErrorReport(err);
    kerr_DeleteErrorReportEx(&err);
    return 1;
  }
  printf("%d x %d\n", (int)handle->width, (int)handle->height);
  ktif_Close(handle, &err);
  if (err != NULL) {
    kerr_PrintErrorReport(err);
    kerr_DeleteErrorReportEx(&err);
    return 1;
  }
  return 0;
}
