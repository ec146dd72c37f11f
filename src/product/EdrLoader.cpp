#include "product/EdrLoader.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <new>

#include "product/EdrLabel.h"
#include "util/Errors.h"
#include "util/Numbers.h"
#include "util/WinOps.h"

namespace quelmar {

namespace {

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

// What a load that stopped with an error leaves: no image, no rows counted and no framelets, so
// that no reader can index outside the (empty) image. The label lines read so far and the
// label-derived fields already set stay as they are.
void LeaveWithoutImage(LoadedProduct& product) {
  product.Rows.Clear();
  product.RowCount = 0;
  product.FrameletCount = 0;
}

void RequireNotNegative(const std::string& path, const char* keyword, int32_t value) {
  if (value < 0) {
    throw RangeError("The label of " + Quoted(path) + " gives a negative " + keyword + ": " +
                     FormatInt(value) + ".");
  }
}

// Reads the image rows that follow the label area into product.Rows and returns how many were
// read. The image is allocated once, with no more rows than the file can hold, so that a label
// promising absurd sizes cannot claim memory the file does not back; a file shorter than
// promised gives the rows it has.
int32_t ReadImageRows(const std::string& path, int64_t labelBytes, int32_t labelRecords,
                      int32_t lines, int32_t width, LoadedProduct& product, UserPort& port) {
  const int64_t labelArea = static_cast<int64_t>(labelRecords) * width;
  if (labelArea > std::numeric_limits<int32_t>::max()) {
    throw RangeError("Cannot read the image of " + Quoted(path) +
                     ": its label area LABEL_RECORDS x LINE_SAMPLES (" + FormatInt(labelRecords) +
                     " x " + FormatInt(width) + ") exceeds " +
                     FormatInt(std::numeric_limits<int32_t>::max()) + " bytes.");
  }
  if (labelArea == 0) {
    throw RangeError("Cannot read the image of " + Quoted(path) +
                     ": its label area is empty (LABEL_RECORDS x LINE_SAMPLES is " +
                     FormatInt(labelRecords) + " x " + FormatInt(width) + ").");
  }
  if (labelBytes > labelArea) {
    throw FileError("Cannot read the image of " + Quoted(path) + ": its label text (" +
                    FormatInt(labelBytes) + " bytes) is longer than its label area of " +
                    "LABEL_RECORDS x LINE_SAMPLES = " + FormatInt(labelArea) +
                    " bytes, so the image rows would be read out of the label.");
  }

  std::ifstream in = OpenProductFile(path);
  in.seekg(0, std::ios::end);
  const int64_t size = static_cast<int64_t>(in.tellg());
  if (!in || size < 0) {
    throw FileError("Cannot read the image of " + Quoted(path) + ": its size cannot be had.");
  }
  if (size < labelArea) {
    throw FileError("Cannot read the image of " + Quoted(path) + ": the file ends inside its " +
                    "label area (" + FormatInt(size) + " of " + FormatInt(labelArea) + " bytes).");
  }
  in.seekg(labelArea, std::ios::beg);

  // A partial last row counts, so that it is met and reported rather than silently dropped.
  const int64_t rowsInFile = (size - labelArea + width - 1) / width;
  const int32_t rowsToHold = static_cast<int32_t>(std::min<int64_t>(lines, rowsInFile));
  product.RowCount = 0;
  product.Rows.Allocate(rowsToHold, width);

  // The rows lie one after the other in the image block, as in the file: one read puts them all
  // straight into their places (a read per row would cost a pass through the stream's buffer).
  const int64_t wanted = int64_t{rowsToHold} * width;
  int64_t got = 0;
  if (wanted > 0) {
    in.read(reinterpret_cast<char*>(product.Rows.Row(0)), static_cast<std::streamsize>(wanted));
    got = in.gcount();
    if (in.bad()) {
      throw FileError("Cannot read the image of " + Quoted(path) + ": read error in image row " +
                      FormatInt(got / width + 1) + ".");
    }
  }
  const int32_t read = static_cast<int32_t>(got / width);
  if (got % width != 0) {
    throw FileError("Cannot read the image of " + Quoted(path) +
                    ": the file ends inside image row " + FormatInt(read + 1) + " of " +
                    FormatInt(lines) + " (" + FormatInt(got % width) + " of " + FormatInt(width) +
                    " bytes).");
  }
  if (read == lines && in.peek() != std::char_traits<char>::eof()) {
    port.AppendLine("Note: data found beyond end of " + FormatInt(lines) + " expected image rows.");
  }
  return read;
}

void ReportImage(const LoadedProduct& product, int32_t labelRecords, int32_t width,
                 UserPort& port) {
  port.AppendLine("Read: " + FormatInt(labelRecords) + " header + " + FormatInt(product.RowCount) +
                  " image rows");
  const std::string layout = " (" + FormatInt(product.FrameletCount) + " framelets, each " +
                             FormatInt(product.FrameletHeight) + " rows high x " +
                             FormatInt(width) + " samples wide";
  if (product.BandCount == 1) {
    port.AppendLine(layout + " at " + product.BandWavelengths[0] + " nm)");
    return;
  }
  port.AppendLine(layout + " with " + FormatInt(product.BandCount) + " bands)");
  port.AppendLine("Wavebands (nm) listed in header:");
  std::string bands;
  for (int32_t k = 1; k <= product.BandCount && k <= 7; ++k) {
    bands += " " + FormatInt(k) + ": " + product.BandWavelengths[static_cast<size_t>(k - 1)] + "  ";
  }
  port.AppendLine(bands);
}

LoadOutcome LoadSteps(const std::string& path, LoadedProduct& product, UserPort& port,
                      const std::function<void(int32_t)>& prepareFields) {
  const LabelReadResult label = ReadLabelLines(path, product.HeaderLines);
  if (!label.endFound) {
    port.AppendLine("Unable to find text header");
    // The previous product's label-derived fields stay; its row count goes with its rows.
    product.Rows.Clear();
    product.RowCount = 0;
    return LoadOutcome::NoHeader;
  }

  product.ProductId = product.LabelKeywordValue("PRODUCT_ID");
  bool recognised = false;
  product.BandCount = BandCountOfProductId(product.ProductId, recognised);
  if (!recognised) {
    port.AppendLine(
        "CAUTION: valid WAC EDR product not recognized (file name should end in \"ME\", \"CE\", "
        "\"UE\" or \"VE\")");
  }

  const int32_t listed = ReadBandWavelengths(product.HeaderLines, product.BandWavelengths);
  if (listed != product.BandCount) {
    port.AppendLine("Caution: " + FormatInt(product.BandCount) + " bands expected; " +
                    FormatInt(listed) + " wavelengths listed in header");
  }

  if (prepareFields) prepareFields(product.BandCount);

  const int32_t labelRecords = StringToInteger(product.LabelKeywordValue("LABEL_RECORDS"), port);
  const int32_t lines = StringToInteger(product.LabelKeywordValue("LINES"), port);
  const int32_t width = StringToInteger(product.LabelKeywordValue("LINE_SAMPLES"), port);
  const std::string framesText = product.LabelKeywordValue("LRO:NFRAMES");
  const int32_t frames = framesText.empty() ? 1 : StringToInteger(framesText, port);
  RequireNotNegative(path, "LABEL_RECORDS", labelRecords);
  RequireNotNegative(path, "LINES", lines);
  RequireNotNegative(path, "LINE_SAMPLES", width);
  RequireNotNegative(path, "LRO:NFRAMES", frames);
  if (frames == 0) {
    throw RangeError("Cannot divide the image of " + Quoted(path) +
                     " into framelets: LRO:NFRAMES is 0.");
  }
  product.FrameletHeight = lines / frames;

  const std::string sampleBits = product.LabelKeywordValue("SAMPLE_BITS");
  if (sampleBits != "8") {
    product.Rows.Clear();
    product.RowCount = 0;
    port.AppendLine("Unable to display meaningful image: data is " + sampleBits + " bits");
    port.AppendLine("");
    return LoadOutcome::NoImageData;
  }

  const int32_t read =
      ReadImageRows(path, label.labelBytes, labelRecords, lines, width, product, port);
  product.RowCount = read;
  if (read != lines) {
    port.AppendLine("Note: " + FormatInt(lines) + " image rows expected, but not found.");
  }
  if (product.FrameletHeight == 0) {
    throw RangeError("Cannot divide the image of " + Quoted(path) +
                     " into framelets: the framelet height is 0 (LINES " + FormatInt(lines) +
                     ", LRO:NFRAMES " + FormatInt(frames) + ").");
  }
  product.FrameletCount = product.RowCount / product.FrameletHeight;

  ReportImage(product, labelRecords, width, port);
  port.AppendLine("");
  return LoadOutcome::ImageRead;
}

}  // namespace

LoadOutcome LoadEdrProduct(const std::string& path, LoadedProduct& product, UserPort& port,
                           const std::function<void(int32_t bandCount)>& prepareFields) {
  BusyCursor busy(port);
  port.AppendLine("Loading: " + path);
  product.HeaderLines.clear();
  try {
    return LoadSteps(path, product, port, prepareFields);
  } catch (const std::bad_alloc&) {
    LeaveWithoutImage(product);
    throw RangeError("Not enough memory to load " + Quoted(path) + ".");
  } catch (...) {
    LeaveWithoutImage(product);
    throw;
  }
}

void HeaderCommand(const LoadedProduct& product, UserPort& port) {
  for (const std::string& line : product.HeaderLines) port.AppendLine(line);
  port.AppendLine("");
}

}  // namespace quelmar
