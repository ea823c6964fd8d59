#include "shell/RXShell.h"

#include "core/Exceptions.h"

#include "shell/CrestwickIcon.h"
#include "tests/support/TempPrefix.h"

#include <QTest>

#include <cstring>
#include <thread>
#include <vector>

namespace {

struct ShellCall {
    std::uint32_t message;
    NOTIFYICONDATA data;
    bool onMainThread;
};

// Stands in for the notification area: records every call and accepts it.
class TrayRecorder {
public:
    explicit TrayRecorder(bool accept = true) : accept_(accept) {}
    // The recorder must outlive the icon, which reports its removal when destroyed.
    void attach(TRxTrayIcon& tray)
    {
        const auto mainThread = std::this_thread::get_id();
        tray.SetNotifyIconHandler([this, mainThread](std::uint32_t message,
                                                     const NOTIFYICONDATA& data) {
            calls.push_back({message, data, std::this_thread::get_id() == mainThread});
            return accept_;
        });
    }
    std::vector<std::uint32_t> messages() const
    {
        std::vector<std::uint32_t> out;
        for (const auto& c : calls)
            out.push_back(c.message);
        return out;
    }
    std::vector<ShellCall> calls;

private:
    bool accept_;
};

std::unique_ptr<TIcon> crestIcon()
{
    auto icon = std::make_unique<TIcon>();
    icon->LoadFromBytes(CrestwickIconBytes());
    return icon;
}

// A popup menu that records where it was opened instead of showing itself.
class RecordingMenu : public TPopupMenu {
public:
    using TPopupMenu::TPopupMenu;
    void Popup(int, int) override { ++opened; }
    int opened = 0;
};

class TRxTrayIconTest : public TempPrefixTest {};

TEST_F(TRxTrayIconTest, MainWindowIconIsShownFromLoadUntilDestruction)
{
    std::vector<std::uint32_t> messages;
    {
        TrayRecorder shell;
        TRxTrayIcon tray;
        shell.attach(tray);
        auto icon = crestIcon();
        tray.SetIcon(icon.get());
        tray.Loaded();
        EXPECT_TRUE(tray.IconAdded());
        EXPECT_EQ(shell.messages(),
                  (std::vector<std::uint32_t>{NIM_DELETE, NIM_ADD, NIM_MODIFY, NIM_DELETE, NIM_ADD,
                                              NIM_MODIFY}));
        const NOTIFYICONDATA& data = shell.calls.back().data;
        EXPECT_EQ(data.cbSize, 88u);
        EXPECT_EQ(data.hWnd, reinterpret_cast<std::uintptr_t>(&tray));
        EXPECT_EQ(data.uID, 0u);
        EXPECT_EQ(data.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
        EXPECT_EQ(data.uCallbackMessage, 0xB054u);
        EXPECT_EQ(data.hIcon, tray.Icon()->Handle());
        EXPECT_STREQ(data.szTip, "");
        shell.calls.clear();
        tray.SetNotifyIconHandler([&](std::uint32_t message, const NOTIFYICONDATA&) {
            messages.push_back(message);
            return true;
        });
    }
    EXPECT_EQ(messages, std::vector<std::uint32_t>{NIM_DELETE});
}

TEST_F(TRxTrayIconTest, HintShowsTheTextBeforeTheBarCutTo63Characters)
{
    TrayRecorder shell;
    TRxTrayIcon tray;
    shell.attach(tray);
    tray.SetIcon(crestIcon().get());
    const std::pair<std::string, std::string> cases[] = {
        {"Short|Long hint", "Short"},
        {"No bar", "No bar"},
        {std::string(80, 'x'), std::string(63, 'x')},
        {std::string(70, 'y') + "|z", std::string(63, 'y')},
        {"|after", ""},
    };
    for (const auto& [hint, shown] : cases) {
        tray.SetHint(hint);
        EXPECT_EQ(tray.Hint(), hint);
        EXPECT_EQ(std::string(tray.IconData().szTip), shown);
        EXPECT_EQ(shell.calls.back().message, NIM_MODIFY);
    }
}

TEST_F(TRxTrayIconTest, ActiveAndEmptyIconAddAndRemoveTheIcon)
{
    TrayRecorder shell;
    TRxTrayIcon tray;
    shell.attach(tray);
    tray.SetIcon(crestIcon().get());
    ASSERT_TRUE(tray.IconAdded());
    tray.SetActive(false);
    EXPECT_FALSE(tray.IconAdded());
    EXPECT_EQ(shell.calls.back().message, NIM_DELETE);
    tray.SetActive(true);
    EXPECT_TRUE(tray.IconAdded());

    tray.SetIcon(nullptr);
    EXPECT_FALSE(tray.IconAdded());
    EXPECT_EQ(shell.calls.back().message, NIM_DELETE);
}

TEST_F(TRxTrayIconTest, RefusedAddLeavesTheIconNotAddedAndRetriesOnUpdate)
{
    TrayRecorder shell(false);
    TRxTrayIcon tray;
    shell.attach(tray);
    tray.SetIcon(crestIcon().get());
    EXPECT_FALSE(tray.IconAdded());
    shell.calls.clear();
    tray.SetHint("again");
    EXPECT_EQ(shell.messages(), (std::vector<std::uint32_t>{NIM_DELETE, NIM_ADD}));
}

TEST_F(TRxTrayIconTest, WithoutANotificationAreaTheStateIsKept)
{
    TRxTrayIcon tray; // the desktop's own area, which the headless tests do not have
    tray.SetIcon(crestIcon().get());
    tray.SetHint("Crestwick");
    tray.Loaded();
    EXPECT_TRUE(tray.Active());
    EXPECT_FALSE(tray.IconAdded());
    EXPECT_EQ(tray.Hint(), "Crestwick");
    EXPECT_FALSE(tray.Icon()->Empty());
}

TEST_F(TRxTrayIconTest, AnimatedNeedsFrames)
{
    TrayRecorder shell;
    TRxTrayIcon tray;
    shell.attach(tray);
    tray.SetAnimated(true);
    EXPECT_FALSE(tray.Animated());
    EXPECT_EQ(tray.TimerThread(), nullptr);
}

TEST_F(TRxTrayIconTest, AnimationSendsFramesInOrderFromTheMainThread)
{
    TrayRecorder shell;
    TRxTrayIcon tray;
    shell.attach(tray);
    std::vector<std::unique_ptr<TIcon>> frames;
    TIconList list;
    for (int i = 0; i < 3; ++i) {
        frames.push_back(crestIcon()); // each loaded on its own, so each has its own handle
        list.Add(frames.back().get());
    }
    tray.SetIcons(&list);
    tray.SetIcon(crestIcon().get());
    ASSERT_TRUE(tray.IconAdded());
    tray.SetInterval(20);
    shell.calls.clear();
    tray.SetAnimated(true);
    ASSERT_TRUE(tray.Animated());
    EXPECT_EQ(tray.FrameIndex(), 0);

    auto modifies = [&] {
        std::vector<std::uintptr_t> handles;
        for (const auto& c : shell.calls)
            if (c.message == NIM_MODIFY)
                handles.push_back(c.data.hIcon);
        return handles;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return modifies().size() >= 5; }, 10000));
    const std::vector<std::uintptr_t> expected{
        tray.Icons()->Icons(0)->Handle(), tray.Icons()->Icons(1)->Handle(),
        tray.Icons()->Icons(2)->Handle(), tray.Icons()->Icons(0)->Handle(),
        tray.Icons()->Icons(1)->Handle()};
    const auto sent = modifies();
    EXPECT_EQ(std::vector<std::uintptr_t>(sent.begin(), sent.begin() + 5), expected);
    for (const auto& c : shell.calls)
        EXPECT_TRUE(c.onMainThread);

