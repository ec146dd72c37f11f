#pragma once
// One band of a product read at sub-pixel positions of its own stack: the continuous version of
// a stacked (and optionally corrected) band. Framelet F's band row b (0-based, fractional) lies
// at stack row F x travel + b, not rounded to a whole row; its columns lie at the output strip's
// columns plus F x horizontal travel. Samples are bilinear between the framelet's own rows and
// columns (an ultraviolet band on its binned grid), never taken from a whole-row stack.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "assembly/BandRowBlend.h"
#include "assembly/BandRowBounds.h"
#include "assembly/CameraSettings.h"
#include "assembly/RowProgram.h"
#include "product/LoadedProduct.h"
#include "util/Numbers.h"
#include "util/UserPort.h"

namespace quelmar {

struct BandSamplerRequest {
  int32_t Band = 1;           // 1-based, as the band field takes it
  Real VerticalTravel = 11;   // rows per framelet of this band
  Real HorizontalTravel = 0;  // columns per framelet of this band
  // Travels between each pair of framelets (rows and columns of this band) when the travel
  // varies along the product; empty: the two constant travels above.
  std::vector<Real> VerticalProfile;
  std::vector<Real> HorizontalProfile;
  bool Invert = false;
  bool CorrectDistortion = false;
  bool CorrectVertically = false;
  int32_t Shift = 0;
};

// Where a band's stack lies on the ground: world = Scale x (stack position - Centre), in
// visible-band pixels (an ultraviolet pixel covers 4).
struct BandPlacement {
  Real Scale = 1;
  Real CentreX = 0;
  Real CentreY = 0;
};

class BandSampler {
 public:
  // Prepares the band: its strip, the geometry of its correction (settings already read) and
  // the per-row maps of a corrected band. RangeError for a band outside the product or sizes
  // that do not fit.
  BandSampler(const LoadedProduct& product, const BandSamplerRequest& request,
              const CameraSettings& settings, UserPort& port);

  // The size the band's stack has: Round((framelets - 1) x travel) + H rows, strip width plus
  // Round(|horizontal travel| x framelets) columns (with a profile: its sums' extent).
  int32_t StackWidth() const { return stackWidth_; }
  int32_t StackHeight() const { return stackHeight_; }
  const BandPlacement& Placement() const { return placement_; }
  bool Ultraviolet() const { return strip_.H == 4; }
  const std::string& Wavelength() const { return wavelength_; }
  int32_t Band() const { return request_.Band; }

  // Samples one row of `count` points at stack row `y` and columns x0 + i x dx (i from 0): the
  // value (0..255, fractions kept as 1/16 grey levels: value x 16) into out[i], or -1 where the
  // band has no data there.
  void SampleRow(Real y, Real x0, Real dx, int32_t count, int16_t* out) const;

  // Where the points of corrected rows read their samples, kept for rows that read alike (the
  // same place within a framelet, travel and columns): a caller sampling many rows of one band
  // keeps one (one per thread) and passes it to every row. With a cache, a corrected row is read
  // at the nearest 1/32 row (as fine as its maps) and 1/256 column.
  class RowCache {
   public:
    // For a caller that reads a whole picture's rows: at a constant travel of no whole number
    // of rows or columns, the rows are read at the nearest cell (see cellRows_) and kept by the
    // band for every core, the picture a little less exact (rows moved by up to 1/16 pixel, and
    // points between columns blended from the two either side) and much quicker to read.
    // Without it, rows are read as finely as the maps.
    void ReadOnCells() { onCells_ = true; }
    // For a caller that measures where the rows lie: read where there are cells, each row
    // blended from the two cells either side of it (as the row read as finely as the maps is
    // blended from its samples), so that it moves with its position however little, and the
    // rows it reads are the picture's own.
    void ReadBetweenCells() { onCells_ = betweenCells_ = true; }

   private:
    friend class BandSampler;
    bool onCells_ = false;
    bool betweenCells_ = false;
    std::vector<int16_t> below_, above_;  // the rows on the cells either side
    // Offsets from the band of the stack's framelet.
    using Entry = CachedRead;
    struct Row {
      std::vector<int64_t> key;
      std::vector<Entry> entries;
      RowProgram program;     // the entries compiled for byte shuffles, once the row repeats
      bool compiled = false;  // (a row read once is blended from its entries)
    };
    std::vector<Row> rows_;
    size_t next_ = 0;             // the row the next new one takes
    size_t found_ = 0;            // the row found (or taken) last
    std::vector<Entry> scratch_;  // a row's reads where no row comes back
    // Working storage of the reads (here rather than thread-local: see MatchScratch in
    // OverlapMatch.h).
    std::vector<int64_t> key_;  // what the row being read depends on
    // A row on cells read afresh, and its reads.
    std::vector<int16_t> cellRow_;
    std::vector<Entry> cellReads_;
  };
  void SampleRow(Real y, Real x0, Real dx, int32_t count, int16_t* out, RowCache& cache) const;
  // Which of `parts` cores reads the row at stack row y where a band's rows are shared out by
  // their place within the framelet a stack takes them from: rows at one place read alike (what
  // they read is worked out once, on first reading, for every row there), so no two cores work
  // out the same; a framelet's rows go to the cores in turn.
  int32_t ShareOf(Real y, int32_t parts) const;
  // Gives back the rows the band keeps on cells: once no core reads the band any more, each of
  // `parts` cores gives back the rows it compiled itself (rather than the last one all of them;
  // a core freeing what another one took waits on that one's heap). Rows compiled by a core
  // that does not come go with the sampler. The band reads nothing afterwards.
  void ReleaseCellRows(int32_t part, int32_t parts) const;
  // How many rows the band keeps on cells (for the tests).
  int32_t CellRowsHeld() const;

