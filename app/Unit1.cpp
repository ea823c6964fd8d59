#include "app/Unit1.h"

#include "app/TBevel.h"
#include "app/TIniFile.h"
#include "app/TShape.h"
#include "app/TStatusBar.h"
#include "app/TSysInfo.h"
#include "platform/TApplication.h"
#include "platform/WinExec.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

namespace {

// The OEM information file's entries and the texts the info page shows when one is missing.
constexpr const char* kGeneral = "general";
constexpr const char* kSupport = "Support Information";
constexpr const char* kOemInfoTail = "system\\oeminfo.ini";

// Client area of the window and the colour values of the design.
constexpr int kClientWidth = 526;
constexpr int kClientHeight = 355;
const QColor kTitleBlue(0x80, 0x80, 0xFF); // colour value $FF8080
const QColor kAqua(0x00, 0xFF, 0xFF);

QString text(const std::string& s) { return QString::fromStdString(s); }
std::string text(const QString& s) { return s.toStdString(); }

template <class Widget> Widget* named(Widget* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* makeLabel(QWidget* page, const char* name, const QString& caption, QRect geometry)
{
    auto* label = named(new QLabel(caption, page), name);
    label->setGeometry(geometry);
    return label;
}

// A label that sizes itself to its caption, placed by its top-left corner.
QLabel* makeAutoSizeLabel(QWidget* page, const char* name, const QString& caption, QPoint at)
{
    auto* label = named(new QLabel(caption, page), name);
    label->move(at);
    label->adjustSize();
    return label;
}

void setBold(QWidget* widget, int pixelHeight = 0)
{
    QFont font = widget->font();
    font.setBold(true);
    if (pixelHeight > 0)
        font.setPixelSize(pixelHeight);
    widget->setFont(font);
}

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// A flat glyph button of 65 by 65 pixels with a two-line caption.
QPushButton* makeGlyphButton(QWidget* page, const char* name, const char* line1,
                             const char* line2, QPoint at)
{
    auto* button = named(new QPushButton(QString("%1\n%2").arg(line1, line2), page), name);
    button->setGeometry(at.x(), at.y(), 65, 65);
    button->setFlat(true);
    return button;
}

TBevel* makeBevel(QWidget* page, const char* name, TBevel::TBevelShape shape,
                  TBevel::TBevelStyle style, QRect geometry)
{
    auto* bevel = named(new TBevel(page, shape, style), name);
    bevel->setGeometry(geometry);
    return bevel;
}

QLineEdit* makeEdit(QWidget* page, const char* name, QRect geometry)
{
    auto* edit = named(new QLineEdit(QString::fromLatin1(name), page), name);
    edit->setGeometry(geometry);
    edit->setMaxLength(32767);
    return edit;
}

} // namespace

int OpenControlPanelApplet(const std::string& Applet)
{
    return platform::WinExec("rundll32.exe shell32.dll,Control_RunDLL " + Applet,
                             platform::SW_SHOWNORMAL);
}

TForm1::TForm1(QWidget* parent) : QWidget(parent)
{
    setObjectName("Form1");
    setWindowTitle("Crestwick --- Quillmere Softhouse");
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    setFont(font);
    resize(kClientWidth, kClientHeight);

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    PageControl1->setGeometry(0, 0, kClientWidth, kClientHeight);
    TabSheet1 = named(new QWidget, "TabSheet1");
    TabSheet2 = named(new QWidget, "TabSheet2");
    TabSheet3 = named(new QWidget, "TabSheet3");
    PageControl1->addTab(TabSheet1, "OEM Logo Changer");
    PageControl1->addTab(TabSheet2, "OEM Info Editor");
    PageControl1->addTab(TabSheet3, "About");

    createLogoPage();
    createInfoPage();
    createAboutPage();
    createComponents();
    PageControl1->setCurrentIndex(0);

    FormCreate(this);
}

TForm1::~TForm1() = default;

void TForm1::createLogoPage()
{
    QWidget* page = TabSheet1;
    Bevel3 = makeBevel(page, "Bevel3", TBevel::bsBox, TBevel::bsRaised, {16, 8, 257, 289});
    Shape1 = named(new TShape(page, Qt::black, Qt::black), "Shape1");
    Shape1->setGeometry(57, 37, 180, 114);
    Image1 = makeLabel(page, "Image1", "Empty", {57, 37, 180, 114});
    Image1->setAlignment(Qt::AlignCenter);
    setTextColour(Image1, Qt::white);
    Label4 = makeLabel(page, "Label4", "OEM Logo Preview", {65, 128, 168, 17});
    Label4->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setTextColour(Label4, Qt::yellow);
    Label13 = makeLabel(page, "Label13", "Label13", {211, 1, 38, 13});
    Label13->hide();
    LabelX = makeAutoSizeLabel(page, "LabelX", "File Size", {67, 155});
    LabelX->resize(LabelX->width(), 13);
    LabelX->hide();
    Label1 = makeLabel(page, "Label1", "Select drive to scan for images", {72, 174, 145, 13});
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    DriveComboBox1 = named(new QComboBox(page), "DriveComboBox1");
    DriveComboBox1->setGeometry(80, 195, 137, 19);
    RxSpeedButton2 = makeGlyphButton(page, "RxSpeedButton2", "Autoscan", "Disks", {32, 224});
    RxSpeedButton3 = makeGlyphButton(page, "RxSpeedButton3", "Stop", "Scanning", {112, 224});
    RxSpeedButton6 = makeGlyphButton(page, "RxSpeedButton6", "Resize", "To Fit", {192, 224});

    Bevel7 = makeBevel(page, "Bevel7", TBevel::bsBox, TBevel::bsRaised, {282, 8, 225, 289});
    RxLabel2 = makeLabel(page, "RxLabel2", "Crestwick", {289, 32, 213, 29});
    setBold(RxLabel2, 24);
    setTextColour(RxLabel2, kTitleBlue);
    Label5 = makeLabel(page, "Label5",
                       "Choose your new Oem Logo for\n"
                       "Control Panel -> System Properties\n"
                       "Imaze size (max): 180x114\n"
                       "File Type: *.bmp or *.jpg\n"
                       "Logo will not be displayed\n"
                       "if you don't add some Infos\n"
                       "(See next page)",
                       {312, 77, 162, 91});
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label5->setWordWrap(true);
    ListBox1 = named(new QListWidget(page), "ListBox1");
    ListBox1->setGeometry(288, 34, 212, 173);
    ListBox1->setSortingEnabled(true);
    ListBox1->setUniformItemSizes(true);
    ListBox1->hide();
    RxSpeedButton1 = makeGlyphButton(page, "RxSpeedButton1", "Control", "Panel", {290, 224});
    LedButton2 = makeGlyphButton(page, "LedButton2", "Save", "Logo", {362, 224});
    LedButton3 = makeGlyphButton(page, "LedButton3", "Exit", "Now", {434, 224});
    StatusBar1 = named(new TStatusBar(page), "StatusBar1");
    StatusBar1->Panels = {{QString(), 50, Qt::AlignHCenter}, {QString(), 50, Qt::AlignRight}};
    StatusBar1->SetSimplePanel(true);

    QWidget::setTabOrder(DriveComboBox1, ListBox1);
    // The preview's caption lies over the bottom of the preview.
    Label4->raise();

    connect(RxSpeedButton1, &QPushButton::clicked, this,
            [this] { Application().Guard([&] { RxSpeedButton1Click(RxSpeedButton1); }); });
    connect(LedButton3, &QPushButton::clicked, this,
            [this] { Application().Guard([&] { LedButton3Click(LedButton3); }); });
}

void TForm1::createInfoPage()
{
    QWidget* page = TabSheet2;
    RxLabel1 = makeLabel(page, "RxLabel1", "System Info", {35, 19, 110, 24});
    RxLabel1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setBold(RxLabel1, 19);
    Bevel4 = makeBevel(page, "Bevel4", TBevel::bsBox, TBevel::bsLowered, {31, 48, 458, 185});
    Label7 = makeLabel(page, "Label7",
                       "Add here your information in Control Panel -> System Properties:",
                       {48, 65, 417, 26});
    Label7->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label7->setWordWrap(true);
    setBold(Label7);
    Label8 = makeAutoSizeLabel(page, "Label8", "Computer Manufacturer:", {51, 105});
    Edit1 = makeEdit(page, "Edit1", {253, 100, 212, 21});
    Label9 = makeAutoSizeLabel(page, "Label9", "Computer Model:", {51, 137});
    Edit2 = makeEdit(page, "Edit2", {253, 132, 212, 21});
    Label10 = makeAutoSizeLabel(page, "Label10", "Optional Support Information 1", {51, 169});
    Edit3 = makeEdit(page, "Edit3", {253, 164, 212, 21});
    Label11 = makeLabel(page, "Label11", "Optional Support Information 2", {51, 201, 143, 16});
    Edit4 = makeEdit(page, "Edit4", {253, 196, 212, 21});
    Bevel8 = makeBevel(page, "Bevel8", TBevel::bsBox, TBevel::bsLowered, {256, 242, 233, 79});
    Button1 = makeGlyphButton(page, "Button1", "Save", "Info", {268, 247});
    RxSpeedButton4 = makeGlyphButton(page, "RxSpeedButton4", "Control", "Panel", {340, 247});
    Button2 = makeGlyphButton(page, "Button2", "Exit", "Now", {412, 247});

    QWidget::setTabOrder(Edit1, Edit2);
    QWidget::setTabOrder(Edit2, Edit3);
    QWidget::setTabOrder(Edit3, Edit4);

    connect(Button1, &QPushButton::clicked, this,
            [this] { Application().Guard([&] { Button1Click(Button1); }); });
    connect(RxSpeedButton4, &QPushButton::clicked, this,
            [this] { Application().Guard([&] { RxSpeedButton4Click(RxSpeedButton4); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { Application().Guard([&] { Button2Click(Button2); }); });
}

void TForm1::createAboutPage()
{
    QWidget* page = TabSheet3;
    Bevel1 = makeBevel(page, "Bevel1", TBevel::bsBox, TBevel::bsLowered, {35, 24, 334, 169});
    ProLabel1 = makeLabel(page, "ProLabel1", "Quillmere SoftHouse", {86, 37, 225, 29});
    ProLabel1->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    setBold(ProLabel1, 24);
    setTextColour(ProLabel1, kTitleBlue);
    ASLink1 = makeLabel(page, "ASLink1", "http://www.quillmere-softhouse.example/",
                        {58, 69, 276, 13});
    ASLink2 = makeLabel(page, "ASLink2", "info@quillmere-softhouse.example", {135, 97, 122, 13});
    Bevel5 = makeBevel(page, "Bevel5", TBevel::bsTopLine, TBevel::bsLowered, {67, 120, 273, 17});
    Label12 = makeLabel(page, "Label12", "Bugs, comments and feedback\nEmail to:",
                        {111, 137, 175, 26});
    Label12->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setBold(Label12);
    setTextColour(Label12, kAqua);
    ASLink4 = makeLabel(page, "ASLink4", "crestwick@quillmere-softhouse.example",
                        {135, 169, 126, 13});
    Bevel2 = makeBevel(page, "Bevel2", TBevel::bsBox, TBevel::bsLowered, {384, 158, 121, 159});
    RxSpeedButton7 = makeGlyphButton(page, "RxSpeedButton7", "Desktop", "Shortcut", {412, 174});
    RxSpeedButton5 = makeGlyphButton(page, "RxSpeedButton5", "Exit", "Now", {412, 239});

    connect(RxSpeedButton5, &QPushButton::clicked, this,
            [this] { Application().Guard([&] { RxSpeedButton5Click(RxSpeedButton5); }); });
}

void TForm1::createComponents() { SysInfo1 = std::make_unique<TSysInfo>(); }

void TForm1::ShowCentred()
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
    PageControl1->setCurrentIndex(0);
    show();
}

std::string TForm1::WindowsDirectory() const
{
    return windowsDirectoryKnown_ ? text(Label13->text()) : std::string("\\");
}

std::string TForm1::oemInfoPath() const { return WindowsDirectory() + kOemInfoTail; }

void TForm1::FormCreate(QObject*)
{
    // An error ends the handler: it is reported and the window is still shown.
    Application().Guard([&] {
        Label13->setText(text(SysInfo1->SystemRoot() + "\\"));
        windowsDirectoryKnown_ = true;
        LoadOemInfo();
    });
}

void TForm1::LoadOemInfo()
{
    TIniFile ini(oemInfoPath());
    Edit1->setText(text(ini.ReadString(kGeneral, "Manufacturer", "Made by")));
    Edit2->setText(text(ini.ReadString(kGeneral, "Model", "Quillmere SoftHouse")));
    Edit3->setText(text(ini.ReadString(kSupport, "Line1", "Add first line here")));
    Edit4->setText(text(ini.ReadString(kSupport, "Line2", "Add another line here")));
}

void TForm1::SaveOemInfo()
{
    TIniFile ini(oemInfoPath());
    ini.WriteString(kGeneral, "Manufacturer", text(Edit1->text()));
    ini.WriteString(kGeneral, "Model", text(Edit2->text()));
    ini.WriteString(kSupport, "Line1", text(Edit3->text()));
    ini.WriteString(kSupport, "Line2", text(Edit4->text()));
    for (const char* key : {"Line3", "Line4", "Line5", "Line6"})
        ini.DeleteKey(kSupport, key);
}

void TForm1::Button1Click(QObject*) { SaveOemInfo(); }
void TForm1::Button2Click(QObject*) { close(); }
void TForm1::LedButton3Click(QObject*) { close(); }
void TForm1::RxSpeedButton5Click(QObject*) { close(); }
void TForm1::RxSpeedButton1Click(QObject*) { OpenControlPanelApplet("Sysdm.cpl"); }
void TForm1::RxSpeedButton4Click(QObject*) { OpenControlPanelApplet("Sysdm.cpl"); }

void TForm1::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program; nothing is saved and nothing is asked.
    event->accept();
    Application().Terminate();
}
