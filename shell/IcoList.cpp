#include "shell/IcoList.h"

#include "core/Exceptions.h"
#include "core/Format.h"

#include <cstdint>

namespace {

std::int32_t readInt32(std::string_view bytes, std::size_t& at)
{
    if (at > bytes.size() || bytes.size() - at < 4)
        throw EReadError("Stream read error");
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t(std::uint8_t(bytes[at + std::size_t(i)])) << (8 * i);
    at += 4;
    return std::int32_t(v);
}

void writeInt32(std::string& out, std::int32_t value)
{
    const auto v = std::uint32_t(value);
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

} // namespace

template <class Operation> void TIconList::asUpdate(Operation&& operation)
{
    OpenUpdate();
    struct Closer {
        TIconList* list;
        ~Closer() { list->CloseUpdate(); }
    } closer{this};
    operation();
}

TIconList::~TIconList()
{
    OnChange = nullptr;
    Clear();
}

void TIconList::checkIndex(int index) const
{
    if (index < 0 || index >= Count())
        throw EListError(core::Format("List index out of bounds (%d)", {index}));
}

void TIconList::link(TIcon& icon)
{
    icon.OnChange = [this](TIcon*) { Change(); };
}

TIcon* TIconList::Icons(int index) const
{
    checkIndex(index);
    return items_[std::size_t(index)].get();
}

void TIconList::Put(int index, const TIcon* icon)
{
    asUpdate([&] {
        if (index == Count())
            Add(nullptr);
        checkIndex(index);
        auto& slot = items_[std::size_t(index)];
        if (!slot)
            slot = std::make_unique<TIcon>();
        link(*slot);
        slot->Assign(icon);
    });
}

void TIconList::insertOwned(int index, std::unique_ptr<TIcon> icon)
{
    if (index < 0 || index > Count())
        throw EListError(core::Format("List index out of bounds (%d)", {index}));
    if (icon)
        link(*icon);
    items_.insert(items_.begin() + index, std::move(icon));
    Change();
}

int TIconList::Add(const TIcon* icon)
{
    const int index = Count();
    Insert(index, icon);
    return index;
}

int TIconList::AddResource(std::string_view iconFileBytes)
{
    const int index = Count();
    InsertResource(index, iconFileBytes);
    return index;
}

void TIconList::Insert(int index, const TIcon* icon)
{
    auto copy = std::make_unique<TIcon>();
    copy->Assign(icon);
    insertOwned(index, std::move(copy));
}

void TIconList::InsertResource(int index, std::string_view iconFileBytes)
{
    auto icon = std::make_unique<TIcon>();
    icon->LoadFromBytes(iconFileBytes);
    insertOwned(index, std::move(icon));
}

void TIconList::Delete(int index)
{
    checkIndex(index);
    auto& slot = items_[std::size_t(index)];
    if (slot)
        unlink(*slot);
    items_.erase(items_.begin() + index);
    Change();
}

void TIconList::Clear()
{
    asUpdate([&] {
        for (int i = Count() - 1; i >= 0; --i)
            Delete(i);
    });
}

void TIconList::Exchange(int index1, int index2)
{
    checkIndex(index1);
    checkIndex(index2);
    std::swap(items_[std::size_t(index1)], items_[std::size_t(index2)]);
    Change();
}

void TIconList::Move(int curIndex, int newIndex)
{
    if (curIndex == newIndex)
        return;
    checkIndex(curIndex);
    checkIndex(newIndex);
    auto icon = std::move(items_[std::size_t(curIndex)]);
    items_.erase(items_.begin() + curIndex);
    items_.insert(items_.begin() + newIndex, std::move(icon));
    Change();
}

int TIconList::IndexOf(const TIcon* icon) const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == icon)
            return int(i);
    return -1;
}

void TIconList::Assign(const TIconList* source)
{
    if (source == this)
        return;
    asUpdate([&] {
        Clear();
        if (source)
            for (const auto& icon : source->items_)
                Add(icon.get());
    });
}

void TIconList::Assign(const TIcon* source)
{
    asUpdate([&] {
        Clear();
        if (source)
            Add(source);
    });
}

void TIconList::Assign(const TStringList*)
{
    throw EConvertError(core::Format("Cannot assign a %s to a %s", {"TStringList", "TIconList"}));
}

void TIconList::CloseUpdate()
{
    if (updateCount_ == 1) {
        updateCount_ = 0;
        Change();
        return;
    }
    --updateCount_;
}

void TIconList::Change()
{
    if (updateCount_ == 0 && OnChange)
        OnChange(this);
}

std::string TIconList::WriteData() const
{
    std::string out;
    writeInt32(out, std::int32_t(items_.size()));
    for (const auto& icon : items_) {
        const std::string image = icon ? icon->SaveToBytes() : std::string();
        writeInt32(out, std::int32_t(image.size()));
        out += image;
    }
    return out;
}

void TIconList::ReadData(std::string_view bytes)
{
    // Everything is read before the list changes, so that damaged data leaves no half-filled
    // list behind.
    std::size_t at = 0;
    const std::int32_t count = readInt32(bytes, at);
    if (count > 0 && std::size_t(count) > (bytes.size() - at) / 4)
        throw EReadError("Stream read error");
    std::vector<std::unique_ptr<TIcon>> loaded;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t size = readInt32(bytes, at);
        if (size <= 0) {
            loaded.push_back(nullptr);
            continue;
        }
        if (std::size_t(size) > bytes.size() - at)
            throw EReadError("Stream read error");
        auto icon = std::make_unique<TIcon>();
        icon->LoadFromBytes(bytes.substr(at, std::size_t(size)));
        at += std::size_t(size);
        loaded.push_back(std::move(icon));
    }
    asUpdate([&] {
        Clear();
        items_ = std::move(loaded);
        for (auto& icon : items_)
            if (icon)
                link(*icon);
    });
}

bool TIconList::ShouldStore(const TIconList* ancestor) const
{
    if (ancestor && ancestor->Count() == Count() && Count() > 0) {
        for (int i = 0; i < Count(); ++i)
            if (items_[std::size_t(i)].get() != ancestor->items_[std::size_t(i)].get())
                return true;
        return false;
    }
    return Count() > 0;
}
