#include "controls/TRxSpeedButton.h"
#include "core/Exceptions.h"
#include "tests/support/TempPrefix.h"

#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QTest>

#include <memory>

namespace {

constexpr QRgb kFace = 0xC0C0C0;
constexpr QRgb kHighlight = 0xFFFFFF;
constexpr QRgb kShadow = 0x808080;
constexpr QRgb kFrame = 0x000000;
constexpr QRgb kRed = 0xFF0000;
constexpr QRgb kBlue = 0x0000FF;
// The grey that pure red turns into: 77 * 255 / 256.
constexpr QRgb kRedAsGrey = 0x4C4C4C;

// A 32 by 32 picture per colour, side by side, with the see-through colour in the lower-left
// corner.
QImage glyphOf(std::initializer_list<QRgb> colours)
{
    QImage image(32 * int(colours.size()), 32, QImage::Format_RGB32);
    int slice = 0;
    for (QRgb colour : colours) {
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                image.setPixel(slice * 32 + x, y, colour);
        ++slice;
    }
    image.setPixel(0, 31, 0xFF00FF);
    return image;
}

QRgb at(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}

// The smallest rectangle that holds every pixel of the given colour inside area.
QRect boundsOf(const QImage& image, const QRect& area, QRgb colour)
{
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (at(image, x, y) == colour)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

class SpeedButtonTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        window = std::make_unique<QWidget>();
        window->resize(200, 120);
        button = makeButton(window.get(), {10, 10});
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void TearDown() override
    {
        window.reset();
        TempPrefixTest::TearDown();
    }

    // A button as the main window makes them: 65 by 65, flat, a 32 by 32 glyph, two lines.
    static TRxSpeedButton* makeButton(QWidget* parent, QPoint position)
    {
        auto* made = new TRxSpeedButton(parent);
        made->setGeometry(QRect(position, QSize(65, 65)));
        made->SetFlat(true);
        made->SetCaption("Save\nLogo");
        made->SetGlyph(glyphOf({kRed}));
        QFont font = made->font();
        font.setStyleStrategy(QFont::NoAntialias);
        made->setFont(font);
        return made;
    }

    QImage shot() const { return button->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    void enter(TRxSpeedButton* target)
    {
        QEnterEvent event(QPointF(30, 30), QPointF(40, 40), QPointF(40, 40));
        QApplication::sendEvent(target, &event);
    }
    void leave(TRxSpeedButton* target)
    {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(target, &event);
    }

    std::unique_ptr<QWidget> window;
    TRxSpeedButton* button = nullptr;
};

} // namespace

TEST_F(SpeedButtonTest, ConstructorSetsTheDocumentedDefaults)
{
    TRxSpeedButton fresh;
    EXPECT_EQ(fresh.size(), QSize(25, 25));
    EXPECT_EQ(fresh.Caption(), QString());
    EXPECT_TRUE(fresh.Glyph().isNull());
    EXPECT_EQ(fresh.NumGlyphs(), 1);
    EXPECT_EQ(fresh.Layout(), blGlyphTop);
    EXPECT_EQ(fresh.Alignment(), taCenter);
    EXPECT_EQ(fresh.Margin(), -1);
    EXPECT_EQ(fresh.Spacing(), 1);
    EXPECT_FALSE(fresh.Flat());
    EXPECT_TRUE(fresh.GrayedInactive());
    EXPECT_FALSE(fresh.Transparent());
    EXPECT_FALSE(fresh.WordWrap());
    EXPECT_FALSE(fresh.Down());
    EXPECT_EQ(fresh.GroupIndex(), 0);
    EXPECT_FALSE(fresh.AllowAllUp());
    EXPECT_FALSE(fresh.AllowTimer());
    EXPECT_EQ(fresh.InitPause(), 500);
    EXPECT_EQ(fresh.RepeatInterval(), 100);
    EXPECT_EQ(fresh.DropDownMenu(), nullptr);
    EXPECT_TRUE(fresh.MarkDropDown());
    EXPECT_EQ(fresh.ModalResult(), 0);
    EXPECT_TRUE(fresh.ShowHint());
}

TEST_F(SpeedButtonTest, FramesFollowFlatnessHoverAndPress)
{
    enum Action { Rest, Hover, Press };
    const struct {
        const char* what;
        bool flat;
        Action action;
        QRgb topLeft, inner, bottomRight, innerBottomRight, topRight;
    } cases[] = {
        {"flat at rest: no frame", true, Rest, kFace, kFace, kFace, kFace, kFace},
        {"flat hovered: raised", true, Hover, kHighlight, kFace, kShadow, kFace, kShadow},
        {"flat pressed: sunken", true, Press, kFrame, kFace, kHighlight, kFace, kHighlight},
        {"plain at rest: raised", false, Rest, kHighlight, kFace, kFrame, kShadow, kFrame},
        {"plain pressed: sunken", false, Press, kFrame, kShadow, kHighlight, kFace, kHighlight},
    };
    for (const auto& c : cases) {
        auto* target = makeButton(window.get(), {100, 10});
        target->SetFlat(c.flat);
        target->show();
        if (c.action == Hover)
            enter(target);
        if (c.action == Press)
            QTest::mousePress(target, Qt::LeftButton, {}, QPoint(30, 30));
        const QImage image = target->grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(at(image, 0, 0), c.topLeft) << c.what;
        EXPECT_EQ(at(image, 1, 1), c.inner) << c.what;
        EXPECT_EQ(at(image, 64, 64), c.bottomRight) << c.what;
        EXPECT_EQ(at(image, 63, 63), c.innerBottomRight) << c.what;
        EXPECT_EQ(at(image, 64, 0), c.topRight) << c.what;
        if (c.action == Press)
            QTest::mouseRelease(target, Qt::LeftButton, {}, QPoint(100, 100));
        delete target;
    }
}

TEST_F(SpeedButtonTest, FlatButtonShowsGreyGlyphAtRestAndColouredGlyphUnderTheMouse)
{
    // The glyph of a 65 by 65 flat button stands at (16, 3): centred across, and the pair of
    // glyph and two caption lines centred down with one pixel between them.
    QImage image = shot();
    EXPECT_EQ(at(image, 16, 3), kRedAsGrey);
    EXPECT_EQ(at(image, 47, 34), kRedAsGrey);
    EXPECT_EQ(at(image, 16, 34), kFace) << "the lower-left colour is see-through";
    EXPECT_EQ(at(image, 15, 3), kFace);

    enter(button);
    EXPECT_TRUE(button->MouseInside());
    image = shot();
    EXPECT_EQ(at(image, 16, 3), kRed);
    EXPECT_EQ(at(image, 47, 34), kRed);

    leave(button);
    EXPECT_FALSE(button->MouseInside());
    EXPECT_EQ(at(shot(), 16, 3), kRedAsGrey);
}

TEST_F(SpeedButtonTest, PressedButtonShiftsGlyphAndCaptionOnePixelDownAndRight)
{
    enter(button);
    const QImage hovered = shot();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(30, 30));
    const QImage pressed = shot();

