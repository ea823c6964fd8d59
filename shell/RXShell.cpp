#include "shell/RXShell.h"

#include "desktop/TApplication.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

// ---------------------------------------------------------------------------------------------
// TTimerThread

struct TTimerThread::State {
    std::mutex mutex;
    std::condition_variable wake;
    TRxTrayIcon* owner = nullptr;
    bool suspended = false;
    bool terminated = false;
    unsigned interval = 150;
};

namespace {

void timerLoop(std::shared_ptr<TTimerThread::State> state)
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return state->terminated || !state->suspended; });
        if (state->terminated)
            return;
        // Without an owner there is nothing to animate: wait for the request to end.
        if (!state->owner) {
            state->wake.wait(lock, [&] { return state->terminated || state->owner; });
            continue;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(state->interval);
        state->wake.wait_until(lock, deadline,
                               [&] { return state->terminated || !state->owner; });
        if (state->terminated || !state->owner || state->suspended)
            continue;
        // The step runs on the main thread, which owns the icon. The owner is cleared under
        // this lock before it goes away, and a queued call dies with its receiver, so the
        // step never reaches a destroyed icon.
        TRxTrayIcon* owner = state->owner;
        const TTimerThread::State* self = state.get();
        QMetaObject::invokeMethod(
            owner,
            [owner, self] {
                if (owner->TimerThread() && owner->TimerThread()->Owns(self))
                    owner->Tick();
            },
            Qt::QueuedConnection);
    }
}

} // namespace

TTimerThread::TTimerThread(TRxTrayIcon* owner, bool createSuspended)
    : state_(std::make_shared<State>())
{
    state_->owner = owner;
    state_->suspended = createSuspended;
    state_->interval = owner ? owner->Interval() : 150;
    std::thread(timerLoop, state_).detach();
}

TTimerThread::~TTimerThread()
{
    ClearOwner();
    Terminate();
}

void TTimerThread::Suspend()
{
    std::lock_guard lock(state_->mutex);
    state_->suspended = true;
}

void TTimerThread::Resume()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->suspended = false;
    }
    state_->wake.notify_all();
}

bool TTimerThread::Suspended() const
{
    std::lock_guard lock(state_->mutex);
    return state_->suspended;
}

void TTimerThread::Terminate()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->terminated = true;
    }
    state_->wake.notify_all();
}

void TTimerThread::ClearOwner()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->owner = nullptr;
    }
    state_->wake.notify_all();
}

void TTimerThread::SetInterval(unsigned milliseconds)
{
    std::lock_guard lock(state_->mutex);
    state_->interval = milliseconds;
}

// ---------------------------------------------------------------------------------------------
// TRxTrayIcon

TRxTrayIcon::TRxTrayIcon(QObject* owner) : QObject(owner)
{
    icon_.OnChange = [this](TIcon*) { iconChanged(); };
    icons_.OnChange = [this](TIconList*) { iconChanged(); };
}

TRxTrayIcon::~TRxTrayIcon()
{
    destroying_ = true;
    icons_.OnChange = nullptr;
    icon_.OnChange = nullptr;
    SetAnimated(false);
    RemoveIcon();
    if (popupMenuDestroyed_)
        QObject::disconnect(popupMenuDestroyed_);
    delete trayIcon_;
}

void TRxTrayIcon::iconChanged() { UpdateIcon(); }

void TRxTrayIcon::Loaded()
{
    if (active_)
        AddIcon();
}

void TRxTrayIcon::SetActive(bool value)
{
    if (value == active_)
        return;
    active_ = value;
    if (value)
        AddIcon();
    else
        RemoveIcon();
}

void TRxTrayIcon::SetShowDesign(bool)
{
    // Only the design environment shows icons on request; a running program has none, so the
    // icon is never added this way and the value stays what the shell made it: not added.
}

void TRxTrayIcon::SetHint(const std::string& value)
{
    if (value == hint_)
        return;
    hint_ = value;
    UpdateIcon();
}

void TRxTrayIcon::SetInterval(unsigned value)
{
    interval_ = value & 0xFFFF;
    if (timer_)
        timer_->SetInterval(interval_);
}

void TRxTrayIcon::SetPopupMenu(TPopupMenu* value)
{
    if (popupMenuDestroyed_)
        QObject::disconnect(popupMenuDestroyed_);
    popupMenu_ = value;
    if (value)
        popupMenuDestroyed_ =
            connect(value, &QObject::destroyed, this, [this] { SetPopupMenu(nullptr); });
}

