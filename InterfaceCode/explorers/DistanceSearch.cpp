#include "explorers/DistanceSearch.h"

#include "HostServices.h"
#include "StructureArrays.h"
#include "editing/SiteTableModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <unordered_map>

namespace {

constexpr double kDivIntervals[6] = {0.1, 0.2, 0.5, 1, 2, 5};
constexpr double kMajorIntervals[6] = {1, 1, 1, 5, 10, 10};
constexpr double kTickWholeTolerance = 0.0001; // first-tick alignment
constexpr double kDecimalsTolerance = 0.00001;
constexpr double kMultipleTolerance = 1e-6;
constexpr double kMinTickPixels = 6.0;
constexpr double kLabelPixels = 36.0;
constexpr double kMinYTickPixels = 30.0;

std::string Format(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string ElementText(ElementCode code) {
  char s[3] = {' ', ' ', '\0'};
  ShortToTwoChars(code, s);
  return s;
}

bool WholeMultiple(double value, double of) {
  const double q = value / of;
  return std::fabs(q - std::round(q)) < kMultipleTolerance * std::max(1.0, std::fabs(q));
}

} // namespace

// ---- Building -----------------------------------------------------------------------

ElementCode DistanceSiteElement(const CrystalRec &crystal, uint32_t site) {
  if (site >= UsableSiteSize(crystal))
    return kBlankElement;
  const AsymmetricUnitRecord &s = crystal.sites[site];
  if (s.atomType < UsableSphereSize(crystal))
    return crystal.spheres[s.atomType].element;
  return s.elements[0];
}

float DistanceSiteRadius(const CrystalRec &crystal, uint32_t site) {
  if (site >= UsableSiteSize(crystal))
    return 0.0f;
  const AsymmetricUnitRecord &s = crystal.sites[site];
  return s.atomType < UsableSphereSize(crystal) ? crystal.spheres[s.atomType].radius : 0.0f;
}

std::string DistanceSiteLabel(const CrystalRec &crystal, uint32_t site) {
  if (site >= UsableSiteSize(crystal))
    return {};
  const char *label = crystal.sites[site].label;
  return std::string(label, strnlen(label, kSiteLabelSize));
}

std::unique_ptr<DistanceSearch> NewDistanceSearch(const CrystalRec *crystal, bool hasStructure,
                                                  const PrefsRecord &prefs) {
  auto search = std::make_unique<DistanceSearch>();
  search->groupByElement = prefs.distanceGroupByElement;
  search->minDistance = prefs.distanceMinimum;
  search->maxDistance = prefs.distanceMaximum;
  search->binWidth = prefs.distanceBinWidth;
  search->perUnitVolume = prefs.distanceHistogramFlags[0];
  search->showBinLabels = prefs.distanceHistogramFlags[1];
  search->elementColours = prefs.distanceHistogramFlags[2];
  search->dropShadow = prefs.distanceHistogramFlags[3];
  search->showGrid = prefs.distanceHistogramFlags[4];
  if (!crystal || !hasStructure)
    return search;
  int32_t count = 0;
  const std::vector<ElementCode> elements = GetCrystalElementsArray(crystal, &count);
  const size_t sites = UsableSiteSize(*crystal);
  search->fromEntries.reserve(elements.size() + sites);
  size_t scan = 0;
  for (ElementCode e : elements) {
    DistanceFromEntry row;
    row.isElement = 1;
    row.element = e;
    search->fromEntries.push_back(row);
    // The run of sites of this element, from where the last run ended.
    while (scan < sites && crystal->sites[scan].elements[0] != e)
      scan++;
    for (; scan < sites && crystal->sites[scan].elements[0] == e; scan++) {
      DistanceFromEntry site;
      site.element = e;
      site.site = static_cast<uint32_t>(scan);
      search->fromEntries.push_back(site);
    }
  }
  const size_t spheres = UsableSphereSize(*crystal);
  for (ElementCode e : elements) {
    DistanceToEntry row;
    row.element = static_cast<int16_t>(e);
    for (size_t k = 0; k < spheres; k++)
      if (crystal->spheres[k].element == e) {
        const RGBColor &c = crystal->spheres[k].colour;
        row.colour[0] = float(c.red / 65535.0);
        row.colour[1] = float(c.green / 65535.0);
        row.colour[2] = float(c.blue / 65535.0);
        break;
      }
    search->toEntries.push_back(std::move(row));
  }
  return search;
}

bool DistanceSearchMatchesCrystal(const DistanceSearch &search, const CrystalRec &crystal) {
  const size_t sites = UsableSiteSize(crystal);
  if (sites == 0 || size_t(CountNumElementsSorted(&crystal)) + sites != search.fromEntries.size())
    return false;
  size_t siteRows = 0;
  for (const DistanceFromEntry &row : search.fromEntries) {
    if (row.isElement)
      continue;
    if (row.site >= sites || row.element != crystal.sites[row.site].elements[0])
      return false;
    siteRows++;
  }
  return siteRows == sites;
}

void CopyDistanceSearchToPrefs(const DistanceSearch &search, PrefsRecord &prefs) {
  prefs.distanceGroupByElement = search.groupByElement;
  prefs.distanceMinimum = search.minDistance;
  prefs.distanceMaximum = search.maxDistance;
  prefs.distanceBinWidth = search.binWidth;
  const uint8_t flags[5] = {search.perUnitVolume, search.showBinLabels, search.elementColours, search.dropShadow,
                            search.showGrid};
  std::copy(flags, flags + 5, prefs.distanceHistogramFlags);
}

int FromElementRowOf(const DistanceSearch &search, size_t row) {
  for (size_t k = std::min(row + 1, search.fromEntries.size()); k-- > 0;)
    if (search.fromEntries[k].isElement)
      return static_cast<int>(k);
  return -1;
}

void FromChildRange(const DistanceSearch &search, size_t elementRow, size_t *first, size_t *end) {
  size_t k = elementRow + 1;
  *first = k;
  while (k < search.fromEntries.size() && !search.fromEntries[k].isElement)
    k++;
  *end = k;
}

int FromCheckState(const DistanceSearch &search, size_t row) {
  if (row >= search.fromEntries.size())
    return 0;
  const DistanceFromEntry &r = search.fromEntries[row];
  if (!r.isElement)
    return r.checked ? 1 : 0;
  size_t first = 0, end = 0;
  FromChildRange(search, row, &first, &end);
  if (first == end)
    return r.checked ? 1 : 0;
  const uint8_t state = search.fromEntries[first].checked;
  for (size_t k = first + 1; k < end; k++)
    if (search.fromEntries[k].checked != state)
      return 2;
  return state ? 1 : 0;
}

void SetFromChecked(DistanceSearch &search, size_t row, bool checked) {
  if (row >= search.fromEntries.size())
    return;
  search.fromEntries[row].checked = checked;
  if (!search.fromEntries[row].isElement)
    return;
  size_t first = 0, end = 0;
  FromChildRange(search, row, &first, &end);
  for (size_t k = first; k < end; k++)
    search.fromEntries[k].checked = checked;
}

bool DistanceSearchCanRun(const DistanceSearch &search) {
  const bool from = std::any_of(search.fromEntries.begin(), search.fromEntries.end(),
                                [](const DistanceFromEntry &r) { return r.checked; });
  const bool to = std::any_of(search.toEntries.begin(), search.toEntries.end(),
                              [](const DistanceToEntry &r) { return r.checked; });
  return from && to;
}

void RemoveMirrorDistances(std::vector<DistanceResult> &results) {
  // Distances still waiting for a mirror, by direction and length bin; a
  // mirror within the tolerance lies in the same bin or a neighbouring one.
  struct Key {
    uint32_t from, site;
    int64_t bin;
    bool operator==(const Key &) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key &k) const {
      uint64_t h = (uint64_t(k.from) << 32 | k.site) * 0x9E3779B97F4A7C15ull;
      return size_t(h ^ (uint64_t(k.bin) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2)));
    }
  };
  const double width = double(kMirrorDistanceTolerance);
  std::unordered_map<Key, std::vector<float>, KeyHash> waiting;
  waiting.reserve(results.size());
  size_t kept = 0;
  for (size_t i = 0; i < results.size(); i++) {
    const DistanceResult r = results[i];
    bool mirrored = false;
    if (r.from != r.site && std::isfinite(r.distance)) {
      const int64_t bin = static_cast<int64_t>(std::floor(double(r.distance) / width));
      for (int64_t b = bin - 1; b <= bin + 1 && !mirrored; b++) {
        auto found = waiting.find(Key{r.site, r.from, b});
        if (found == waiting.end())
          continue;
        std::vector<float> &lengths = found->second;
        for (size_t k = 0; k < lengths.size(); k++)
          if (std::fabs(lengths[k] - r.distance) < kMirrorDistanceTolerance) {
            lengths[k] = lengths.back();
            lengths.pop_back();
            mirrored = true;
            break;
          }
      }
      if (!mirrored)
        waiting[Key{r.from, r.site, bin}].push_back(r.distance);
    }
    if (!mirrored)
      results[kept++] = r;
  }
  results.resize(kept);
}