    EXPECT_EQ(at(pressed, 16, 3), kFace);
    EXPECT_EQ(at(pressed, 17, 4), kRed);
    EXPECT_EQ(at(pressed, 48, 35), kRed);
    EXPECT_EQ(at(hovered, 48, 35), kFace);

    const QRect captionArea(2, 36, 61, 27);
    const QRect before = boundsOf(hovered, captionArea, 0x000000);
    const QRect after = boundsOf(pressed, captionArea.adjusted(0, 0, 0, 1), 0x000000);
    ASSERT_FALSE(before.isEmpty());
    EXPECT_GE(before.top(), 36) << "the caption starts one pixel below the glyph";
    EXPECT_EQ(after, before.translated(1, 1));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(30, 30));
}

TEST_F(SpeedButtonTest, ClicksOnlyWhenReleasedInside)
{
    const struct {
        QPoint release;
        int clicks;
    } cases[] = {
        {{30, 30}, 1},
        {{64, 30}, 1},
        {{65, 30}, 0},
        {{-1, 30}, 0},
        // The bottom edge still counts as inside.
        {{30, 65}, 1},
        {{30, 66}, 0},
        {{30, -1}, 0},
    };
    for (const auto& c : cases) {
        int clicks = 0;
        button->OnClick = [&](QObject* sender) {
            EXPECT_EQ(sender, button);
            ++clicks;
        };
        QTest::mousePress(button, Qt::LeftButton, {}, QPoint(30, 30));
        QTest::mouseMove(button, c.release);
        QTest::mouseRelease(button, Qt::LeftButton, {}, c.release);
        EXPECT_EQ(clicks, c.clicks) << c.release.x() << "," << c.release.y();
        EXPECT_FALSE(button->Dragging());
        EXPECT_EQ(button->State(), rbsUp);
    }
}

