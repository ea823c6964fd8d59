#pragma once

#include <string>
#include <string_view>
#include <vector>

// What a sorted list does with a string that it already holds.
enum TDuplicates { dupIgnore, dupAccept, dupError };

// An ordered list of strings. Unsorted, it keeps the order of insertion; sorted, it keeps its
// strings in the platform's locale-aware, case-insensitive order and treats strings that
// compare equal as duplicates. Indexes outside the list raise
// "List index out of bounds (%d)".
class TStringList {
public:
    TStringList() = default;

    int Count() const { return int(items_.size()); }
    const std::string& Strings(int index) const;
    const std::string& operator[](int index) const { return Strings(index); }
    void Put(int index, std::string value);

    // Adds a string: at the end when unsorted, at its place when sorted. Returns its index, or
    // the index of the string already held when a duplicate is ignored.
    int Add(std::string value);
    void AddStrings(const TStringList& other);
    void Insert(int index, std::string value);
    void Delete(int index);
    void Clear() { items_.clear(); }
    void Assign(const TStringList& other);

    int IndexOf(std::string_view value) const;
    // Binary search of a sorted list: true when found; index is the match or the insert place.
    bool Find(std::string_view value, int& index) const;

    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates duplicates) { duplicates_ = duplicates; }
    // Sorts the whole list at once; with dupIgnore, strings that compare equal are dropped after
    // the first. Much faster than sorted insertion for long lists.
    void Sort();

    const std::vector<std::string>& items() const { return items_; }

private:
    void checkIndex(int index) const;

    std::vector<std::string> items_;
    bool sorted_ = false;
    TDuplicates duplicates_ = dupIgnore;
};