 private:
  struct MapEntry {
    int32_t col;  // source column in 1/256 pixels; kNone for no source
    int32_t row;  // source band row (0-based) in 1/256 pixels
  };
  static constexpr int32_t kNone = INT32_MIN;
  static constexpr int32_t kRowSteps = 32;  // maps per band row of a corrected band
  static constexpr int64_t kOne = 65536;    // 1.0 in the fixed-point positions

  // What every point of one output row shares.
  struct RowContext {
    int64_t yf = 0;     // the row, 1/65536 rows
    int64_t start = 0;  // start_, 1/65536 columns
    std::ptrdiff_t rowStep = 0;
    int32_t topInFramelet = 0;
    int64_t rowFramelet = 0;  // the framelet a stack takes the row from
  };
  RowContext ContextOf(Real y) const;
  // The framelet a stack takes row yf (1/65536 rows) from: the last one that begins at or above
  // it (the first one above them all).
  int64_t FrameletOf(int64_t yf) const;
  // One point (x in 1/65536 columns) of the row: value x 16, -1 for no data.
  int16_t SamplePoint(const RowContext& c, int64_t x) const;
  // A row of an uncorrected band, the run inside the band's columns blended in one go; false
  // where the row must be taken point by point.
  bool SamplePlainRow(const RowContext& c, int64_t x, int64_t step, int32_t count,
                      int16_t* out) const;
  // A row of a corrected band: as point by point, with what each nearby framelet holds for the
  // row worked out once.
  // With `record`, notes where each point reads too (relative to the band of the stack's
  // framelet, which must lie in the product) for the row cache, and each point's value is the
  // blend of its reads as BlendCachedRow gives it (where it has any); without `blend`, the
  // values of the points read a run at a time through a map row are left out (for a row whose
  // values come from running the program compiled from its reads).
  void SampleCorrectedRow(const RowContext& c, int64_t x, int64_t step, int32_t count, int16_t* out,
                          RowCache::Entry* record = nullptr, bool blend = true) const;
  // SampleRow(y, ..., cache) at a row worked out (cellRow: the row read at its nearest cell).
  void SampleRowAt(RowContext c, int64_t x, int64_t step, int32_t count, int16_t* out,
                   RowCache& cache, bool cellRow) const;
  // A corrected row on cells (the row already at its cell, its first column at the nearest
  // 1/256), read through the rows the band keeps on cells.
  void SampleCellRow(const RowContext& c, int64_t x, int64_t step, int32_t count, int16_t* out,
                     RowCache& cache) const;
  // A row whose reads a program was compiled from: run over the band of the row's framelet,
  // with the points it leaves worked out alone. Without the reads (a complete program), a row
  // the program cannot run there is worked out afresh.
  void RunCompiledRow(const RowContext& c, const RowProgram& program, const CachedRead* reads,
                      int64_t x, int64_t step, int32_t count, int16_t* out) const;
  // Asks the processor for band row r of framelet f (its band at `band`; beyond the band, the
  // same place in the next framelet): the one the picture's next row reads first.
  void FetchAhead(const RowContext& c, int64_t f, int64_t r, const uint8_t* band) const;
  void BuildMaps(const CorrectionConstants& constants, std::vector<Real> table);
  // Whether the shift moves every point of a corrected band (its middle row at `middle`)
  // further than any row of the product: none then has a source.
  bool ShiftedBeyondProduct(Real middle) const;
  // The source column and band row of output column a on output band row b (0-based).
  bool Source(Real a, Real b, Real& col, Real& row) const;
  // Map row q (from firstMap_), worked out on first use.
  const MapEntry* MapRow(int64_t q) const;
  // The source (1/256 pixels) of output strip position x (1/65536 pixels) on output band row b
  // (1/65536 rows, 0-based): false where there is none.
  [[gnu::always_inline]] inline bool SourceOf(int64_t x, int64_t b, int32_t& col,
                                              int32_t& row) const;