    tray.SetAnimated(false);
    EXPECT_EQ(tray.TimerThread(), nullptr);
    EXPECT_EQ(tray.IconData().hIcon, tray.Icon()->Handle());
    // No step arrives after the animation has been switched off.
    const std::size_t count = shell.calls.size();
    QTest::qWait(100);
    EXPECT_EQ(shell.calls.size(), count);
}

TEST_F(TRxTrayIconTest, RemovingTheIconSuspendsTheAnimation)
{
    TrayRecorder shell;
    TRxTrayIcon tray;
    shell.attach(tray);
    auto frame = crestIcon();
    tray.Icons()->Add(frame.get());
    tray.SetIcon(crestIcon().get());
    tray.SetAnimated(true);
    ASSERT_NE(tray.TimerThread(), nullptr);
    EXPECT_FALSE(tray.TimerThread()->Suspended());
    tray.SetActive(false);
    EXPECT_TRUE(tray.TimerThread()->Suspended());
    tray.SetActive(true);
    EXPECT_FALSE(tray.TimerThread()->Suspended());
}

TEST_F(TRxTrayIconTest, MouseMessagesFollowTheTable)
{
    TrayRecorder shell;
    TRxTrayIcon tray;
    shell.attach(tray);
    std::vector<std::string> events;
    tray.OnMouseDown = [&](TRxTrayIcon*, TMouseButton b, TShiftState s, int, int) {
        events.push_back("down" + std::to_string(b) + ((s & ssDouble) ? "d" : ""));
    };
    tray.OnMouseUp = [&](TRxTrayIcon*, TMouseButton b, TShiftState, int, int) {
        events.push_back("up" + std::to_string(b));
    };
    tray.OnClick = [&](TRxTrayIcon*, TMouseButton b, TShiftState, int, int) {
        events.push_back("click" + std::to_string(b));
    };
    tray.OnDblClick = [&](TRxTrayIcon*) { events.push_back("dbl"); };
    tray.OnMouseMove = [&](TRxTrayIcon*, TShiftState, int, int) { events.push_back("move"); };

    const std::pair<std::vector<unsigned>, std::vector<std::string>> cases[] = {
        {{WM_LBUTTONUP}, {"up0"}}, // a release without a press on the icon
        {{WM_LBUTTONDOWN, WM_LBUTTONUP}, {"down0", "click0", "up0"}},
        {{WM_LBUTTONDBLCLK}, {"dbl", "down0d"}},
        {{WM_RBUTTONDOWN, WM_RBUTTONUP}, {"down1", "click1", "up1"}},
        {{WM_RBUTTONDBLCLK}, {"down1d"}},
        {{WM_MBUTTONDOWN, WM_MBUTTONUP}, {"down2", "up2"}},
        {{WM_MBUTTONDBLCLK}, {"down2d"}},
        {{WM_MOUSEMOVE, 0x0300}, {"move"}},
    };
    for (const auto& [messages, expected] : cases) {
        events.clear();
        for (unsigned m : messages)
            tray.WndProc(CM_TRAYICON, 0, std::intptr_t(m));
        EXPECT_EQ(events, expected) << messages.front();
    }
    events.clear();
    tray.WndProc(0x0010, 0, WM_LBUTTONDOWN); // another window message
    EXPECT_TRUE(events.empty());
}

