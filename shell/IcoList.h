#pragma once

#include "shell/TIcon.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TStringList;

// An ordered list of icons that owns them. An entry may be empty (no icon object). Every change
// raises OnChange, except inside an update (OpenUpdate ... CloseUpdate), which raises it once
// at its end. Each icon in the list tells the list when its image changes.
class TIconList {
public:
    TIconList() = default;
    ~TIconList();
    TIconList(const TIconList&) = delete;
    TIconList& operator=(const TIconList&) = delete;

    std::function<void(TIconList* Sender)> OnChange;

    int Count() const { return int(items_.size()); }
    // The icon at index, or nullptr for an empty entry. An index outside the list raises
    // EListError "List index out of bounds (%d)".
    TIcon* Icons(int index) const;
    // Copies icon into the entry at index; index == Count appends a new entry.
    void Put(int index, const TIcon* icon);

    // Appends a copy of icon and returns its index.
    int Add(const TIcon* icon);
    // Appends an icon loaded from icon file bytes (the program's own icon resources).
    int AddResource(std::string_view iconFileBytes);
    void Insert(int index, const TIcon* icon);
    void InsertResource(int index, std::string_view iconFileBytes);
    void Delete(int index);
    void Clear();
    void Exchange(int index1, int index2);
    void Move(int curIndex, int newIndex);
    // The index of that very icon object, or -1.
    int IndexOf(const TIcon* icon) const;

    // Makes this list a copy: of another list (a copy of each entry), of one icon (a list of
    // that one), or of nothing (empty).
    void Assign(const TIconList* source);
    void Assign(const TIcon* source);
    // A list of strings is no list of icons: raises EConvertError
    // "Cannot assign a TStringList to a TIconList" and leaves the list as it is.
    void Assign(const TStringList* source);

    void OpenUpdate() { ++updateCount_; }
    void CloseUpdate();

    // The stored form: count, then per entry its size and its icon file bytes (size 0 for an
    // empty entry), every number a signed 32-bit little-endian integer.
    std::string WriteData() const;
    // Replaces the list with a stored form. Damaged data raises EReadError "Stream read error"
    // or EInvalidGraphic and leaves the list as it was.
    void ReadData(std::string_view bytes);
    // Whether the stored form is worth writing, given the ancestor's list (or none).
    bool ShouldStore(const TIconList* ancestor) const;

protected:
    virtual void Change();

private:
    // Runs an operation as one update, closing it also when the operation fails.
    template <class Operation> void asUpdate(Operation&& operation);
    void checkIndex(int index) const;
    // Links an icon's change notification to this list.
    void link(TIcon& icon);
    static void unlink(TIcon& icon) { icon.OnChange = nullptr; }
    void insertOwned(int index, std::unique_ptr<TIcon> icon);

    std::vector<std::unique_ptr<TIcon>> items_;
    int updateCount_ = 0;
};
