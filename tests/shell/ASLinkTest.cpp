#include "shell/ASLink.h"

#include "core/Exceptions.h"
#include "desktop/ShellExecute.h"
#include "tests/support/TempPrefix.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QTest>

#include <optional>
#include <vector>

namespace {

class TASLinkTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        previous_ = desktop::setShellExecuteHandler([this](const desktop::ShellExecuteRequest& r) {
            requests.push_back(r);
            return result;
        });
    }
    void TearDown() override
    {
        desktop::setShellExecuteHandler(previous_);
        TempPrefixTest::TearDown();
    }

    // A font that draws without smoothing, so that pixels have the exact colours.
    static TFont plainFont(TColor color)
    {
        TFont font;
        font.Font = QFont("DejaVu Sans");
        font.Font.setPixelSize(14);
        font.Font.setStyleStrategy(QFont::NoAntialias);
        font.Color = color;
        return font;
    }

    // The bounding box of the pixels of one colour.
    static std::optional<QRect> boxOf(const QImage& image, QRgb colour)
    {
        std::optional<QRect> box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                    box = box ? box->united(QRect(x, y, 1, 1)) : QRect(x, y, 1, 1);
        return box;
    }

    std::vector<desktop::ShellExecuteRequest> requests;
    unsigned result = 33;

private:
    desktop::ShellExecuteHandler previous_;
};

TEST_F(TASLinkTest, StartsWithItsDefaults)
{
    TASLink link;
    EXPECT_EQ(link.Alignment(), taLeftJustify);
    EXPECT_TRUE(link.AutoSize());
    EXPECT_EQ(link.FocusControl(), nullptr);
    EXPECT_EQ(link.Layout(), tlTop);
    EXPECT_EQ(link.ShadowColor(), TColor(0x80000014u));
    EXPECT_EQ(link.ShadowSize(), 1);
    EXPECT_EQ(link.ShadowPos(), spLeftTop);
    EXPECT_TRUE(link.ShowAccelChar());
    EXPECT_FALSE(link.ShowFocus());
    EXPECT_TRUE(link.Transparent());
    EXPECT_FALSE(link.WordWrap());
    EXPECT_EQ(link.LinkColor(), TColor(0xFF0000));
    EXPECT_TRUE(link.URLEnabled());
    EXPECT_TRUE(link.URLTypeAdd());
    EXPECT_EQ(link.URLType(), utMailto);
    EXPECT_EQ(link.width(), 65);
    EXPECT_EQ(link.height(), 17);
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link.RememberedColor(), link.Font().Color);
}

TEST_F(TASLinkTest, OpenTargetPutsTheSchemePrefixInFrontOnlyWithURLTypeAdd)
{
    const std::pair<TURLType, const char*> prefixes[] = {
        {utFile, "file://"},     {utFtp, "ftp://"},   {utGopher, "gopher://"},
        {utHttp, "http://"},     {utHttps, "https://"}, {utMailto, "mailto:"},
        {utNews, "news:"},       {utTelnet, "telnet:"}, {utWais, "wais:"},
    };
    TASLink link;
    link.SetCaption("abc");
    for (const auto& [type, prefix] : prefixes) {
        link.SetURLType(type);
        link.SetURLTypeAdd(true);
        requests.clear();
        EXPECT_TRUE(link.OpenTarget());
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].file, std::string(prefix) + "abc");
        EXPECT_EQ(requests[0].operation, "");
        EXPECT_EQ(requests[0].parameters, "");
        EXPECT_EQ(requests[0].directory, "");
        EXPECT_EQ(requests[0].showCmd, 4u);

        link.SetURLTypeAdd(false);
        requests.clear();
        link.OpenTarget();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].file, "abc");
    }
}

TEST_F(TASLinkTest, OpenTargetReportsTheShellsResultAndOpensNothingWhenItMayNot)
{
    TASLink link;
    link.SetCaption("info@quillmere-softhouse.example");
    link.SetURLTypeAdd(false);
    for (const auto& [code, opened] : {std::pair{33u, true}, {32u, false}, {2u, false}}) {
        result = code;
        EXPECT_EQ(link.OpenTarget(), opened) << code;
    }
    requests.clear();
    link.SetURLEnabled(false);
    EXPECT_FALSE(link.OpenTarget());
    link.SetURLEnabled(true);
    link.SetCaption("");
    EXPECT_FALSE(link.OpenTarget());
    EXPECT_TRUE(requests.empty());
}

TEST_F(TASLinkTest, LeftClickFiresOnClickThenOpensTheTarget)
{
    TASLink link;
    link.SetCaption("http://www.quillmere-softhouse.example/");
    link.SetURLTypeAdd(false);
    link.show();
    std::vector<std::string> order;
    link.OnClick = [&](TASLink*) { order.push_back("OnClick:" + std::to_string(requests.size())); };
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(order, std::vector<std::string>{"OnClick:0"});
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].file, "http://www.quillmere-softhouse.example/");

    QTest::mouseClick(&link, Qt::RightButton, {}, QPoint(3, 3));
    EXPECT_EQ(requests.size(), 1u);
}

TEST_F(TASLinkTest, HoverShowsLinkColorAndRestoresTheRememberedColour)
{
    TASLink link;
    link.SetFontColor(clWhite);
    link.SetLinkColor(clRed);
    link.MouseEnter();
    EXPECT_EQ(link.Font().Color, clRed);
    EXPECT_EQ(link.RememberedColor(), clWhite);
    // A new LinkColor waits for the next entry.
    link.SetLinkColor(clLime);
    EXPECT_EQ(link.Font().Color, clRed);
    // A font colour set while the mouse is over the link is undone when it leaves.
    link.SetFontColor(clYellow);
    link.MouseLeave();
    EXPECT_EQ(link.Font().Color, clWhite);
    link.MouseEnter();
    EXPECT_EQ(link.Font().Color, clLime);
}