TEST_F(SpeedButtonTest, AfterAClickTheRestingLookReturnsWhileTheMouseStays)
{
    enter(button);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_FALSE(button->MouseInside());
    const QImage image = shot();
    EXPECT_EQ(at(image, 0, 0), kFace);
    EXPECT_EQ(at(image, 64, 64), kFace);
    EXPECT_EQ(at(image, 16, 3), kRedAsGrey);

    enter(button);
    EXPECT_EQ(at(shot(), 16, 3), kRed);
}

TEST_F(SpeedButtonTest, MovingOutWhileHeldRaisesTheButtonAndLeaveWaits)
{
    int leaves = 0;
    button->OnMouseLeave = [&](QObject*) { ++leaves; };
    enter(button);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(30, 30));
    QTest::mouseMove(button, QPoint(90, 30));
    EXPECT_EQ(button->State(), rbsUp);
    EXPECT_EQ(at(shot(), 0, 0), kHighlight) << "still framed, raised, while dragging";
    leave(button);
    EXPECT_EQ(leaves, 0) << "leaving while dragging is ignored";
    QTest::mouseMove(button, QPoint(30, 30));
    EXPECT_EQ(button->State(), rbsDown);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(90, 30));
    leave(button);
    EXPECT_EQ(leaves, 1);
}

TEST_F(SpeedButtonTest, MouseEventsReachTheirHandlersOnlyWhenEnabledAndActive)
{
    int enters = 0;
    int leaves = 0;
    button->OnMouseEnter = [&](QObject* sender) {
        EXPECT_EQ(sender, button);
        ++enters;
    };
    button->OnMouseLeave = [&](QObject*) { ++leaves; };
    enter(button);
    leave(button);
    EXPECT_EQ(enters, 1);
    EXPECT_EQ(leaves, 1);

    button->setEnabled(false);
    enter(button);
    leave(button);
    EXPECT_EQ(enters, 1);
    EXPECT_EQ(leaves, 1);
    button->setEnabled(true);

    QApplication::setActiveWindow(nullptr);
    if (QApplication::activeWindow() == nullptr) {
        enter(button);
        EXPECT_EQ(enters, 1) << "no window of the program is active";
        EXPECT_FALSE(button->MouseInside());
    }
}

TEST_F(SpeedButtonTest, DisabledButtonShowsSecondImageAndWhiteShadowedGreyCaption)
{
    button->SetGlyph(glyphOf({kRed, kBlue}));
    EXPECT_EQ(button->NumGlyphs(), 2);
    button->SetCaption("Hx");
    button->setEnabled(false);
    const QImage image = shot();
    EXPECT_EQ(at(image, 20, 10), kBlue);

    const QRect captionArea(2, 36, 61, 27);
    const QRect grey = boundsOf(image, captionArea, 0x808080);
    const QRect white = boundsOf(image, captionArea, 0xFFFFFF);
    ASSERT_FALSE(grey.isEmpty());
    EXPECT_EQ(white, grey.translated(1, 1));
    EXPECT_TRUE(boundsOf(image, captionArea, 0x000000).isEmpty());

    // No clicks while disabled, and the resting state comes back with the button.
    int clicks = 0;
    button->OnClick = [&](QObject*) { ++clicks; };
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(clicks, 0);
    button->setEnabled(true);
    EXPECT_EQ(at(shot(), 20, 10), kRedAsGrey);
}

