#include "core/TStringList.h"

#include "core/CompareText.h"
#include "core/Exceptions.h"
#include "core/Format.h"

#include <algorithm>

void TStringList::checkIndex(int index) const
{
    if (index < 0 || index >= Count())
        throw EStringListError(core::Format("List index out of bounds (%d)", {index}));
}

const std::string& TStringList::Strings(int index) const
{
    checkIndex(index);
    return items_[std::size_t(index)];
}

void TStringList::Put(int index, std::string value)
{
    if (sorted_)
        throw EStringListError("Operation not allowed on sorted list");
    checkIndex(index);
    items_[std::size_t(index)] = std::move(value);
}

int TStringList::Add(std::string value)
{
    if (!sorted_) {
        items_.push_back(std::move(value));
        return Count() - 1;
    }
    int index = 0;
    if (Find(value, index)) {
        if (duplicates_ == dupIgnore)
            return index;
        if (duplicates_ == dupError)
            throw EStringListError("String list does not allow duplicates");
    }
    items_.insert(items_.begin() + index, std::move(value));
    return index;
}

void TStringList::AddStrings(const TStringList& other)
{
    for (const auto& s : other.items_)
        Add(s);
}

void TStringList::Insert(int index, std::string value)
{
    if (sorted_)
        throw EStringListError("Operation not allowed on sorted list");
    if (index < 0 || index > Count())
        throw EStringListError(core::Format("List index out of bounds (%d)", {index}));
    items_.insert(items_.begin() + index, std::move(value));
}

void TStringList::Delete(int index)
{
    checkIndex(index);
    items_.erase(items_.begin() + index);
}

void TStringList::Assign(const TStringList& other)
{
    if (this == &other)
        return;
    items_ = other.items_;
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
        if (core::AnsiCompareText(items_[std::size_t(i)], value) == 0)
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
        int c = core::AnsiCompareText(items_[std::size_t(mid)], value);
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

void TStringList::Sort()
{
    core::AnsiSortTexts(items_);
    if (sorted_ && duplicates_ != dupAccept) {
        auto last = std::unique(items_.begin(), items_.end(),
                                [](const std::string& a, const std::string& b) {
                                    return core::AnsiCompareText(a, b) == 0;
                                });
        if (duplicates_ == dupError && last != items_.end())
            throw EStringListError("String list does not allow duplicates");
        items_.erase(last, items_.end());
    }
}