std::string TRxTrayIcon::ShortHint() const
{
    std::string shortHint = hint_.substr(0, hint_.find('|'));
    if (shortHint.size() > 63)
        shortHint.resize(63);
    return shortHint;
}

const TIcon* TRxTrayIcon::CurrentIcon() const
{
    if (icons_.Count() > 0 && animated_)
        return icons_.Icons(std::clamp(frameIndex_, 0, icons_.Count() - 1));
    return &icon_;
}

void TRxTrayIcon::fillIconData()
{
    iconData_ = NOTIFYICONDATA{};
    iconData_.cbSize = 88;
    iconData_.hWnd = reinterpret_cast<std::uintptr_t>(this);
    iconData_.uID = 0;
    iconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    iconData_.uCallbackMessage = CM_TRAYICON;
    const TIcon* current = CurrentIcon();
    iconData_.hIcon = current ? current->Handle() : kNoIconHandle;
    const std::string tip = ShortHint();
    std::memcpy(iconData_.szTip, tip.data(), tip.size());
    iconData_.szTip[tip.size()] = '\0';
}

bool TRxTrayIcon::notify(std::uint32_t message)
{
    if (notifyHandler_)
        return notifyHandler_(message, iconData_);
    return shellNotify(message, iconData_);
}

// The desktop's notification area through Qt; refuses everything where there is none.
bool TRxTrayIcon::shellNotify(std::uint32_t message, const NOTIFYICONDATA& data)
{
    const TIcon* current = CurrentIcon();
    const QIcon icon = current ? current->toQIcon() : QIcon();
    switch (message) {
    case NIM_ADD:
        if (!QSystemTrayIcon::isSystemTrayAvailable() || icon.isNull())
            return false;
        if (!trayIcon_) {
            trayIcon_ = new QSystemTrayIcon(this);
            connect(trayIcon_, &QSystemTrayIcon::activated, this,
                    [this](QSystemTrayIcon::ActivationReason reason) {
                        // The desktop reports whole gestures; they arrive as the messages the
                        // window would have received.
                        auto send = [this](unsigned mouseMessage) {
                            WndProc(CM_TRAYICON, 0, std::intptr_t(mouseMessage));
                        };
                        switch (reason) {
                        case QSystemTrayIcon::Trigger:
                            send(WM_LBUTTONDOWN);
                            send(WM_LBUTTONUP);
                            break;
                        case QSystemTrayIcon::DoubleClick:
                            send(WM_LBUTTONDBLCLK);
                            send(WM_LBUTTONUP);
                            break;
                        case QSystemTrayIcon::Context:
                            send(WM_RBUTTONDOWN);
                            send(WM_RBUTTONUP);
                            break;
                        case QSystemTrayIcon::MiddleClick:
                            send(WM_MBUTTONDOWN);
                            send(WM_MBUTTONUP);
                            break;
                        default:
                            break;
                        }
                    });
        }
        trayIcon_->setIcon(icon);
        trayIcon_->setToolTip(QString::fromUtf8(data.szTip));
        trayIcon_->show();
        return true;
    case NIM_MODIFY:
        if (!trayIcon_ || !trayIcon_->isVisible())
            return false;
        trayIcon_->setIcon(icon);
        trayIcon_->setToolTip(QString::fromUtf8(data.szTip));
        return true;
    case NIM_DELETE:
        if (!trayIcon_ || !trayIcon_->isVisible())
            return false;
        trayIcon_->hide();
        return true;
    default:
        return false;
    }
}

void TRxTrayIcon::AddIcon()
{
    RemoveIcon();
    const TIcon* current = CurrentIcon();
    if (!current || current->Empty())
        return;
    clicked_ = 0;
    fillIconData();
    added_ = notify(NIM_ADD);
    if (ShortHint().empty() && added_)
        notify(NIM_MODIFY);
    if (animated_ && timer_)
        timer_->Resume();
}

void TRxTrayIcon::RemoveIcon()
{
    notify(NIM_DELETE);
    added_ = false;
    clicked_ = 0;
    if (animated_ && timer_ && !timer_->Suspended())
        timer_->Suspend();
}

void TRxTrayIcon::UpdateIcon()
{
    if (icons_.Count() == 0)
        SetAnimated(false);
    if (added_) {
        const TIcon* current = CurrentIcon();
        if (!current || current->Empty()) {
            RemoveIcon();
        } else {
            fillIconData();
            notify(NIM_MODIFY);
        }
    } else if (active_ && !destroying_) {
        AddIcon();
    }
}