// ---- Range ------------------------------------------------------------------------

RangeCheck CheckDistanceRange(float minimum, float maximum) {
  RangeCheck out;
  out.minimum = minimum < 0.0f || !std::isfinite(minimum) ? 0.0f : minimum;
  out.maximum = std::isfinite(maximum) ? maximum : 0.0f;
  if (out.minimum > out.maximum) {
    std::swap(out.minimum, out.maximum);
    out.swapped = true;
  }
  if (out.minimum == out.maximum)
    out.error = RangeError::kEqual;
  else if (out.maximum < kMinSearchMaximum || out.maximum > kMaxSearchDistance)
    out.error = RangeError::kOutOfRange;
  return out;
}

float StepDistanceMinimum(float minimum, float maximum, int part) {
  const float step = part == 21 ? -kRangeArrowStep : kRangeArrowStep;
  float value = std::fabs(minimum) + step;
  if (value > std::fabs(maximum))
    value = std::fabs(maximum) - kRangeArrowStep;
  return std::clamp(value, 0.0f, kMaxSearchDistance);
}

float StepDistanceMaximum(float minimum, float maximum, int part) {
  const float step = part == 21 ? -kRangeArrowStep : kRangeArrowStep;
  float value = std::fabs(maximum) + step;
  if (std::fabs(minimum) > value)
    value = std::fabs(minimum) + kRangeArrowStep;
  return std::clamp(value, kMinSearchMaximum, kMaxSearchDistance);
}

