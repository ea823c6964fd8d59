#pragma once

#include "core/Exceptions.h"
#include "core/Format.h"

#include <memory>
#include <vector>

// A list of objects that it owns. Clearing it frees every object from the first index to the
// last and then empties it; destroying it clears it first. Freeing the object at one index
// leaves an empty entry in its place, so indexes of the other objects stay valid.
template <class T> class TMPOwnedObjectList {
public:
    TMPOwnedObjectList() = default;
    TMPOwnedObjectList(const TMPOwnedObjectList&) = delete;
    TMPOwnedObjectList& operator=(const TMPOwnedObjectList&) = delete;
    ~TMPOwnedObjectList() { Clear(); }

    int Count() const { return static_cast<int>(items_.size()); }

    // The object at index, or nullptr for a freed entry. Indexes outside the list raise
    // "List index out of bounds (%d)".
    T* Items(int index) const { return items_[checked(index)].get(); }
    T* operator[](int index) const { return Items(index); }

    // Takes ownership of item and returns its index.
    int Add(std::unique_ptr<T> item)
    {
        items_.push_back(std::move(item));
        return Count() - 1;
    }

    // Frees the object at index; the entry stays, empty.
    void FreeItem(int index) { items_[checked(index)].reset(); }

    void Clear()
    {
        for (auto& item : items_)
            item.reset();
        items_.clear();
    }

private:
    std::size_t checked(int index) const
    {
        if (index < 0 || index >= Count())
            throw EListError(core::Format("List index out of bounds (%d)", {index}));
        return static_cast<std::size_t>(index);
    }

    std::vector<std::unique_ptr<T>> items_;
};