TEST_F(TRxTrayIconTest, RightClickOpensThePopupMenuInsteadOfOnClick)
{
    TrayRecorder shell;
    TRxTrayIcon tray;
    shell.attach(tray);
    RecordingMenu menu;
    tray.SetPopupMenu(&menu);
    int clicks = 0, ups = 0;
    tray.OnClick = [&](TRxTrayIcon*, TMouseButton, TShiftState, int, int) { ++clicks; };
    tray.OnMouseUp = [&](TRxTrayIcon*, TMouseButton, TShiftState, int, int) { ++ups; };
    tray.WndProc(CM_TRAYICON, 0, WM_RBUTTONDOWN);
    tray.WndProc(CM_TRAYICON, 0, WM_RBUTTONUP);
    EXPECT_EQ(menu.opened, 1);
    EXPECT_EQ(menu.PopupComponent, &tray);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(ups, 1);

    menu.AutoPopup = false;
    tray.WndProc(CM_TRAYICON, 0, WM_RBUTTONDOWN);
    tray.WndProc(CM_TRAYICON, 0, WM_RBUTTONUP);
    EXPECT_EQ(menu.opened, 1);
    EXPECT_EQ(clicks, 1);
}

TEST_F(TRxTrayIconTest, DoubleClickRunsTheEnabledDefaultItem)
{
    TrayRecorder shell;
    TRxTrayIcon tray;
    shell.attach(tray);
    RecordingMenu menu;
    TMenuItem* plain = menu.Add("Open");
    TMenuItem* disabledDefault = menu.Add("Hidden");
    TMenuItem* chosen = menu.Add("Show");
    disabledDefault->Default = true;
    disabledDefault->Enabled = false;
    chosen->Default = true;
    std::vector<std::string> ran;
    for (TMenuItem* item : {plain, disabledDefault, chosen})
        item->OnClick = [&](TMenuItem* sender) { ran.push_back(sender->Caption); };
    int doubleClicks = 0;
    tray.OnDblClick = [&](TRxTrayIcon*) { ++doubleClicks; };
    tray.SetPopupMenu(&menu);

    tray.WndProc(CM_TRAYICON, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(ran, std::vector<std::string>{"Show"});
    EXPECT_EQ(doubleClicks, 0);

    chosen->Enabled = false;
    tray.WndProc(CM_TRAYICON, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(ran.size(), 1u);
    EXPECT_EQ(doubleClicks, 1);
}

TEST_F(TRxTrayIconTest, DestroyedPopupMenuIsForgotten)
{
    TRxTrayIcon tray;
    auto menu = std::make_unique<RecordingMenu>();
    tray.SetPopupMenu(menu.get());
    menu.reset();
    EXPECT_EQ(tray.PopupMenu(), nullptr);
}

TEST_F(TRxTrayIconTest, ExceptionInAHandlerReachesTheErrorBox)
{
    TrayRecorder shell;
    TRxTrayIcon tray;
    shell.attach(tray);
    tray.OnMouseMove = [](TRxTrayIcon*, TShiftState, int, int) { throw Exception("moved"); };
    tray.WndProc(CM_TRAYICON, 0, WM_MOUSEMOVE);
    EXPECT_EQ(errors, std::vector<std::string>{"moved."});
}

} // namespace