  const LoadedProduct& product_;
  BandSamplerRequest request_;
  BandStrip strip_;
  std::string wavelength_;
  int32_t wsrc_ = 0;
  int32_t firstColumn_ = 0;  // columns holding the band's samples
  int32_t lastColumn_ = 0;
  int32_t stripWidth_ = 0;
  int32_t stackWidth_ = 0;
  int32_t stackHeight_ = 0;
  Real start_ = 0;       // column of the first framelet's strip
  int64_t start16_ = 0;  // the same, 1/65536 columns
  // Where each framelet's strip begins in the stack: row and column (less start_), 1/65536
  // pixels.
  std::vector<int64_t> rowAt_;
  std::vector<int64_t> colAt_;
  BandPlacement placement_;
  bool corrected_ = false;
  // Corrected: maps for output band rows firstMap_ / kRowSteps .. (firstMap_ + mapCount_ - 1) /
  // kRowSteps (beyond the band where a vertical correction brings rows in from beyond it), each
  // of stripWidth_ + 1 entries.
  std::unique_ptr<MapEntry[]> maps_;  // rows filled in by MapRow
  // A map row is worked out once, when first read: kMapUnset, then kMapFilling by the core that
  // works it out (the others give way until it is done), then kMapDone.
  static constexpr int32_t kMapUnset = 0, kMapFilling = 1, kMapDone = 2;
  std::unique_ptr<std::atomic<int32_t>[]> mapState_;
  // What the maps are worked out from.
  struct MapSource {
    std::vector<Real> Table;        // the radial correction table
    std::vector<double> FastTable;  // the same in doubles, for the maps' rows
    Real Half = 0;                  // half the band's height
    Real Offset = 0;                // the band's offset from the detector's centre line
    Real OutputCentre = 0, SourceCentre = 0;
  };
  MapSource mapSource_;
  int32_t firstMap_ = 0;
  int32_t mapCount_ = 0;
  // Corrected: the stack rows (1/65536) from which, and up to which, some framelet's maps reach.
  int64_t firstMapped_ = INT64_MIN, pastMapped_ = INT64_MAX;
  // Per output strip column: how far down the band's middle row is read from (1/65536 rows), to
  // choose the framelet that holds a point's source.
  std::vector<int64_t> drop_;
  // The same in 32 bits where every drop fits (else empty), for the runs of a row's points that
  // read one framelet.
  std::vector<int32_t> drop32_;
  // Framelets either side of the stack's that a corrected row's points read (worked out from
  // the correction and the travels; at most 8).
  int64_t reach_ = 8;
  // Rows come back within the row cache's reach (a travel of whole rows, or of a simple fraction
  // of one): they are kept there. Otherwise each row is read afresh.
  bool rowsRepeat_ = true;
  static constexpr int32_t kRepeatRows = 16;  // rows within which a row must come back
  // Otherwise, at a constant travel, a picture's row is read at the nearest cell of 1/8 row (of
  // a visible band: an ultraviolet band's cells are as large on the ground) from where its
  // framelet lies, and along the row from the framelet's own columns, so that rows come back
  // every few framelets (cellRows_).
  static constexpr int64_t kCell = kOne / 8;
  int64_t Cell() const { return Ultraviolet() ? kCell / 4 : kCell; }  // this band's, in its rows
  int64_t cellMargin_ = 0;  // columns either side of the strip the wide row of a cell reaches
  // Null where the band's rows are not read on cells; else the rows on cells read so far, by
  // their key's hash, shared by every core that samples the band: each is compiled when first
  // read, and then only read.
  struct CellRows {
    struct Row {
      uint64_t hash = 0;
      std::vector<int64_t> key;
      std::vector<CachedRead> entries;
      RowProgram program;
      bool complete = false;  // the program blends every point: no entries are kept
    };
    // Rows are only ever added (a core that finds one reads it without a lock): an open table of
    // twice the rows it keeps.
    static constexpr size_t kSlots = 8192;
    static constexpr int32_t kRows = 4096;  // those beyond are read afresh every time
    std::unique_ptr<std::atomic<Row*>[]> slots { new std::atomic<Row*>[kSlots] {} };
    std::atomic<int32_t> kept{0};
    // The thread that compiled each slot's row (written once the row is in its slot, read once
    // every core is done reading).
    std::unique_ptr<std::thread::id[]> owners{new std::thread::id[kSlots]{}};
    // The rows of framelets with every neighbour there, on the framelet's own columns, by their
    // cell's place from the framelet's top (kFirstCell on): found without their key's hash.
    static constexpr int64_t kFirstCell = -128;
    static constexpr size_t kPlaces = 512;
    std::unique_ptr<std::atomic<Row*>[]> byPlace { new std::atomic<Row*>[kPlaces] {} };
    CellRows() = default;
    CellRows(const CellRows&) = delete;
    CellRows& operator=(const CellRows&) = delete;
    ~CellRows();
    // The row of the key, or null with `slot` where the search ended.
    Row* Find(uint64_t hash, const std::vector<int64_t>& key, size_t& slot) const;
    void Add(std::unique_ptr<Row> row, size_t slot);
  };
  std::unique_ptr<CellRows> cellRows_;
};

}  // namespace quelmar
