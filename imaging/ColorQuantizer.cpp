#include "imaging/ColorQuantizer.h"

#include "imaging/TBitmap.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>

namespace {

constexpr int kMaxEntries = 256;
// The histogram keeps 5 bits of red, 6 of green and 5 of blue: the eye tells greens apart
// best, and 65536 cells stay small enough to walk many times.
constexpr std::array<int, 3> kCellBits = {5, 6, 5};   // red, green, blue
constexpr std::array<int, 3> kCellShift = {11, 5, 0}; // where each channel sits in a cell index
constexpr int kCells = 1 << 16;

int cellIndex(const std::array<int, 3>& cell)
{
    return (cell[0] << kCellShift[0]) | (cell[1] << kCellShift[1]) | cell[2];
}

// Every colour of the picture that falls into one cell: how many pixels, and the sums of
// their channels, so that a palette entry is the true average of what it stands for.
struct Cell {
    std::uint32_t count = 0;
    std::array<std::uint64_t, 3> sum{}; // red, green, blue
};

// A box of cells, inclusive on both ends, shrunk to the cells that hold colours.
struct Box {
    std::array<int, 3> lo{};
    std::array<int, 3> hi{};
    std::uint64_t count = 0;

    // The side along a channel in 8-bit steps, so that channels of different precision compare.
    int extent(int channel) const
    {
        return (hi[channel] - lo[channel]) << (8 - kCellBits[channel]);
    }
    bool splittable() const { return lo != hi; }
    // Roughly the squared error of standing for all its pixels with one colour: large,
    // well-filled boxes are split first.
    std::uint64_t weight() const
    {
        const auto side = std::uint64_t(std::max({extent(0), extent(1), extent(2)}));
        return count * side * side;
    }
};

template <class Visit> void forEachCell(const Box& box, Visit&& visit)
{
    std::array<int, 3> c{};
    for (c[0] = box.lo[0]; c[0] <= box.hi[0]; ++c[0])
        for (c[1] = box.lo[1]; c[1] <= box.hi[1]; ++c[1])
            for (c[2] = box.lo[2]; c[2] <= box.hi[2]; ++c[2])
                visit(c, cellIndex(c));
}

Box shrink(const std::vector<Cell>& cells, const Box& box)
{
    Box tight;
    tight.lo = box.hi;
    tight.hi = box.lo;
    forEachCell(box, [&](const std::array<int, 3>& c, int index) {
        if (cells[std::size_t(index)].count == 0)
            return;
        tight.count += cells[std::size_t(index)].count;
        for (int i = 0; i < 3; ++i) {
            tight.lo[std::size_t(i)] = std::min(tight.lo[std::size_t(i)], c[std::size_t(i)]);
            tight.hi[std::size_t(i)] = std::max(tight.hi[std::size_t(i)], c[std::size_t(i)]);
        }
    });
    return tight;
}

// Cuts the box across its longest side where half of its pixels lie on either side. Both
// halves hold colours because a shrunk box has colours in its first and last slice.
std::pair<Box, Box> split(const std::vector<Cell>& cells, const Box& box)
{
    int axis = 0;
    for (int i = 1; i < 3; ++i)
        if (box.extent(i) > box.extent(axis))
            axis = i;
    const auto a = std::size_t(axis);
    std::vector<std::uint64_t> slices(std::size_t(box.hi[a] - box.lo[a] + 1));
    forEachCell(box, [&](const std::array<int, 3>& c, int index) {
        slices[std::size_t(c[a] - box.lo[a])] += cells[std::size_t(index)].count;
    });
    int cut = box.lo[a];
    std::uint64_t below = slices[0];
    while (cut < box.hi[a] - 1 && below * 2 < box.count) {
        ++cut;
        below += slices[std::size_t(cut - box.lo[a])];
    }
    Box first = box, second = box;
    first.hi[a] = cut;
    second.lo[a] = cut + 1;
    return {shrink(cells, first), shrink(cells, second)};
}

// Finds the palette entry nearest to a colour, exactly and fast: for each histogram cell that
// mapping meets, it lists once the entries that can be nearest to some colour of the cell
// (those whose least distance to the cell is within the smallest greatest distance of any
// entry); a colour is then compared with those alone.
class NearestEntry {
public:
    explicit NearestEntry(const std::vector<TPaletteEntry>& palette)
        : entries_(palette.begin(), palette.begin() + std::ptrdiff_t(std::min<std::size_t>(
                                                          palette.size(), kMaxEntries))),
          first_(kCells, -1), count_(kCells, 0)
    {
    }