TEST_F(SpeedButtonTest, DisabledSingleImageGlyphIsEmbossed)
{
    QImage picture = glyphOf({0xFFFFFF});
    for (int y = 8; y < 24; ++y)
        for (int x = 8; x < 24; ++x)
            picture.setPixel(x, y, 0x000080);
    button->SetGlyph(picture);
    button->setEnabled(false);
    const QImage image = shot();
    // The dark square in shadow, its lower-right edge in highlight; the white part fades away.
    EXPECT_EQ(at(image, 16 + 8, 3 + 8), kShadow);
    EXPECT_EQ(at(image, 16 + 24, 3 + 24), kHighlight);
    EXPECT_EQ(at(image, 16 + 2, 3 + 2), kFace);
}

TEST_F(SpeedButtonTest, ClickHandsModalResultToTheDialogBeforeOnClick)
{
    QDialog dialog;
    auto* inDialog = makeButton(&dialog, {0, 0});
    inDialog->SetModalResult(7);
    int seen = -1;
    inDialog->OnClick = [&](QObject*) { seen = dialog.result(); };
    inDialog->Click();
    EXPECT_EQ(seen, 7);
}

TEST_F(SpeedButtonTest, ErrorsInOnClickReachTheErrorBox)
{
    button->OnClick = [](QObject*) { throw EInvalidOperation("Cannot do that now"); };
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(errors, std::vector<std::string>{"Cannot do that now."});
    EXPECT_EQ(button->State(), rbsUp);
}

TEST_F(SpeedButtonTest, GroupedButtonsStayDownOneAtATime)
{
    auto* second = makeButton(window.get(), {80, 10});
    button->SetGroupIndex(1);
    second->SetGroupIndex(1);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_TRUE(button->Down());
    EXPECT_EQ(button->State(), rbsExclusive);
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_TRUE(second->Down());
    EXPECT_FALSE(button->Down());
    // Without AllowAllUp the last one stays down.
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_TRUE(second->Down());
    second->SetAllowAllUp(true);
    EXPECT_TRUE(button->AllowAllUp()) << "the group shares AllowAllUp";
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_FALSE(second->Down());

    // A button outside any group is never down.
    TRxSpeedButton loose;
    loose.SetDown(true);
    EXPECT_FALSE(loose.Down());
}

TEST_F(SpeedButtonTest, ExclusiveButtonIsSunkenAndShiftedAwayFromTheMouse)
{
    button->SetGroupIndex(1);
    button->SetDown(true);
    const QImage image = shot();
    EXPECT_EQ(at(image, 0, 0), kFrame);
    EXPECT_EQ(at(image, 64, 64), kHighlight);
    EXPECT_EQ(at(image, 17, 4), kRedAsGrey);
}

TEST_F(SpeedButtonTest, HeldButtonRepeatsItsClickWithTheTimer)
{
    int clicks = 0;
    button->OnClick = [&](QObject*) { ++clicks; };
    button->SetAllowTimer(true);
    button->SetInitPause(5);
    button->SetRepeatInterval(5);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(30, 30));
    for (int wait = 0; wait < 1000 && clicks < 3; ++wait)
        QTest::qWait(10);
    EXPECT_GE(clicks, 3);
    QTest::mouseMove(button, QPoint(90, 30));
    const int heldOutside = clicks;
    QTest::qWait(30);
    EXPECT_EQ(clicks, heldOutside) << "no repeats while the pointer is outside";
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(90, 30));
}

TEST_F(SpeedButtonTest, TransparentButtonLetsThePageShowThrough)
{
    window->setAutoFillBackground(true);
    QPalette page = window->palette();
    page.setColor(QPalette::Window, QColor(0, 128, 0));
    window->setPalette(page);
    button->SetTransparent(true);
    const QImage image =
        window->grab(button->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(at(image, 1, 1), 0x008000u);
    EXPECT_EQ(at(image, 16, 3), kRedAsGrey);
}

TEST_F(SpeedButtonTest, DropDownMenuOpensOnPressAndTheButtonComesUpWhenItCloses)
{
    QMenu menu;
    menu.addAction("First");
    int clicks = 0;
    button->OnClick = [&](QObject*) { ++clicks; };
    button->SetDropDownMenu(&menu);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(button->State(), rbsDown);
    menu.hide();
    EXPECT_EQ(button->State(), rbsUp);
    EXPECT_FALSE(button->Dragging());
    EXPECT_EQ(clicks, 0);
}