float ClampBinWidth(float width, bool *clamped) {
  float out = width;
  if (!(width >= kMinBinWidth))
    out = kMinBinWidth;
  else if (width > kMaxBinWidth)
    out = kMaxBinWidth;
  if (clamped)
    *clamped = out != width;
  return out;
}

float BinWidthFromSlider(int value) {
  value = std::clamp(value, kBinSliderMin, kBinSliderMax);
  return float((1.0 - std::log10(1001.0 - value) / 3.0) * 0.999 + 0.001);
}

int SliderFromBinWidth(float width) {
  const double v = 1001.0 - std::pow(10.0, 3.0 * (1.0 - (double(width) - 0.001) / 0.999));
  return std::clamp(static_cast<int>(v), kBinSliderMin, kBinSliderMax);
}

std::string DistanceSearchStatus(float percent, uint32_t count) {
  char text[160];
  if (percent <= kSearchCompletePercent)
    std::snprintf(text, sizeof text, "Search terminated (%.0f%% complete). Found %ld distances", double(percent),
                  long(count));
  else if (count == 1)
    std::snprintf(text, sizeof text, "Found 1 distance");
  else
    std::snprintf(text, sizeof text, "Found %ld distances", long(count));
  return text;
}

// ---- Histogram ---------------------------------------------------------------------

uint32_t DistanceBinCount(float minimum, float maximum, float width) {
  if (!(width > 0.0f) || !(maximum > minimum))
    return 0;
  const float n = std::ceil((maximum - minimum) / width);
  return n > 0.0f && n < 1e8f ? static_cast<uint32_t>(n) : 0;
}