    std::uint8_t operator()(int red, int green, int blue)
    {
        const std::array<int, 3> colour = {red, green, blue};
        std::array<int, 3> cell{};
        for (std::size_t i = 0; i < 3; ++i)
            cell[i] = colour[i] >> (8 - kCellBits[i]);
        const auto index = std::size_t(cellIndex(cell));
        if (first_[index] < 0)
            listCandidates(index, cell);
        std::uint8_t best = 0;
        int bestDistance = -1;
        const auto first = std::size_t(first_[index]);
        for (std::size_t i = first; i < first + count_[index]; ++i) {
            const TPaletteEntry& e = entries_[candidates_[i]];
            const int dr = e.Red - red, dg = e.Green - green, db = e.Blue - blue;
            const int distance = dr * dr + dg * dg + db * db;
            if (bestDistance < 0 || distance < bestDistance) {
                best = candidates_[i];
                bestDistance = distance;
            }
        }
        return best;
    }

private:
    void listCandidates(std::size_t index, const std::array<int, 3>& cell)
    {
        std::array<int, 3> lo{}, hi{};
        for (std::size_t i = 0; i < 3; ++i) {
            lo[i] = cell[i] << (8 - kCellBits[i]);
            hi[i] = lo[i] + (1 << (8 - kCellBits[i])) - 1;
        }
        auto channels = [](const TPaletteEntry& e) {
            return std::array<int, 3>{e.Red, e.Green, e.Blue};
        };
        int bound = -1;
        for (const TPaletteEntry& e : entries_) {
            const auto v = channels(e);
            int farthest = 0;
            for (std::size_t i = 0; i < 3; ++i) {
                const int d = std::max(std::abs(v[i] - lo[i]), std::abs(v[i] - hi[i]));
                farthest += d * d;
            }
            if (bound < 0 || farthest < bound)
                bound = farthest;
        }
        first_[index] = std::int32_t(candidates_.size());
        for (std::size_t n = 0; n < entries_.size(); ++n) {
            const auto v = channels(entries_[n]);
            int least = 0;
            for (std::size_t i = 0; i < 3; ++i) {
                const int d = v[i] < lo[i] ? lo[i] - v[i] : v[i] > hi[i] ? v[i] - hi[i] : 0;
                least += d * d;
            }
            if (least <= bound)
                candidates_.push_back(std::uint8_t(n));
        }
        count_[index] = std::uint16_t(candidates_.size() - std::size_t(first_[index]));
    }

    std::vector<TPaletteEntry> entries_;
    std::vector<std::int32_t> first_;      // per cell: where its candidates start, -1 if not listed
    std::vector<std::uint16_t> count_;     // per cell: how many candidates it has
    std::vector<std::uint8_t> candidates_; // entry numbers, cell after cell
};

std::uint8_t clampChannel(int value)
{
    return std::uint8_t(std::clamp(value, 0, 255));
}

} // namespace

ColorQuantizer::ColorQuantizer(const TPalette& palette) : palette_(palette) {}

