// The header listing: the first directory's entries as stored, every value
// of each, then the GeoKeys as libgeotiff lists them, on the host's text
// output. Classic TIFF and BigTIFF share the line format; BigTIFF entries
// are read in their own layout.
//
// Choices of this library:
// - The TIFF is opened read-only for the GeoKey part: a listing never writes.
// - Entries of a type without a value size (type 0) print their marker for
//   at most 100 values, then "...": a hostile count would print forever.
// - NUL characters of ASCII values are left out: the text output is C text,
//   and a terminator would cut the rest of the line.
#include <tiffio.h>

#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "dir_entry.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "tiff_diagnostics.h"

namespace {

struct TagName {
  uint32_t tag;
  const char* name;
};

// Searched in order; 301 stands twice and its first name wins. The last row
// cannot match a 16-bit tag.
constexpr TagName kTagNames[] = {
    {258, "BitsPerSample"},
    {320, "ColorMap"},
    {301, "ColorResponseCurves"},
    {300, "ColorResponseUnit"},
    {259, "Compression"},
    {291, "GrayResponseCurve"},
    {290, "GrayResponseUnit"},
    {257, "ImageLength"},
    {256, "ImageWidth"},
    {254, "NewSubfileType"},
    {262, "PhotoInterp"},
    {284, "PlanarConfiguration"},
    {317, "Predictor"},
    {296, "ResolutionUnit"},
    {278, "RowsPerStrip"},
    {277, "SamplesPerPixel"},
    {279, "StripByteCounts"},
    {273, "StripOffsets"},
    {282, "XResolution"},
    {283, "YResolution"},
    {315, "Artist"},
    {306, "DateTime"},
    {316, "HostComputer"},
    {270, "ImageDescription"},
    {271, "Make"},
    {272, "Model"},
    {305, "Software"},
    {292, "Group3Options"},
    {293, "Group4Options"},
    {269, "DocumentName"},
    {285, "PageName"},
    {297, "PageNumber"},
    {286, "XPosition"},
    {287, "YPosition"},
    {265, "CellLength"},
    {264, "CellWidth"},
    {266, "FillOrder"},
    {289, "FreeByteCounts"},
    {288, "FreeOffsets"},
    {281, "MaxSampleValue"},
    {280, "MinSampleValue"},
    {255, "SubfileType"},
    {274, "Orientation"},
    {263, "Threshholding"},
    {338, "ExtraSamples"},
    {339, "SampleFormat"},
    {33432, "Copyright"},
    {318, "Whitepoint"},
    {319, "PrimaryChromaticities"},
    {336, "DotRange"},
    {321, "HalftoneHints"},
    {333, "InkNames"},
    {332, "InkSet"},
    {334, "NumberOfInks"},
    {532, "ReferenceBlackWhite"},
    {341, "SMaxSampleValue"},
    {340, "SMinSampleValue"},
    {337, "TargetPrinter"},
    {325, "TileByteCounts"},
    {323, "TileLength"},
    {324, "TileOffsets"},
    {322, "TileWidth"},
    {301, "TransferFunction"},
    {342, "TransferRange"},
    {529, "YCbCrCoefficients"},
    {531, "YCbCrPositioning"},
    {530, "YCbCrSubSampling"},
    {512, "JPEGProcessingMode"},
    {513, "JPEGInterchangeFormat"},
    {514, "JPEGInterchangeFormatLength"},
    {515, "JPEGRestartInterval"},
    {517, "JPEGLosslessPredictors"},
    {518, "JPEGPointTransform"},
    {519, "JPEGQTables"},
    {520, "JPEGDCTables"},
    {521, "JPEGACTables"},
    {326, "BadFaxLines"},
    {327, "CleanFaxData"},
    {328, "ConsecutiveBadFaxLines"},
    {330, "SubIFD"},
    {33550, "ModelPixelScale"},
    {34264, "ModelTransformation"},
    {33922, "ModelTiepoint"},
    {34735, "GeoKeyDirectory"},
    {34736, "GeoDoubleParams"},
    {34737, "GeoAsciiParams"},
    {65537, "QualityCompresion"},
    {0, "Unknown"},
};

const char* tagName(uint32_t tag) {
  for (const TagName& row : kTagNames)
    if (row.tag == tag || row.tag == 0) return row.name;
  return "Unknown";
}

constexpr uint64_t kMaxMarkers = 100;

// One value in the listing's format, each followed by a blank but ASCII
// characters; nothing for types 13 and above.
void valueAppend(std::string& line, uint32_t type, const uint8_t* at, int32_t byteOrder) {
  char text[64] = "";
  switch (type) {
    case TIFF_BYTE:
    case TIFF_UNDEFINED:
      std::snprintf(text, sizeof text, "%hu ", static_cast<unsigned short>(at[0]));
      break;
    case TIFF_ASCII:
      if (at[0] != '\0') line += static_cast<char>(at[0]);  // terminators would end the line
      return;
    case TIFF_SHORT:
      std::snprintf(text, sizeof text, "%hu ", ktif_Shortval(at, byteOrder));
      break;
    case TIFF_LONG:
      std::snprintf(text, sizeof text, "%lu ",
                    static_cast<unsigned long>(ktif_Longval(at, byteOrder)));
      break;
    case TIFF_RATIONAL:
      std::snprintf(text, sizeof text, "%g ",
                    double(ktif_Longval(at, byteOrder)) / double(ktif_Longval(at + 4, byteOrder)));
      break;
    case TIFF_SBYTE:
      std::snprintf(text, sizeof text, "%hd ", static_cast<short>(static_cast<int8_t>(at[0])));
      break;
    case TIFF_SSHORT:
      std::snprintf(text, sizeof text, "%hd ", static_cast<short>(ktif_Shortval(at, byteOrder)));
      break;
    case TIFF_SLONG:
      std::snprintf(text, sizeof text, "%ld ",
                    static_cast<long>(int32_t(ktif_Longval(at, byteOrder))));
      break;
    case TIFF_SRATIONAL:
      std::snprintf(text, sizeof text, "%g ",
                    double(int32_t(ktif_Longval(at, byteOrder))) /
                        double(int32_t(ktif_Longval(at + 4, byteOrder))));
      break;
    case TIFF_FLOAT: {
      uint32_t bits = ktif_Longval(at, byteOrder);
      float value = 0;
      std::memcpy(&value, &bits, sizeof value);
      std::snprintf(text, sizeof text, "%g ", double(value));
      break;
    }
    case TIFF_DOUBLE:
      std::snprintf(text, sizeof text, "%g ", ktif_Doubleval(at, byteOrder));
      break;
    default:
      return;
  }
  line += text;
}

// The line of one entry, its data in the file's byte order.
std::string entryLine(const TIFFDirEntry& entry, const uint8_t* data, int32_t byteOrder) {
  char name[64];
  const char* known = tagName(entry.tag);
  if (std::strcmp(known, "Unknown") == 0)
    std::snprintf(name, sizeof name, "Unknown (Tag %6u) = ", entry.tag);
  else
    std::snprintf(name, sizeof name, "%20s = ", known);
  std::string line = name;
  const bool ascii = entry.type == TIFF_ASCII;
  const bool braces = entry.count > 1 && !ascii;
  if (braces) line += "{ ";
  if (ascii) line += '"';
  const uint64_t size = dirTypeSize(entry.type);
  if (entry.type == 0) {
    for (uint64_t i = 0; i < entry.count && i < kMaxMarkers; ++i) line += "<no type> ";
    if (entry.count > kMaxMarkers) line += "...";
  } else if (size != 0) {
    for (uint64_t i = 0; i < entry.count; ++i)
      valueAppend(line, entry.type, data + size * i, byteOrder);
  }
  if (braces) line += "}";
  if (ascii) line += '"';
  return line + "\n";
}

int gtifPrintMethod(char* text, void*) {
  kfio_Printf("%s", text);
  return 0;
}

// libgeotiff's listing of the keys, when the TIFF opens.
void geoKeysPrint(const char* path) {
  Kerr_Report* ignored = nullptr;
  TIFF* tiff = ktifTiffOpen(path, "r", &ignored);
  kerr_DeleteErrorReportEx(&ignored);
  if (tiff == nullptr) return;
  if (GTIF* gtif = ktifGtifNew(tiff)) {
    kfio_Printf("\n");
    GTIFPrint(gtif, gtifPrintMethod, nullptr);
    GTIFFree(gtif);
  }
  ktifTiffClose(tiff);
}

}  // namespace