bool BinDistanceResults(DistanceSearch &search, const CrystalRec *crystal) {
  search.binCount = DistanceBinCount(search.minDistance, search.maxDistance, search.binWidth);
  try {
    for (DistanceToEntry &row : search.toEntries) {
      row.bins.clear();
      row.bins.shrink_to_fit();
      row.bins.assign(search.binCount, 0);
    }
  } catch (const std::bad_alloc &) {
    for (DistanceToEntry &row : search.toEntries)
      std::vector<uint32_t>().swap(row.bins);
    search.binCount = 0;
    return false;
  }
  if (search.results.empty() || !crystal || UsableSiteSize(*crystal) == 0 || UsableSphereSize(*crystal) == 0)
    return true;
  // The To rows each site's distances count in, found once per site.
  const size_t sites = UsableSiteSize(*crystal);
  std::vector<uint32_t> start(sites + 1, 0);
  std::vector<uint32_t> rows;
  for (size_t s = 0; s < sites; s++) {
    const ElementCode e = DistanceSiteElement(*crystal, uint32_t(s));
    for (size_t r = 0; r < search.toEntries.size(); r++)
      if (ElementCode(search.toEntries[r].element) == e)
        rows.push_back(uint32_t(r));
    start[s + 1] = uint32_t(rows.size());
  }
  std::vector<uint32_t *> counts(search.toEntries.size());
  for (size_t r = 0; r < counts.size(); r++)
    counts[r] = search.toEntries[r].bins.data();
  const float minimum = search.minDistance, width = search.binWidth;
  const int64_t binCount = search.binCount;
  for (const DistanceResult &result : search.results) {
    const float b = std::floor((result.distance - minimum) / width);
    if (!(b >= 0.0f) || b >= float(binCount) || result.site >= sites)
      continue;
    const int64_t bin = static_cast<int64_t>(b);
    for (uint32_t k = start[result.site]; k < start[result.site + 1]; k++)
      counts[rows[k]][bin]++;
  }
  return true;
}

uint64_t DistanceBinTotal(const DistanceSearch &search, uint32_t bin) {
  uint64_t total = 0;
  for (const DistanceToEntry &row : search.toEntries)
    if (bin < row.bins.size())
      total += row.bins[bin];
  return total;
}

double DistanceBinValue(const DistanceSearch &search, uint32_t bin, double count) {
  if (!search.perUnitVolume)
    return count;
  const double b = double(search.minDistance) + double(bin) * double(search.binWidth);
  const double e = b + double(search.binWidth);
  const double volume = 4.0 * M_PI / 3.0 * (e * e * e - b * b * b);
  return volume > 0.0 ? count / volume : 0.0;
}

std::vector<XAxisTick> ComputeXTicks(float minimum, float maximum, double plotWidth) {
  std::vector<XAxisTick> ticks;
  const double range = double(maximum) - double(minimum);
  if (!(range > 0.0) || !(plotWidth > 0.0) || !std::isfinite(range))
    return ticks;
  const double s = plotWidth / range;
  const int n = s / 10 > kMinTickPixels ? 10 : s / 5 > kMinTickPixels ? 5 : s / 4 > kMinTickPixels ? 4
                                                 : s / 2 > kMinTickPixels ? 2 : 1;
  const double M = range > 1.0 ? 1.0 : 0.1;
  const double m = M / n;
  const double q = double(minimum) / M;
  double k = std::round(q);
  if (k > q)
    k -= 1.0;
  int j = 0;
  while (q - k > kTickWholeTolerance) {
    k += 1.0 / n;
    j++;
  }
  j %= n;
  const double P = M * s;
  const char *format = m < 0.1 ? "%.2f" : m < 1.0 ? "%.1f" : "%.0f";
  for (double value = k * M; value <= double(maximum) + 1e-9; value += m) {
    XAxisTick tick;
    tick.value = value;
    tick.x = (value - double(minimum)) * s;
    tick.major = j == 0;
    if (m * s > kLabelPixels)
      tick.labelled = true;
    else if (j == 0) {
      if (P >= 20)
        tick.labelled = true;
      else if (P >= 10)
        tick.labelled = IsEven(static_cast<int16_t>(value + 1e-9));
      else if (P >= 4)
        tick.labelled = WholeMultiple(value, 5.0);
      else
        tick.labelled = WholeMultiple(value, 10.0);
    }
    if (tick.labelled)
      tick.text = Format(format, std::fabs(value) < 1e-9 ? 0.0 : value);
    ticks.push_back(std::move(tick));
    j = (j + 1) % n;
  }
  return ticks;
}

YAxisScale ComputeYAxis(double ymax, double plotHeight) {
  YAxisScale out;
  if (!(ymax > 0.0) || !std::isfinite(ymax))
    return out;
  const double D = std::pow(10.0, std::floor(std::log10(ymax)));
  const double r = ymax / D;
  double best = 0.0;
  bool found = false;
  for (int i = 0; i < 6; i++) {
    const int c = static_cast<int>(std::ceil(float(r / kDivIntervals[i])));
    if (c < 3 || c > 20 || plotHeight / c < kMinYTickPixels)
      continue;
    const double overshoot = c * kDivIntervals[i] - r;
    if (!found || overshoot < best) {
      found = true;
      best = overshoot;
      out.divIndex = i;
    }
  }
  const double d = kDivIntervals[out.divIndex];
  out.count = static_cast<int>(std::ceil(float(r / d)));
  out.step = d * D;
  out.top = out.count * out.step;
  out.major = D * kMajorIntervals[out.divIndex];
  for (out.decimals = 0; out.decimals < 4; out.decimals++) {
    const double scaled = out.step * std::pow(10.0, out.decimals);
    if (std::fabs(scaled - std::round(scaled)) < kDecimalsTolerance)
      break;
  }
  return out;
}