TEST_F(TASLinkTest, AutoSizeMeasuresTextShadowAndMargin)
{
    TASLink link;
    link.SetFont(plainFont(clBlack));
    link.SetShadowSize(0);
    link.SetCaption("Quillmere");
    const QSize text = QFontMetrics(link.Font().Font).size(Qt::TextShowMnemonic, "Quillmere");
    EXPECT_EQ(link.width(), text.width() + 2);
    EXPECT_EQ(link.height(), text.height());

    link.SetShadowSize(3);
    EXPECT_EQ(link.width(), text.width() + 3 + 2);
    EXPECT_EQ(link.height(), text.height() + 3);

    // "&" alone and an empty caption still measure one line.
    for (const char* caption : {"&", ""}) {
        link.SetCaption(caption);
        EXPECT_EQ(link.height(), text.height() + 3) << caption;
    }
    link.SetAutoSize(false);
    link.SetCaption("a much longer caption than before");
    EXPECT_EQ(link.height(), text.height() + 3);
}

TEST_F(TASLinkTest, RightAlignedAutoSizedLinkKeepsItsRightEdge)
{
    TASLink link;
    link.SetFont(plainFont(clBlack));
    link.SetAlignment(taRightJustify);
    link.SetBounds(100, 20, 65, 17);
    link.SetCaption("short");
    const int right = link.x() + link.width();
    EXPECT_EQ(right, 165);
    link.SetCaption("a rather longer caption");
    EXPECT_EQ(link.x() + link.width(), right);
    TFont bigger = link.Font();
    bigger.Font.setPixelSize(20);
    link.SetFont(bigger);
    EXPECT_EQ(link.x() + link.width(), right);
    EXPECT_EQ(link.y(), 20);
}

TEST_F(TASLinkTest, DisabledLinkIsEngravedGreyOverALightShadow)
{
    TASLink link;
    link.SetFont(plainFont(clBlack));
    link.SetTransparent(false);
    link.SetColor(clBlack);
    link.SetShadowSize(0);
    link.SetCaption("Mm");
    link.SetEnabled(false);
    const QImage image = link.grab().toImage();
    const auto grey = boxOf(image, qRgb(0x80, 0x80, 0x80));
    const auto light = boxOf(image, qRgb(0xFF, 0xFF, 0xFF));
    ASSERT_TRUE(grey && light);
    EXPECT_EQ(light->bottomRight(), grey->bottomRight() + QPoint(1, 1));
}

TEST_F(TASLinkTest, EnabledShadowUsesItsOwnPositionSizeAndColour)
{
    TASLink link;
    link.SetFont(plainFont(clBlack));
    link.SetTransparent(false);
    link.SetColor(clWhite);
    link.SetShadowColor(clRed);
    link.SetShadowSize(2);
    link.SetShadowPos(spRightBottom);
    link.SetCaption("Mm");
    const QImage image = link.grab().toImage();
    const auto text = boxOf(image, qRgb(0, 0, 0));
    const auto shadow = boxOf(image, qRgb(0xFF, 0, 0));
    ASSERT_TRUE(text && shadow);
    EXPECT_EQ(shadow->bottomRight(), text->bottomRight() + QPoint(2, 2));

    link.SetShadowPos(spLeftTop);
    const QImage moved = link.grab().toImage();
    EXPECT_EQ(boxOf(moved, qRgb(0xFF, 0, 0))->topLeft() + QPoint(2, 2),
              boxOf(moved, qRgb(0, 0, 0))->topLeft());
}

TEST_F(TASLinkTest, AcceleratorFocusesTheFocusControl)
{
    QWidget window;
    auto* edit = new QLineEdit(&window);
    auto* link = new TASLink(&window);
    link->SetCaption("&Name");
    link->SetFocusControl(edit);
    window.show();
    EXPECT_FALSE(link->DialogChar('x'));
    EXPECT_TRUE(link->DialogChar('N'));
    EXPECT_TRUE(link->DialogChar('n'));
    link->SetShowAccelChar(false);
    EXPECT_FALSE(link->DialogChar('n'));
    link->SetShowAccelChar(true);
    link->SetEnabled(false);
    EXPECT_FALSE(link->DialogChar('n'));
}

TEST_F(TASLinkTest, FocusNotificationTracksTheFocusControl)
{
    QWidget window;
    auto* edit = new QLineEdit(&window);
    auto* other = new QLineEdit(&window);
    auto* link = new TASLink(&window);
    link->SetFocusControl(edit);
    link->FocusChanged(edit);
    EXPECT_TRUE(link->FocusControlFocused());
    link->FocusChanged(other);
    EXPECT_FALSE(link->FocusControlFocused());
}

TEST_F(TASLinkTest, DestroyingTheFocusControlClearsIt)
{
    TASLink link;
    auto edit = std::make_unique<QLineEdit>();
    link.SetFocusControl(edit.get());
    edit.reset();
    EXPECT_EQ(link.FocusControl(), nullptr);
    EXPECT_FALSE(link.DialogChar('a'));
}

TEST_F(TASLinkTest, ExceptionInOnClickIsReportedInTheErrorBox)
{
    TASLink link;
    link.SetCaption("x");
    link.show();
    link.OnClick = [](TASLink*) { throw Exception("boom"); };
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(errors, std::vector<std::string>{"boom."});
}

} // namespace
