// The window drawn in the design's font. These tests load the bitmap face into their process,
// so they run in an executable of their own.
#include "desktop/DesignFont.h"
#include "app/TBevel.h"
#include "app/Unit1.h"
#include "controls/TProLabel.h"
#include "controls/TRxLabel.h"
#include "controls/TRxSpeedButton.h"
#include "shell/ASLink.h"
#include "tests/support/TempPrefix.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

// The tests run on Qt's offscreen screen, whose ratio is 1 unless the environment scales it.
constexpr const char* kRatioOne = "the bitmap face is used at a device pixel ratio of 1 only: "
                                  "unset QT_SCALE_FACTOR and QT_SCREEN_SCALE_FACTORS";

bool bitmapFaceInstalled()
{
    return fs::exists(fs::path(DesignFont::kWineFontDirectory) / DesignFont::kBitmapFontFile);
}

// A caption and the box it is drawn in, with what it needs in the widget's font.
struct Caption {
    QString owner;
    QString text;
    QSize box;
    QSize needed;
};

QSize needed(const QFont& font, const QString& text, int width, int flags)
{
    return QFontMetrics(font).boundingRect(QRect(0, 0, width, 10000), flags, text).size();
}

// Every caption of the three pages that the user can see.
std::vector<Caption> captionsOf(TForm1& form)
{
    std::vector<Caption> captions;
    for (QWidget* page : {form.TabSheet1, form.TabSheet2, form.TabSheet3}) {
        for (QWidget* widget : page->findChildren<QWidget*>()) {
            if (widget->isHidden())
                continue;
            const QString owner = widget->objectName();
            const QSize box = widget->size();
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                const int flags = int(label->alignment() & Qt::AlignHorizontal_Mask) |
                                  (label->wordWrap() ? int(Qt::TextWordWrap) : 0);
                captions.push_back({owner, label->text(), box,
                                    needed(label->font(), label->text(), box.width(), flags)});
            } else if (auto* title = dynamic_cast<TRxLabel*>(widget)) {
                QSize size = needed(title->font(), title->Caption(), box.width(), 0);
                size += QSize(title->ShadowSize(), title->ShadowSize());
                captions.push_back({owner, title->Caption(), box, size});
            } else if (auto* title = dynamic_cast<TProLabel*>(widget)) {
                QSize size = needed(title->font(), title->Caption(), box.width(), 0);
                size += QSize(title->ShadowSize(), title->ShadowSize());
                captions.push_back({owner, title->Caption(), box, size});
            } else if (auto* link = dynamic_cast<TASLink*>(widget)) {
                const QString text = QString::fromStdString(link->Caption());
                captions.push_back({owner, text, box, needed(link->Font().Font, text, 1000, 0)});
            } else if (auto* button = dynamic_cast<TRxSpeedButton*>(widget)) {
                // Each line of a glyph button's caption sits below the glyph, within its frame.
                for (const QString& line : button->Caption().split('\n'))
                    captions.push_back({owner, line, box - QSize(4, 32 + 4),
                                        needed(button->font(), line, 1000, 0)});
            }
        }
    }
    return captions;
}

class DesignFontTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
    }
};

} // namespace

TEST_F(DesignFontTest, EveryCaptionFitsItsBoxInTheBitmapFace)
{
    if (!bitmapFaceInstalled())
        GTEST_SKIP() << "fonts-wine is not installed (apt-get install fonts-wine): no "
                     << DesignFont::kWineFontDirectory << "/" << DesignFont::kBitmapFontFile;
    if (qApp->devicePixelRatio() != 1.0)
        GTEST_SKIP() << kRatioOne;
    ASSERT_TRUE(DesignFont::Install(1.0));
    TForm1 form;

    EXPECT_EQ(QFontInfo(form.font()).family(), "MS Sans Serif");
    EXPECT_EQ(QFontMetrics(form.font()).height(), 13);
    // The measurements the boxes were laid out for.
    EXPECT_EQ(QFontMetrics(form.Label1->font()).horizontalAdvance(form.Label1->text()), 145);
    EXPECT_EQ(
        needed(form.Label5->font(), form.Label5->text(), 162, Qt::AlignHCenter | Qt::TextWordWrap),
        QSize(162, 91));
    // Bold text is a pixel wider per character than regular text.
    const QString feedback = "Bugs, comments and feedback";
    EXPECT_EQ(QFontMetrics(form.Label12->font()).horizontalAdvance(feedback),
              QFontMetrics(form.font()).horizontalAdvance(feedback) + feedback.size());
    // The titles are drawn in a scalable face at their own height.
    for (QWidget* title :
         {static_cast<QWidget*>(form.RxLabel1), static_cast<QWidget*>(form.RxLabel2),
          static_cast<QWidget*>(form.ProLabel1)}) {
        EXPECT_NE(QFontInfo(title->font()).family(), "MS Sans Serif")
            << title->objectName().toStdString();
        EXPECT_TRUE(QFontInfo(title->font()).bold()) << title->objectName().toStdString();
        EXPECT_GE(QFontMetrics(title->font()).ascent(), 14) << title->objectName().toStdString();
    }

    const std::vector<Caption> captions = captionsOf(form);
    EXPECT_GE(captions.size(), 30u);
    for (const Caption& c : captions) {
        EXPECT_LE(c.needed.width(), c.box.width())
            << c.owner.toStdString() << ": " << c.text.toStdString();
        EXPECT_LE(c.needed.height(), c.box.height())
            << c.owner.toStdString() << ": " << c.text.toStdString();
    }
    // The links lie inside the frame around them.
    for (TASLink* link : {form.ASLink1, form.ASLink2, form.ASLink4})
        EXPECT_TRUE(form.Bevel1->geometry().contains(link->geometry()))
            << link->Caption() << " at " << link->geometry().x() << "+" << link->width();
}

