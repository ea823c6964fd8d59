#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What a sorted list does with a string that it already holds.
enum TDuplicates { dupIgnore, dupAccept, dupError };

// An ordered list of strings. Unsorted, it keeps the order of insertion; sorted, it keeps its
// strings in the platform's locale-aware, case-insensitive order and treats strings that
// compare equal as duplicates. Indexes outside the list raise
// "List index out of bounds (%d)".
//
// A scan can list hundreds of thousands of paths, so the texts are packed one after another in
// large blocks rather than each in its own allocation, and the list's entries live in a
// segmented array that grows without moving what it holds: a long list costs little more than
// the bytes of its texts. A text is seen through a std::string_view, which stays valid until
// the list is changed.
class TStringList {
public:
    TStringList() = default;
    TStringList(const TStringList& other);
    TStringList& operator=(const TStringList& other);
    TStringList(TStringList&& other) noexcept = default;
    TStringList& operator=(TStringList&& other) noexcept = default;
    ~TStringList();

    int Count() const { return int(items_.size()); }
    std::string_view Strings(int index) const;
    std::string_view operator[](int index) const { return Strings(index); }
    void Put(int index, std::string_view value);

    // Adds a string: at the end when unsorted, at its place when sorted. Returns its index, or
    // the index of the string already held when a duplicate is ignored.
    int Add(std::string_view value);
    void AddStrings(const TStringList& other);
    // Adds every string of other, which is left empty; when this list is empty, other's texts
    // are taken over without being copied.
    void AddStrings(TStringList&& other);
    void Insert(int index, std::string_view value);
    void Delete(int index);
    void Clear();
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

    // A copy of the texts, for code that keeps them beyond the list's next change.
    std::vector<std::string> Texts() const;

private:
    struct Item {
        const char* data;
        std::uint32_t size;
        // The place the text had before a sort, so that texts comparing equal keep their order.
        std::uint32_t order;
    };

public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        const_iterator() = default;
        std::string_view operator*() const { return {it_->data, it_->size}; }
        const_iterator& operator++()
        {
            ++it_;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++it_;
            return before;
        }
        bool operator==(const const_iterator&) const = default;

    private:
        friend class TStringList;
        explicit const_iterator(std::deque<Item>::const_iterator it) : it_(it) {}
        std::deque<Item>::const_iterator it_;
    };
    const_iterator begin() const { return const_iterator(items_.begin()); }
    const_iterator end() const { return const_iterator(items_.end()); }

private:
    static std::string_view view(const Item& item) { return {item.data, item.size}; }
    void checkIndex(int index) const;
    // Copies a text into the blocks.
    Item store(std::string_view text);
    // Notes that a stored text is no longer used, and packs the blocks again once most of
    // their bytes are such leftovers.
    void release(const Item& item);
    void compact();

    std::deque<Item> items_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    std::size_t room_ = 0;
    std::size_t lastBlockSize_ = 0;
    // Bytes of the texts in the list, and bytes given out from the blocks.
    std::size_t liveBytes_ = 0;
    std::size_t storedBytes_ = 0;
    bool sorted_ = false;
    TDuplicates duplicates_ = dupIgnore;
};