std::string DistanceBinTip(const DistanceSearch &search, double xInPlot, double plotWidth) {
  const double range = double(search.maxDistance) - double(search.minDistance);
  if (search.toEntries.empty() || !(range > 0.0) || xInPlot < 0.0 || xInPlot > plotWidth)
    return {};
  const double s = plotWidth / range;
  const double where = (xInPlot / s) / double(search.binWidth);
  if (!(where >= 0.0) || where >= double(search.binCount))
    return {};
  const uint32_t bin = static_cast<uint32_t>(where);
  const uint64_t total = DistanceBinTotal(search, bin);
  if (total == 0)
    return {};
  const double b = double(search.minDistance) + bin * double(search.binWidth);
  char text[96];
  std::snprintf(text, sizeof text, "%.2f\u2013%.2f \u00c5 [%d]", b, b + double(search.binWidth), int(total));
  return text;
}

// ---- Output list ---------------------------------------------------------------------

std::string DistanceOutputCell(const DistanceSearch &search, const CrystalRec &crystal, uint32_t index,
                               uint32_t property) {
  if (index >= search.results.size())
    return {};
  const DistanceResult &r = search.results[index];
  char text[64];
  switch (property) {
  case FourCharsToLong("bNum"):
    std::snprintf(text, sizeof text, "%d", int(index + 1));
    return text;
  case FourCharsToLong("Bond"):
    return ElementText(DistanceSiteElement(crystal, r.from)) + " - " +
           ElementText(DistanceSiteElement(crystal, r.site));
  case FourCharsToLong("FLbl"):
    return DistanceSiteLabel(crystal, r.from);
  case FourCharsToLong("TLbl"):
    return DistanceSiteLabel(crystal, r.site);
  case FourCharsToLong("bLen"):
    return Format("%8.4f", double(r.distance));
  case FourCharsToLong("bSig"):
    return crystal.esdFlag ? Format("%8.4f", double(r.esd)) : std::string("n/a");
  case FourCharsToLong("bRel"): {
    const double sum = double(DistanceSiteRadius(crystal, r.from)) + double(DistanceSiteRadius(crystal, r.site));
    return Format("%8.4f", double(r.distance) / sum);
  }
  default:
    return {};
  }
}

namespace {

double Relative(const CrystalRec &crystal, const DistanceResult &r) {
  return double(r.distance) /
         (double(DistanceSiteRadius(crystal, r.from)) + double(DistanceSiteRadius(crystal, r.site)));
}

uint32_t PairKey(const CrystalRec &crystal, const DistanceResult &r) {
  return uint32_t(DistanceSiteElement(crystal, r.from)) << 16 | DistanceSiteElement(crystal, r.site);
}

} // namespace

bool DistanceOutputLess(const DistanceSearch &search, const CrystalRec &crystal, uint32_t a, uint32_t b,
                        uint32_t property) {
  if (a >= search.results.size() || b >= search.results.size())
    return false;
  const DistanceResult &x = search.results[a];
  const DistanceResult &y = search.results[b];
  switch (property) {
  case FourCharsToLong("bNum"):
    return a < b;
  case FourCharsToLong("Bond"): {
    const uint32_t kx = PairKey(crystal, x), ky = PairKey(crystal, y);
    return kx != ky ? kx < ky : x.distance < y.distance;
  }
  case FourCharsToLong("FLbl"):
  case FourCharsToLong("TLbl"): {
    const bool from = property == FourCharsToLong("FLbl");
    const std::string lx = DistanceSiteLabel(crystal, from ? x.from : x.site);
    const std::string ly = DistanceSiteLabel(crystal, from ? y.from : y.site);
    return lx != ly ? MyBooleanCompareSiteLabels(lx, ly) : x.distance < y.distance;
  }
  case FourCharsToLong("bLen"):
    return x.distance < y.distance;
  case FourCharsToLong("bSig"):
    return x.esd < y.esd;
  case FourCharsToLong("bRel"):
    return Relative(crystal, x) < Relative(crystal, y);
  default:
    return false;
  }
}

