#include "core/TStringList.h"

#include "core/AsciiCase.h"
#include "core/CompareText.h"
#include "core/Exceptions.h"
#include "core/Format.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

// The first block is small, for the many short lists; blocks then double up to this size,
// which keeps the unused tail of the last block small beside a long list.
constexpr std::size_t kFirstBlock = 256;
constexpr std::size_t kLargestBlock = 64 * 1024;

} // namespace

TStringList::TStringList(const TStringList& other)
    : sorted_(other.sorted_), duplicates_(other.duplicates_)
{
    for (const Item& item : other.items_)
        items_.push_back(store(view(item)));
}

TStringList& TStringList::operator=(const TStringList& other)
{
    if (this != &other) {
        TStringList copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TStringList::~TStringList() = default;

TStringList::Item TStringList::store(std::string_view text)
{
    if (text.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("string list text too long");
    Item item{"", std::uint32_t(text.size()), 0};
    if (text.empty())
        return item;
    if (room_ < text.size()) {
        const std::size_t size = std::max(
            text.size(), std::min(kLargestBlock, std::max(kFirstBlock, lastBlockSize_ * 2)));
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        free_ = blocks_.back().get();
        room_ = size;
        lastBlockSize_ = size;
    }
    std::memcpy(free_, text.data(), text.size());
    item.data = free_;
    free_ += text.size();
    room_ -= text.size();
    liveBytes_ += text.size();
    storedBytes_ += text.size();
    return item;
}

void TStringList::release(const Item& item)
{
    liveBytes_ -= item.size;
    if (storedBytes_ - liveBytes_ > std::max<std::size_t>(liveBytes_, kLargestBlock))
        compact();
}

void TStringList::compact()
{
    TStringList packed;
    for (Item& item : items_) {
        const Item moved = packed.store(view(item));
        item.data = moved.data;
    }
    blocks_ = std::move(packed.blocks_);
    free_ = packed.free_;
    room_ = packed.room_;
    lastBlockSize_ = packed.lastBlockSize_;
    liveBytes_ = storedBytes_ = packed.liveBytes_;
}

void TStringList::checkIndex(int index) const
{
    if (index < 0 || index >= Count())
        throw EStringListError(core::Format("List index out of bounds (%d)", {index}));
}

std::string_view TStringList::Strings(int index) const
{
    checkIndex(index);
    return view(items_[std::size_t(index)]);
}

void TStringList::Put(int index, std::string_view value)
{
    if (sorted_)
        throw EStringListError("Operation not allowed on sorted list");
    checkIndex(index);
    const Item old = items_[std::size_t(index)];
    items_[std::size_t(index)] = store(value);
    release(old);
}

int TStringList::Add(std::string_view value)
{
    if (!sorted_) {
        items_.push_back(store(value));
        return Count() - 1;
    }
    int index = 0;
    if (Find(value, index)) {
        if (duplicates_ == dupIgnore)
            return index;
        if (duplicates_ == dupError)
            throw EStringListError("String list does not allow duplicates");
    }
    items_.insert(items_.begin() + index, store(value));
    return index;
}

void TStringList::AddStrings(const TStringList& other)
{
    if (this == &other) {
        const TStringList copy(other);
        AddStrings(copy);
        return;
    }
    for (const Item& item : other.items_)
        Add(view(item));
}

void TStringList::AddStrings(TStringList&& other)
{
    if (this == &other)
        return AddStrings(static_cast<const TStringList&>(other));
    if (items_.empty() && !sorted_) {
        items_ = std::move(other.items_);
        blocks_ = std::move(other.blocks_);
        free_ = other.free_;
        room_ = other.room_;
        lastBlockSize_ = other.lastBlockSize_;
        liveBytes_ = other.liveBytes_;
        storedBytes_ = other.storedBytes_;
    } else {
        AddStrings(static_cast<const TStringList&>(other));
    }
    other.Clear();
}

void TStringList::Insert(int index, std::string_view value)
{
    if (sorted_)
        throw EStringListError("Operation not allowed on sorted list");
    if (index < 0 || index > Count())
        throw EStringListError(core::Format("List index out of bounds (%d)", {index}));
    items_.insert(items_.begin() + index, store(value));
}

void TStringList::Delete(int index)
{
    checkIndex(index);
    const Item old = items_[std::size_t(index)];
    items_.erase(items_.begin() + index);
    release(old);
}

void TStringList::Clear()
{
    items_.clear();
    blocks_.clear();
    free_ = nullptr;
    room_ = 0;
    lastBlockSize_ = 0;
    liveBytes_ = storedBytes_ = 0;
}

void TStringList::Assign(const TStringList& other)
{
    if (this == &other)
        return;
    const bool sorted = sorted_;
    const TDuplicates duplicates = duplicates_;
    *this = other;
    sorted_ = sorted;
    duplicates_ = duplicates;
    if (sorted_ && !(other.sorted_ && other.duplicates_ == duplicates_))
        Sort();
}

int TStringList::IndexOf(std::string_view value) const
{
    if (sorted_) {
        int index = 0;
        return Find(value, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (core::AnsiCompareText(view(items_[std::size_t(i)]), value) == 0)
            return i;
    return -1;
}

bool TStringList::Find(std::string_view value, int& index) const
{
    int low = 0;
    int high = Count() - 1;
    bool found = false;
    while (low <= high) {
        int mid = (low + high) / 2;
        int c = core::AnsiCompareText(view(items_[std::size_t(mid)]), value);
        if (c < 0) {
            low = mid + 1;
        } else {
            high = mid - 1;
            if (c == 0) {
                found = true;
                if (duplicates_ != dupAccept)
                    low = mid;
            }
        }
    }
    index = low;
    return found;
}

void TStringList::SetSorted(bool sorted)
{
    if (sorted_ == sorted)
        return;
    sorted_ = sorted;
    if (sorted_)
        Sort();
}

std::vector<std::string> TStringList::Texts() const
{
    std::vector<std::string> texts;
    texts.reserve(items_.size());
    for (const Item& item : items_)
        texts.emplace_back(view(item));
    return texts;
}

void TStringList::Sort()
{
    const bool ascii = core::AnsiOrderFoldsAscii() &&
                       std::all_of(items_.begin(), items_.end(),
                                   [](const Item& item) { return core::isAscii(view(item)); });
    if (ascii) {
        // Sorted in place, comparing the texts where they lie; a list already in order, as a
        // sorted list handed on is, stays as it is.
        const auto before = [](const Item& a, const Item& b) {
            return core::CompareAsciiFolded(view(a), view(b)) < 0;
        };
        if (!std::is_sorted(items_.begin(), items_.end(), before)) {
            std::uint32_t order = 0;
            for (Item& item : items_)
                item.order = order++;
            std::sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) {
                const int c = core::CompareAsciiFolded(view(a), view(b));
                return c < 0 || (c == 0 && a.order < b.order);
            });
        }
    } else {
        const std::vector<std::uint32_t> order =
            core::AnsiSortOrder(items_.size(), [&](std::size_t i) { return view(items_[i]); });
        std::deque<Item> sorted;
        for (std::uint32_t i : order)
            sorted.push_back(items_[i]);
        items_ = std::move(sorted);
    }
    if (!sorted_ || duplicates_ == dupAccept || items_.empty())
        return;
    // Texts that compare equal are now side by side; all but the first are dropped, or, where
    // duplicates are an error, the sorted list is left whole and the error raised.
    const auto same = [ascii](const Item& a, const Item& b) {
        return (ascii ? core::CompareAsciiFolded(view(a), view(b))
                      : core::AnsiCompareText(view(a), view(b))) == 0;
    };
    if (duplicates_ == dupError &&
        std::adjacent_find(items_.begin(), items_.end(), same) != items_.end())
        throw EStringListError("String list does not allow duplicates");
    std::size_t kept = 1;
    for (std::size_t i = 1; i < items_.size(); ++i) {
        if (same(items_[kept - 1], items_[i])) {
            liveBytes_ -= items_[i].size;
        } else {
            items_[kept++] = items_[i];
        }
    }
    items_.resize(kept);
    if (storedBytes_ - liveBytes_ > std::max<std::size_t>(liveBytes_, kLargestBlock))
        compact();
}
