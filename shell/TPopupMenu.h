#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// One command of a popup menu.
class TMenuItem {
public:
    explicit TMenuItem(std::string caption) : Caption(std::move(caption)) {}
    virtual ~TMenuItem() = default;

    std::string Caption;
    // The default item is shown in bold and runs on a double click of the menu's owner.
    bool Default = false;
    bool Enabled = true;
    std::function<void(TMenuItem* Sender)> OnClick;

    // Runs the command as if the user had chosen it; a disabled item does nothing.
    virtual void Click();
};

// A menu that opens at a screen position, owned by a window.
class TPopupMenu : public QObject {
public:
    explicit TPopupMenu(QObject* owner = nullptr) : QObject(owner) {}

    // Whether the menu opens by itself on a right click of the control it belongs to.
    bool AutoPopup = true;
    // The component that opened the menu last.
    QObject* PopupComponent = nullptr;

    // Appends an item and returns it; the menu owns it.
    TMenuItem* Add(std::string caption);
    int Count() const { return int(items_.size()); }
    TMenuItem* Items(int index) const { return items_.at(std::size_t(index)).get(); }

    // Shows the menu at the screen position and waits until it closes; a chosen item runs.
    virtual void Popup(int x, int y);

private:
    std::vector<std::unique_ptr<TMenuItem>> items_;
};