std::vector<uint32_t> SortDistanceOutput(const DistanceSearch &search, const CrystalRec &crystal, uint32_t property) {
  const size_t n = search.results.size();
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  const std::vector<DistanceResult> &res = search.results;
  // Keys made once per site, so that a million rows sort without looking up
  // a label or a sphere per comparison; the order is the columns' own.
  const size_t sites = UsableSiteSize(crystal);
  switch (property) {
  case FourCharsToLong("Bond"): {
    std::vector<uint32_t> element(sites);
    for (size_t s = 0; s < sites; s++)
      element[s] = DistanceSiteElement(crystal, uint32_t(s));
    auto key = [&](const DistanceResult &r) {
      return uint32_t(r.from < sites ? element[r.from] : 0) << 16 | (r.site < sites ? element[r.site] : 0);
    };
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      const uint32_t ka = key(res[a]), kb = key(res[b]);
      return ka != kb ? ka < kb : res[a].distance < res[b].distance;
    });
    break;
  }
  case FourCharsToLong("FLbl"):
  case FourCharsToLong("TLbl"): {
    // Each site's rank among the labels; equal labels share a rank.
    std::vector<uint32_t> bySite(sites), rank(sites + 1, 0);
    std::iota(bySite.begin(), bySite.end(), 0u);
    std::vector<std::string> labels(sites);
    for (size_t s = 0; s < sites; s++)
      labels[s] = DistanceSiteLabel(crystal, uint32_t(s));
    std::stable_sort(bySite.begin(), bySite.end(),
                     [&](uint32_t a, uint32_t b) { return MyBooleanCompareSiteLabels(labels[a], labels[b]); });
    uint32_t current = 0;
    for (size_t i = 0; i < sites; i++) {
      if (i > 0 && labels[bySite[i]] != labels[bySite[i - 1]])
        current++;
      rank[bySite[i]] = current;
    }
    const bool from = property == FourCharsToLong("FLbl");
    auto key = [&](const DistanceResult &r) {
      const uint32_t s = from ? r.from : r.site;
      return s < sites ? rank[s] : 0u;
    };
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      const uint32_t ka = key(res[a]), kb = key(res[b]);
      return ka != kb ? ka < kb : res[a].distance < res[b].distance;
    });
    break;
  }
  case FourCharsToLong("bRel"): {
    std::vector<double> rel(n);
    for (size_t i = 0; i < n; i++)
      rel[i] = Relative(crystal, res[i]);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return rel[a] < rel[b]; });
    break;
  }
  case FourCharsToLong("bNum"):
    break;
  default:
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return DistanceOutputLess(search, crystal, a, b, property); });
  }
  return order;
}

void WriteDistanceResultsToLog(const DistanceSearch &search, const CrystalRec &crystal) {
  FWrite("Distances found:");
  const bool esd = crystal.esdFlag != 0;
  const std::string rule(esd ? 65 : 55, '-');
  FWriteBuffer(rule);
  if (esd) {
    FWriteBuffer("                  From      To       Bond Distance               ");
    FWriteBuffer("      Bond        Site      Site     d [A]  error       d/(r1+r2)");
  } else {
    FWriteBuffer("                  From      To       Bond Distance     ");
    FWriteBuffer("      Bond        Site      Site     d [A]    d/(r1+r2)");
  }
  FWriteBuffer(rule);
  char line[256];
  for (uint32_t i = 0; i < search.results.size(); i++) {
    const DistanceResult &r = search.results[i];
    char a[3] = {' ', ' ', 0}, b[3] = {' ', ' ', 0};
    ShortToTwoChars(DistanceSiteElement(crystal, r.from), a);
    ShortToTwoChars(DistanceSiteElement(crystal, r.site), b);
    int n = std::snprintf(line, sizeof line, "%4ld. %c%c - %c%c     %-6s -  %-6s %8.4f", long(i + 1), a[0], a[1], b[0],
                          b[1], DistanceSiteLabel(crystal, r.from).c_str(), DistanceSiteLabel(crystal, r.site).c_str(),
                          double(r.distance));
    if (esd)
      n += std::snprintf(line + n, sizeof line - size_t(n), " +/-%7.4f", double(r.esd));
    std::snprintf(line + n, sizeof line - size_t(n), " %6.2f", Relative(crystal, r));
    FWriteBuffer(line);
  }
  FWriteBuffer(rule);
  FFlushBuffer();
}