ColorQuantizer ColorQuantizer::forPicture(const TBitmap& source, int maxColors)
{
    maxColors = std::clamp(maxColors, 1, kMaxEntries);
    std::vector<Cell> cells(kCells);
    for (int y = 0; y < source.Height(); ++y) {
        const std::uint8_t* row = source.ScanLine(y);
        if (row == nullptr)
            break;
        for (int x = 0; x < source.Width(); ++x, row += 3) {
            const int blue = row[0], green = row[1], red = row[2];
            Cell& cell = cells[std::size_t(cellIndex({red >> 3, green >> 2, blue >> 3}))];
            ++cell.count;
            cell.sum[0] += std::uint64_t(red);
            cell.sum[1] += std::uint64_t(green);
            cell.sum[2] += std::uint64_t(blue);
        }
    }

    std::vector<Box> boxes;
    Box whole;
    whole.hi = {(1 << kCellBits[0]) - 1, (1 << kCellBits[1]) - 1, (1 << kCellBits[2]) - 1};
    whole = shrink(cells, whole);
    if (whole.count > 0)
        boxes.push_back(whole);
    while (boxes.size() < std::size_t(maxColors)) {
        auto chosen = boxes.end();
        for (auto it = boxes.begin(); it != boxes.end(); ++it)
            if (it->splittable() && (chosen == boxes.end() || it->weight() > chosen->weight()))
                chosen = it;
        if (chosen == boxes.end())
            break;
        auto [first, second] = split(cells, *chosen);
        *chosen = first;
        boxes.push_back(second);
    }

    TPalette palette;
    for (const Box& box : boxes) {
        std::array<std::uint64_t, 3> sum{};
        forEachCell(box, [&](const std::array<int, 3>&, int index) {
            for (std::size_t i = 0; i < 3; ++i)
                sum[i] += cells[std::size_t(index)].sum[i];
        });
        auto mean = [&](std::size_t i) {
            return std::uint8_t((sum[i] + box.count / 2) / box.count);
        };
        palette.Entries.push_back({mean(0), mean(1), mean(2), 0});
    }
    return ColorQuantizer(palette);
}

void ColorQuantizer::map(const TBitmap& source, TBitmap& dest) const
{
    const int width = source.Width();
    const int height = source.Height();
    if (source.PixelFormat() != pf24bit || dest.PixelFormat() != pf8bit || dest.Width() != width ||
        dest.Height() != height)
        return;
    // Errors in sixteenths, three channels per pixel, with a spare pixel at each end so that
    // the edges need no tests. Rows alternate direction, which keeps the diffusion from
    // drawing diagonal streaks.
    const std::size_t entries = std::min<std::size_t>(palette_.Entries.size(), kMaxEntries);
    NearestEntry nearest(palette_.Entries);
    const std::size_t stride = (std::size_t(width) + 2) * 3;
    std::vector<int> current(stride), next(stride);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = source.ScanLine(y);
        std::uint8_t* out = dest.ScanLine(y);
        if (in == nullptr || out == nullptr)
            break;
        std::fill(next.begin(), next.end(), 0);
        const bool forward = y % 2 == 0;
        const int step = forward ? 1 : -1;
        for (int i = 0; i < width; ++i) {
            const int x = forward ? i : width - 1 - i;
            const std::size_t here = std::size_t(x + 1) * 3;
            const std::uint8_t* pixel = in + 3 * x;
            // Blue, green, red as the rows hold them.
            int value[3];
            for (std::size_t c = 0; c < 3; ++c)
                value[c] = clampChannel(pixel[c] + ((current[here + c] + 8) >> 4));
            const std::uint8_t index = entries == 0 ? 0 : nearest(value[2], value[1], value[0]);
            out[x] = index;
            if (entries == 0)
                continue;
            const TPaletteEntry& chosen = palette_.Entries[index];
            const int error[3] = {value[0] - chosen.Blue, value[1] - chosen.Green,
                                  value[2] - chosen.Red};
            const std::size_t ahead = std::size_t(x + 1 + step) * 3;
            const std::size_t behind = std::size_t(x + 1 - step) * 3;
            for (std::size_t c = 0; c < 3; ++c) {
                current[ahead + c] += 7 * error[c];
                next[behind + c] += 3 * error[c];
                next[here + c] += 5 * error[c];
                next[ahead + c] += error[c];
            }
        }
        std::swap(current, next);
    }
}