TEST_F(DesignFontTest, BoldTextInTheBitmapFaceIsDrawnTwiceOnePixelApart)
{
    if (!bitmapFaceInstalled())
        GTEST_SKIP() << "fonts-wine is not installed: apt-get install fonts-wine";
    if (qApp->devicePixelRatio() != 1.0)
        GTEST_SKIP() << kRatioOne;
    ASSERT_TRUE(DesignFont::Install(1.0));

    // A bold label, drawn by Qt's own label through the application's style.
    QLabel label("Il1 bold");
    label.setFont(DesignFont::Font(DesignFont::kPixelSize, true));
    label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label.setStyleSheet("QLabel { background: white; color: black; }");
    label.resize(80, 13);
    QImage drawn(label.size(), QImage::Format_RGB32);
    label.render(&drawn);

    // The same text drawn once in the same (spaced) font: the bold label is that, or'ed with
    // itself one pixel to the right.
    QImage once(label.size(), QImage::Format_RGB32);
    once.fill(Qt::white);
    {
        QPainter painter(&once);
        painter.setFont(label.font());
        painter.setPen(Qt::black);
        painter.drawText(QRect(QPoint(0, 0), label.size()), Qt::AlignLeft | Qt::AlignTop,
                         label.text());
    }
    int inked = 0;
    for (int y = 0; y < once.height(); ++y) {
        for (int x = 0; x < once.width(); ++x) {
            const bool here = qGray(once.pixel(x, y)) < 128;
            const bool left = x > 0 && qGray(once.pixel(x - 1, y)) < 128;
            EXPECT_EQ(qGray(drawn.pixel(x, y)) < 128, here || left) << x << "," << y;
            inked += here;
        }
    }
    EXPECT_GT(inked, 20);

    // Regular text is drawn once.
    EXPECT_FALSE(DesignFont::NeedsEmboldening(DesignFont::Font()));
    EXPECT_TRUE(DesignFont::NeedsEmboldening(label.font()));
}

TEST_F(DesignFontTest, WithoutTheFileOrOnAHighDensityScreenTheScalableFaceStandsIn)
{
    if (DesignFont::BitmapFaceLoaded())
        GTEST_SKIP() << "the bitmap face is loaded in this process already: run this test "
                        "in a process of its own (--gtest_filter), as ctest does";
    // A screen of ratio 2 never loads the bitmap face, and that is no fault to report.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(DesignFont::Install(2.0));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // A missing file is reported once.
    const std::string missing = (temp() / "no-fonts").string();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(DesignFont::Install(1.0, missing));
    EXPECT_FALSE(DesignFont::Install(1.0, missing));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(missing + "/ms_sans_serif.ttf is missing (Debian package fonts-wine)"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("missing", said.find("missing") + 1), std::string::npos) << said;

    TForm1 form;
    EXPECT_NE(QFontInfo(form.font()).family(), "MS Sans Serif");
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_FALSE(DesignFont::NeedsEmboldening(form.Label12->font()));
    EXPECT_TRUE(QFontInfo(form.Label12->font()).bold());
}

// Run with QT_SCALE_FACTOR=2 by its own test entry: the window as the program sets it up on a
// high-density screen.
TEST_F(DesignFontTest, TheWindowAtTheScreensRatio)
{
    const double ratio = qApp->devicePixelRatio();
    const bool loaded = DesignFont::Install(ratio);
    EXPECT_EQ(loaded, ratio == 1.0 && bitmapFaceInstalled());
    TForm1 form;
    EXPECT_EQ(QFontInfo(form.font()).family() == "MS Sans Serif", loaded);
    // Captions are drawn at the window's scale: a bitmap strike drawn at its own size on a
    // screen of ratio 2 would be half as tall as the text around it.
    QImage image(form.TabSheet1->size() * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    form.TabSheet1->render(&image);
    const QRect label = form.Label1->geometry();
    int top = image.height(), bottom = -1;
    for (int y = int(label.top() * ratio); y <= int(label.bottom() * ratio); ++y)
        for (int x = int(label.left() * ratio); x <= int(label.right() * ratio); ++x)
            if (qGray(image.pixel(x, y)) < 64) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(bottom, top) << "no text drawn in Label1";
    EXPECT_GE(bottom - top + 1, int(9 * ratio));
}
