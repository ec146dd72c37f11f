#include "SimulatorFiles.h"

#include <fstream>
#include <stdexcept>

#include "SimMath.h"
#include "util/Errors.h"
#include "util/Numbers.h"
#include "util/Paths.h"

namespace quelmar::sim {

namespace {

// The value by which the label says who wrote it; WrittenBySimulator looks for this line.
constexpr const char* kProducerLine = "PRODUCER_ID                    = WACSIM";

// Keywords padded so that every "=" stands in column 32; keys inside the IMAGE object are
// indented by two blanks.
std::string Key(std::string_view key, std::string_view value, bool inObject = false) {
  std::string line = inObject ? "  " : "";
  line += key;
  if (line.size() < 31) line.append(31 - line.size(), ' ');
  line += "= ";
  line += value;
  return line;
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

std::string Padded(int64_t value, size_t digits) {
  std::string text = FormatInt(value);
  if (text.size() < digits) text.insert(0, digits - text.size(), '0');
  return text;
}

std::string InstrumentMode(ProductKind kind) {
  switch (kind) {
    case ProductKind::ME:
      return "BW";
    case ProductKind::VE:
      return "VIS";
    case ProductKind::UE:
      return "UV";
    case ProductKind::CE:
      break;
  }
  return "COLOR";
}

std::string WavelengthList(const SimulatedProduct& p, std::string_view separator) {
  std::string list;
  for (size_t i = 0; i < p.bands.size(); ++i) {
    if (i > 0) list += separator;
    list += p.bands[i].wavelength;
  }
  return list;
}

// What the simulation comment adds for a travel that changes or a sideways drift (nothing for
// the constant travel straight down, so such labels stay as they were).
std::string TravelNote(const SimulatedProduct& p) {
  std::string note;
  // A product described without its framelets (an index line's) has no travels to tell.
  if (p.framelets > 1 && p.frameletY.size() >= static_cast<size_t>(p.framelets) &&
      p.PairTravel(p.framelets - 2) != p.travel)
    note += ", changing linearly to " + FormatFixed(p.PairTravel(p.framelets - 2), 3);
  if (p.drift != 0) note += ", drift " + FormatFixed(p.drift, 3) + " columns per framelet";
  if (!note.empty()) note += "; true travels in " + p.productId + "_travel.txt";
  return note;
}

std::vector<std::string> LabelLinesWith(const SimulatedProduct& p, int32_t labelRecords) {
  const Observation& ob = p.observation;
  std::string filters;
  for (size_t i = 0; i < p.bands.size(); ++i) {
    filters += (i > 0 ? ", " : "") + FormatInt(static_cast<int64_t>(i) + 1);
  }
  // One band: a single value with its unit; several: the list with one unit after it.
  const std::string wavelengths = p.bands.size() == 1 ? p.bands[0].wavelength + " <nm>"
                                                      : "(" + WavelengthList(p, ", ") + ") <nm>";
  return {
      Key("PDS_VERSION_ID", "PDS3"),
      "",
      "/* Synthetic product: a simulated scene, not an observation of the Moon */",
      "",
      "/* FILE FORMAT AND LENGTH */",
      Key("RECORD_TYPE", "FIXED_LENGTH"),
      Key("RECORD_BYTES", FormatInt(p.width)),
      Key("FILE_RECORDS", FormatInt(static_cast<int64_t>(labelRecords) + p.Lines())),
      Key("LABEL_RECORDS", FormatInt(labelRecords)),
      Key("^IMAGE", FormatInt(static_cast<int64_t>(labelRecords) + 1)),
      "",
      "/* DATA IDENTIFICATION */",
      Key("DATA_SET_ID", Quoted("LRO-L-LROC-2-EDR-V1.0")),
      Key("ORIGINAL_PRODUCT_ID", Quoted("sim" + Padded(p.seed, 10))),
      Key("PRODUCT_ID", p.productId),
      Key("MISSION_NAME", Quoted("LUNAR RECONNAISSANCE ORBITER")),
      Key("MISSION_PHASE_NAME", Quoted("SCIENCE MISSION")),
      Key("INSTRUMENT_HOST_NAME", Quoted("LUNAR RECONNAISSANCE ORBITER")),
      Key("INSTRUMENT_HOST_ID", "LRO"),
      Key("INSTRUMENT_NAME", Quoted("LUNAR RECONNAISSANCE ORBITER CAMERA")),
      Key("INSTRUMENT_ID", "LROC"),
      Key("LRO:PREROLL_FRAMES", "0"),
      Key("TARGET_NAME", "MOON"),
      Key("ORBIT_NUMBER", FormatInt(ob.orbit)),
      kProducerLine,
      Key("PRODUCT_CREATION_TIME", TimeText(ob.endMs + 86400000LL * 30).substr(0, 19)),
      Key("PRODUCT_VERSION_ID", Quoted("v1.0")),
      "",
      "/* TIME PARAMETERS */",
      Key("START_TIME", TimeText(ob.startMs)),
      Key("STOP_TIME", TimeText(ob.endMs)),
      "",
      "/* INSTRUMENT AND DETECTOR STATUS */",
      Key("INSTRUMENT_MODE_ID", InstrumentMode(p.kind)),
      Key("LRO:NFRAMES", FormatInt(p.framelets)),
      Key("LRO:INTERFRAME_DELAY", FormatFixed(ob.frameDelayMs / 1000.0L, 3) + " <s>"),
      Key("EXPOSURE_DURATION", "1.000 <ms>"),
      Key("FILTER_NUMBER", p.bands.size() == 1 ? "6" : "(" + filters + ")"),
      Key("CENTER_FILTER_WAVELENGTH", wavelengths),
      "",
      "/* SIMULATION: seed " + FormatInt(p.seed) + ", vertical travel " + FormatFixed(p.travel, 3) +
          " rows per framelet (visible bands; ultraviolet bands " +
          FormatFixed(p.travel / 4.0L, 4) + ")" + TravelNote(p) + " */",
      "",
      Key("OBJECT", "IMAGE"),
      Key("LINES", FormatInt(p.Lines()), true),
      Key("LINE_SAMPLES", FormatInt(p.width), true),
      Key("SAMPLE_TYPE", "UNSIGNED_INTEGER", true),
      Key("SAMPLE_BITS", "8", true),
      Key("SAMPLE_BIT_MASK", "2#11111111#", true),
      Key("END_OBJECT", "IMAGE"),
      "END",
  };
}

size_t LabelBytes(const std::vector<std::string>& lines) {
  size_t n = 0;
  for (const std::string& line : lines) n += line.size() + 2;
  return n;
}

// Fixed-width columns separated by commas; texts in double quotes padded with blanks inside.
class IndexRow {
 public:
  void Text(std::string_view value, size_t width) { Field("\"" + Fit(value, width, false) + "\""); }
  void Number(std::string_view value, size_t width) { Field(Fit(value, width, true)); }
  void Number(double value, int decimals, size_t width) {
    Number(FormatFixed(static_cast<Real>(value), decimals), width);
  }
  // The next field must begin at this 1-based position (a check on the layout below).
  void Expect(size_t position) const {
    if (line_.size() + (line_.empty() ? 1 : 2) != position) {
      throw std::logic_error("index layout: a field is not at position " +
                             std::to_string(position));
    }
  }
  const std::string& Line() const { return line_; }

 private:
  static std::string Fit(std::string_view value, size_t width, bool right) {
    if (value.size() > width) {
      throw std::logic_error("index layout: \"" + std::string(value) + "\" is wider than " +
                             std::to_string(width));
    }
    const std::string pad(width - value.size(), ' ');
    return right ? pad + std::string(value) : std::string(value) + pad;
  }
  void Field(const std::string& text) {
    if (!line_.empty()) line_ += ',';
    line_ += text;
  }
  std::string line_;
};

}  // namespace

std::string TimeText(int64_t ms) {
  const int64_t day = ms / 86400000, inDay = ms % 86400000;
  const CivilDate d = DateOfDay(day);
  return Padded(d.year, 4) + "-" + Padded(d.month, 2) + "-" + Padded(d.day, 2) + "T" +
         Padded(inDay / 3600000, 2) + ":" + Padded(inDay / 60000 % 60, 2) + ":" +
         Padded(inDay / 1000 % 60, 2) + "." + Padded(inDay % 1000, 3);
}

std::vector<std::string> LabelLines(const SimulatedProduct& p) {
  // The record count appears in the label itself: grow it until the label fits.
  int32_t records = 1;
  std::vector<std::string> lines = LabelLinesWith(p, records);
  while (LabelBytes(lines) > static_cast<size_t>(records) * static_cast<size_t>(p.width)) {
    ++records;
    lines = LabelLinesWith(p, records);
  }
  return lines;
}

std::string LabelArea(const SimulatedProduct& p) {
  const std::vector<std::string> lines = LabelLines(p);
  std::string area;
  for (const std::string& line : lines) area += line + "\r\n";
  const size_t records = (area.size() + static_cast<size_t>(p.width) - 1) / p.width;
  area.append(records * static_cast<size_t>(p.width) - area.size(), ' ');
  return area;
}

std::string ProductFileBytes(const SimulatedProduct& p) {
  std::string bytes = LabelArea(p);
  bytes.append(reinterpret_cast<const char*>(p.image.data()), p.image.size());
  return bytes;
}

std::string IndexLine(const SimulatedProduct& p, int32_t labelRecords) {
  const Observation& ob = p.observation;
  Random rng(Hash(p.seed, 0x696E646578ULL, static_cast<uint64_t>(p.kind)));
  const int64_t startDay = ob.startMs / 86400000;
  const CivilDate start = DateOfDay(startDay);
  const int64_t dayOfYear = startDay - DaysSinceYearOne(start.year, 1, 1) + 1;
  const std::string folder = "DATA/EDR/" + Padded(start.year, 4) + Padded(dayOfYear, 3) + "/WAC/";
  // Spacecraft clock: seconds and 65536ths since the mission's epoch, 2001-01-01.
  const auto clock = [](int64_t ms) {
    const int64_t sinceEpoch = ms - DaysSinceYearOne(2001, 1, 1) * 86400000;
    return "1/" + Padded(sinceEpoch / 1000, 10) + ":" + Padded(sinceEpoch % 1000 * 65536 / 1000, 5);
  };

  IndexRow row;
  row.Text("WACSIM_0001", 12);
  row.Text(folder + ProductFileName(p), 40);
  row.Text("sim" + Padded(p.seed, 9), 12);
  row.Text(p.productId, 15);
  row.Text("v1.0", 4);
  row.Text("LRO-L-LROC-2-EDR-V1.0", 21);
  row.Text("SCIENCE MISSION", 30);
  row.Text("LROC", 5);
  row.Text(InstrumentMode(p.kind), 8);
  row.Text("WAC", 3);
  row.Text("EDR", 3);
  row.Text("MOON", 8);
  row.Number(FormatInt(ob.orbit), 5);
  row.Text(clock(ob.startMs), 20);
  row.Text(clock(ob.endMs), 20);
  row.Number(FormatInt(p.framelets), 5);
  row.Number(FormatInt(p.Lines()), 6);
  row.Number(FormatInt(p.width), 5);
  row.Number(FormatInt(labelRecords > 0 ? labelRecords
                                        : static_cast<int64_t>(LabelArea(p).size() / p.width)),
             3);
  row.Number(ob.frameDelayMs / 1000.0, 3, 6);
  row.Number(1.0, 3, 6);
  row.Text("WACSIM", 20);
  row.Expect(310);
  row.Text(TimeText(ob.startMs), 24);
  row.Expect(337);
  row.Text(TimeText(ob.endMs), 24);
  row.Text(WavelengthList(p, " "), 30);
  // Centre, extent and viewing angles, spacecraft state and housekeeping: plausible figures.
  const double minLat = ob.lowerLeftLat, maxLat = ob.upperLeftLat;
  for (double v : {ob.centreLat, ob.centreLon, minLat, maxLat, ob.upperLeftLon, ob.upperRightLon,
                   ob.resolutionM, rng.Between(0.0, 1.5), ob.incidenceDeg,
                   ob.incidenceDeg + rng.Between(-1.0, 1.0), rng.Between(-1.0, 1.0) + 180.0,
                   rng.Between(85.0, 95.0)}) {
    row.Number(v, 3, 9);
  }
  for (int i = 0; i < 4; ++i) row.Number(rng.Between(-1.0, 1.0), 6, 9);  // attitude quaternion
  for (int i = 0; i < 3; ++i) row.Number(rng.Between(-1790.0, 1790.0), 3, 9);  // position, km
  for (int i = 0; i < 3; ++i) row.Number(rng.Between(-1.65, 1.65), 5, 9);      // velocity, km/s
  for (int i = 0; i < 3; ++i) row.Number(rng.Between(-1.0, 1.0), 6, 9);   // direction of the sun
  for (int i = 0; i < 3; ++i) row.Number(rng.Between(-0.5, 0.5), 4, 9);   // roll, pitch, yaw
  for (int i = 0; i < 3; ++i) row.Number(rng.Between(-5.0, 25.0), 2, 9);  // temperatures, C
  for (int i = 0; i < 3; ++i) row.Number(rng.Between(0.0, 60.0), 2, 9);   // dark levels
  row.Number(rng.Between(147.0e6, 152.0e6), 1, 11);                       // sun distance, km
  row.Expect(749);
  row.Number(ob.subSolarLat, 2, 6);
  row.Number(ob.subSolarLon, 2, 6);
  row.Number(ob.spacecraftLat, 2, 6);
  row.Number(ob.spacecraftLon, 2, 6);
  row.Number(ob.altitudeKm + rng.Between(0.0, 0.5), 2, 8);  // slant distance, km
  row.Number(rng.Between(0.0, 360.0), 3, 9);                // ground track azimuth
  row.Expect(796);
  for (double v :
       {ob.centreLat, ob.centreLon, ob.upperRightLat, ob.upperRightLon, ob.lowerRightLat,
        ob.lowerRightLon, ob.lowerLeftLat, ob.lowerLeftLon, ob.upperLeftLat, ob.upperLeftLon}) {
    row.Number(v, 2, 6);
  }
  row.Expect(866);
  row.Number(ob.altitudeKm, 3, 7);
  row.Number(1.6 + rng.Between(-0.05, 0.05), 3, 7);  // ground speed, km/s
  row.Expect(882);
  row.Text("0", 1);
  // The framelets need no inversion: the scene advances toward the top of the framelet.
  row.Text("-X", 2);
  row.Number("1", 3);
  row.Text("NONE", 8);
  return row.Line();
}

std::string ProductFileName(const SimulatedProduct& p) {
  return p.productId + ".IMG";
}
std::string TruthFileName(const SimulatedProduct& p) {
  return p.productId + "_ground_truth.bmp";
}

bool WrittenBySimulator(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) return false;
  std::string head(65536, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  const size_t producer = head.find(std::string("\r\n") + kProducerLine + "\r\n");
  const size_t end = head.find("\r\nEND\r\n");
  return head.rfind("PDS_VERSION_ID", 0) == 0 && producer != std::string::npos &&
         end != std::string::npos && producer < end;
}

}  // namespace quelmar::sim