void TRxTrayIcon::SetAnimated(bool value)
{
    const bool effective = value && icons_.Count() > 0;
    if (effective == animated_)
        return;
    if (effective) {
        timer_ = std::make_unique<TTimerThread>(this, !added_);
        animated_ = true;
    } else {
        animated_ = false;
        timer_->ClearOwner();
        timer_->Resume();
        timer_->Terminate();
        timer_.reset();
    }
    frameIndex_ = 0;
    UpdateIcon();
}

void TRxTrayIcon::Tick()
{
    if (destroying_ || !animated_)
        return;
    ++frameIndex_;
    if (frameIndex_ >= icons_.Count())
        frameIndex_ = 0;
    UpdateIcon();
}

std::intptr_t TRxTrayIcon::WndProc(unsigned message, std::uintptr_t, std::intptr_t lParam)
{
    if (message != CM_TRAYICON)
        return 0;
    Application().Guard([&] { handleMouseMessage(unsigned(lParam)); });
    return 0;
}

void TRxTrayIcon::handleMouseMessage(unsigned mouseMessage)
{
    const QPoint cursor = QCursor::pos();
    const int x = cursor.x(), y = cursor.y();
    TShiftState shift = 0;
    const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
    if (keys & Qt::ShiftModifier)
        shift |= ssShift;
    if (keys & Qt::ControlModifier)
        shift |= ssCtrl;
    if (keys & Qt::AltModifier)
        shift |= ssAlt;

    switch (mouseMessage) {
    case WM_MOUSEMOVE:
        MouseMove(shift, x, y);
        break;
    case WM_LBUTTONDOWN:
        clicked_ |= clickedLeft;
        MouseDown(mbLeft, shift | ssLeft, x, y);
        break;
    case WM_LBUTTONUP: {
        const bool wasDown = clicked_ & clickedLeft;
        clicked_ &= ~unsigned(clickedLeft);
        if (wasDown)
            DoClick(mbLeft, shift | ssLeft, x, y);
        MouseUp(mbLeft, shift | ssLeft, x, y);
        break;
    }
    case WM_LBUTTONDBLCLK:
        DblClick();
        MouseDown(mbLeft, shift | ssDouble, x, y);
        break;
    case WM_RBUTTONDOWN:
        clicked_ |= clickedRight;
        MouseDown(mbRight, shift | ssRight, x, y);
        break;
    case WM_RBUTTONUP: {
        const bool wasDown = clicked_ & clickedRight;
        clicked_ &= ~unsigned(clickedRight);
        if (wasDown)
            DoClick(mbRight, shift | ssRight, x, y);
        MouseUp(mbRight, shift | ssRight, x, y);
        break;
    }
    case WM_RBUTTONDBLCLK:
        MouseDown(mbRight, shift | ssDouble, x, y);
        break;
    case WM_MBUTTONDOWN:
        MouseDown(mbMiddle, shift | ssMiddle, x, y);
        break;
    case WM_MBUTTONUP:
        MouseUp(mbMiddle, shift | ssMiddle, x, y);
        break;
    case WM_MBUTTONDBLCLK:
        MouseDown(mbMiddle, shift | ssDouble, x, y);
        break;
    default:
        break;
    }
}

bool TRxTrayIcon::popup(int x, int y)
{
    if (!active_ || !popupMenu_ || !popupMenu_->AutoPopup)
        return false;
    popupMenu_->PopupComponent = this;
    if (!destroying_) {
        // Drop mouse captures and open menus of the program's windows first.
        if (QWidget* grabber = QWidget::mouseGrabber())
            grabber->releaseMouse();
        if (QWidget* open = QApplication::activePopupWidget())
            open->close();
    }
    Application().ProcessMessages();
    QPointer<TPopupMenu> menu = popupMenu_;
    menu->Popup(x, y);
    return true;
}

void TRxTrayIcon::DblClick()
{
    if (active_ && popupMenu_) {
        for (int i = 0; i < popupMenu_->Count(); ++i) {
            TMenuItem* item = popupMenu_->Items(i);
            if (item->Default && item->Enabled) {
                item->Click();
                return;
            }
        }
    }
    if (OnDblClick)
        OnDblClick(this);
}

void TRxTrayIcon::DoClick(TMouseButton button, TShiftState shift, int x, int y)
{
    if (button == mbRight && popup(x, y))
        return;
    if (OnClick)
        OnClick(this, button, shift, x, y);
}

void TRxTrayIcon::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
}

void TRxTrayIcon::MouseMove(TShiftState shift, int x, int y)
{
    if (OnMouseMove)
        OnMouseMove(this, shift, x, y);
}

void TRxTrayIcon::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (OnMouseUp)
        OnMouseUp(this, button, shift, x, y);
}
