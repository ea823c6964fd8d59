#pragma once

#include "core/TShiftState.h"
#include "shell/IcoList.h"
#include "shell/TIcon.h"
#include "shell/TPopupMenu.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QSystemTrayIcon;

// The record that describes a notification-area icon to the shell.
struct NOTIFYICONDATA {
    std::uint32_t cbSize = 88;           // size of the record
    std::uintptr_t hWnd = 0;             // the window that receives the callback messages
    std::uint32_t uID = 0;               // the icon's number for that window
    std::uint32_t uFlags = 0;            // which of the next three fields are valid
    std::uint32_t uCallbackMessage = 0;  // message sent to the window on mouse activity
    std::uintptr_t hIcon = 0;            // the icon shown
    char szTip[64] = {};                 // tooltip, zero-terminated
};

// Operations of the shell's notification area.
inline constexpr std::uint32_t NIM_ADD = 0;
inline constexpr std::uint32_t NIM_MODIFY = 1;
inline constexpr std::uint32_t NIM_DELETE = 2;
inline constexpr std::uint32_t NIF_MESSAGE = 1;
inline constexpr std::uint32_t NIF_ICON = 2;
inline constexpr std::uint32_t NIF_TIP = 4;
// An icon handle that stands for no icon.
inline constexpr std::uintptr_t kNoIconHandle = 0xFFFFFFFFu;

// Mouse messages that the shell reports for the icon.
inline constexpr unsigned WM_MOUSEMOVE = 0x0200;
inline constexpr unsigned WM_LBUTTONDOWN = 0x0201;
inline constexpr unsigned WM_LBUTTONUP = 0x0202;
inline constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
inline constexpr unsigned WM_RBUTTONDOWN = 0x0204;
inline constexpr unsigned WM_RBUTTONUP = 0x0205;
inline constexpr unsigned WM_RBUTTONDBLCLK = 0x0206;
inline constexpr unsigned WM_MBUTTONDOWN = 0x0207;
inline constexpr unsigned WM_MBUTTONUP = 0x0208;
inline constexpr unsigned WM_MBUTTONDBLCLK = 0x0209;
// The message with which the shell reports mouse activity over the icon.
inline constexpr unsigned CM_TRAYICON = 0xB054;

class TRxTrayIcon;

// The worker that drives a tray icon's animation: it sleeps the owner's interval and then hands
// one animation step to the main thread. It can be suspended and resumed, and frees itself when
// it ends after being asked to terminate.
class TTimerThread {
public:
    TTimerThread(TRxTrayIcon* owner, bool createSuspended);
    ~TTimerThread();
    TTimerThread(const TTimerThread&) = delete;
    TTimerThread& operator=(const TTimerThread&) = delete;

    void Suspend();
    void Resume();
    bool Suspended() const;
    // Asks the thread to end; it ends at once if it is sleeping.
    void Terminate();
    // Cuts the link to the owner; no step is handed over afterwards.
    void ClearOwner();
    void SetInterval(unsigned milliseconds);

    struct State;
    bool Owns(const State* state) const { return state_.get() == state; }

private:
    std::shared_ptr<State> state_;
};

// An icon in the shell's notification area: it shows Icon (or the frames of Icons in turn
// while Animated), shows Hint as its tooltip, turns the shell's mouse reports into events,
// opens PopupMenu on a right click and runs the menu's default item on a double click. Where
// the desktop has no notification area, the icon keeps its state and events and shows nothing.
class TRxTrayIcon : public QObject {
public:
    explicit TRxTrayIcon(QObject* owner = nullptr);
    ~TRxTrayIcon() override;

    using TMouseEvent =
        std::function<void(TRxTrayIcon* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
    using TMouseMoveEvent = std::function<void(TRxTrayIcon* Sender, TShiftState Shift, int X, int Y)>;
    using TNotifyEvent = std::function<void(TRxTrayIcon* Sender)>;
    // The shell's notification-area operation: NIM_ADD, NIM_MODIFY or NIM_DELETE with the
    // icon's record; true when the shell accepted it.
    using NotifyIconHandler = std::function<bool(std::uint32_t message, const NOTIFYICONDATA& data)>;

    // Called once the owner has set the stored properties: shows the icon when Active.
    void Loaded();

    bool Active() const { return active_; }
    void SetActive(bool value);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& value);
    TIcon* Icon() { return &icon_; }
    void SetIcon(const TIcon* value) { icon_.Assign(value); }
    TIconList* Icons() { return &icons_; }
    void SetIcons(const TIconList* value) { icons_.Assign(value); }
    bool Animated() const { return animated_; }
    void SetAnimated(bool value);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned value);
    TPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(TPopupMenu* value);
    bool ShowDesign() const { return showDesign_; }
    void SetShowDesign(bool value);

    TMouseEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

    void AddIcon();
    void RemoveIcon();
    void UpdateIcon();

    // The message handler of the icon's window: CM_TRAYICON carries the mouse message in
    // lParam; every other message is left to the default handling. Returns the message result.
    std::intptr_t WndProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

    // State that the shell sees.
    bool IconAdded() const { return added_; }
    int FrameIndex() const { return frameIndex_; }
    const NOTIFYICONDATA& IconData() const { return iconData_; }
    // The icon shown now: the current frame while animated, else Icon; nullptr for none.
    const TIcon* CurrentIcon() const;
    // The hint up to its first "|", at most 63 characters.
    std::string ShortHint() const;

    // Replaces the shell (tests record the calls); an empty handler restores it.
    void SetNotifyIconHandler(NotifyIconHandler handler) { notifyHandler_ = std::move(handler); }

    // One step of the animation, as the timer thread hands it to the main thread.
    void Tick();
    // The running worker, or nullptr.
    TTimerThread* TimerThread() const { return timer_.get(); }

protected:
    virtual void DblClick();
    virtual void DoClick(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);

private:
    enum ClickedButton : unsigned { clickedLeft = 1, clickedRight = 2 };

    void fillIconData();
    bool notify(std::uint32_t message);
    bool shellNotify(std::uint32_t message, const NOTIFYICONDATA& data);
    void handleMouseMessage(unsigned mouseMessage);
    bool popup(int x, int y);
    void iconChanged();

    bool active_ = true;
    bool added_ = false;
    bool animated_ = false;
    unsigned clicked_ = 0;
    int frameIndex_ = -1;
    unsigned interval_ = 150;
    NOTIFYICONDATA iconData_;
    TIcon icon_;
    TIconList icons_;
    std::unique_ptr<TTimerThread> timer_;
    bool destroying_ = false;
    std::string hint_;
    bool showDesign_ = false;
    QPointer<TPopupMenu> popupMenu_;
    QMetaObject::Connection popupMenuDestroyed_;
    NotifyIconHandler notifyHandler_;
    // The desktop's icon, made when the shell first accepts an add.
    QSystemTrayIcon* trayIcon_ = nullptr;
};