extern "C" void ktif_HeaderPrint(const char* path, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    KerrFrame frame("ktif_HeaderPrint", err);
    if (path == nullptr) return frame.fail(__LINE__, "Args");
    if (!kfio_FileExists(path)) return frame.fail(__LINE__, "File \"%s\" does not exist", path);
    Kfio_File* file = kfio_Open(path, "rb", frame.slot());
    if (file == nullptr) return frame.fail(__LINE__, "Error opening file %s", path);
    kfio_Printf("Header Information for %s:\n", path);
    DirFile dir;
    std::vector<TIFFDirEntry> entries;
    bool ok = dirFileRead(file, &dir, frame, "Error reading the header");
    if (ok) kfio_Printf(dir.byteOrder == 0 ? "Byte Order is Motorola\n" : "Byte Order is Intel\n");
    ok = ok && dirEntriesRead(dir, 0, entries, frame, "Error reading the directory");
    for (const TIFFDirEntry& entry : entries) {
      void* data = nullptr;
      if (!ktif_TIFFDirEntryDataReadRawData(file, &entry, &data, frame.slot())) {
        frame.report(__LINE__, KERR_NOTICE, "ktif_TIFFDirEntryDataRead failed");
        frame.showAndDrop();
        continue;
      }
      kfio_Printf("%s", entryLine(entry, static_cast<const uint8_t*>(data), dir.byteOrder).c_str());
      kmsc_HeapFree(data);
    }
    kfio_Close(&file, nullptr);
    if (ok) geoKeysPrint(path);
  });
}
