#include "app/Unit1.h"

#include "app/ElidedPathDelegate.h"
#include "app/TBevel.h"
#include "app/TListBox.h"
#include "app/TShape.h"
#include "app/TStatusBar.h"
#include "app/TSysInfo.h"
#include "controls/AdvImage.h"
#include "controls/ButtonGlyphs.h"
#include "controls/TProLabel.h"
#include "controls/TRxLabel.h"
#include "controls/TRxSpeedButton.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/TStringList.h"
#include "desktop/DesignFont.h"
#include "desktop/TApplication.h"
#include "imaging/TPicture.h"
#include "platform/FreeMemory.h"
#include "platform/WinExec.h"
#include "platform/WinPath.h"
#include "scan/TDriveComboBox.h"
#include "scan/TFilesScan.h"
#include "scan/uFileOp.h"
#include "shell/ASLink.h"
#include "shell/CrestwickIcon.h"
#include "shell/RXShell.h"
#include "shell/TIcon.h"
#include "shell/TShortcuts.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QResizeEvent>
#include <QScreen>
#include <QTabWidget>

#include <algorithm>
#include <limits>

namespace {

// What the logo page scans for.
constexpr const char* kScanMasks = "*.bmp, *.jpg";

// Client area of the window and the colour values of the design.
constexpr int kClientWidth = 526;
constexpr int kClientHeight = 355;
const TColor kTitleBlue = RGBColor(0x80, 0x80, 0xFF);  // colour value $FF8080
const TColor kShadowCyan = RGBColor(0xAC, 0xFF, 0xFF); // colour value $FFFFAC
const QColor kAqua(0x00, 0xFF, 0xFF);
QString text(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string text(const QString& s)
{
    return s.toStdString();
}

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

void setBold(QWidget* widget, int pixelHeight = DesignFont::kPixelSize)
{
    widget->setFont(DesignFont::Font(pixelHeight, true));
}

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// A flat glyph button of 65 by 65 pixels with a 32 by 32 picture above a two-line caption.
TRxSpeedButton* makeGlyphButton(QWidget* page, const char* name, const char* glyph,
                                const char* line1, const char* line2, QPoint at)
{
    auto* button = named(new TRxSpeedButton(page), name);
    button->setGeometry(at.x(), at.y(), 65, 65);
    button->SetFlat(true);
    button->SetGlyph(ButtonGlyph(glyph));
    button->SetCaption(QString("%1\n%2").arg(line1, line2));
    return button;
}

// The bold underlined look of the about page's links.
TFont linkFont(TColor colour)
{
    TFont font;
    font.Font = DesignFont::Font(DesignFont::kPixelSize, true);
    font.Font.setUnderline(true);
    font.Color = colour;
    return font;
}

TASLink* makeLink(QWidget* page, const char* name, const char* caption, QRect geometry)
{
    auto* link = named(new TASLink(page), name);
    link->SetBounds(geometry.x(), geometry.y(), geometry.width(), geometry.height());
    link->SetShadowSize(0);
    link->SetCaption(caption);
    return link;
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
    // The edits take text of any length.
    edit->setMaxLength(std::numeric_limits<int>::max());
    return edit;
}

} // namespace

int OpenControlPanelApplet(const std::string& Applet)
{
    return int(platform::WinExec("rundll32.exe shell32.dll,Control_RunDLL " + Applet,
                                 platform::SW_SHOWNORMAL));
}

TForm1::TForm1(QWidget* parent) : QWidget(parent)
{
    setObjectName("Form1");
    setWindowTitle("Crestwick --- Quillmere Softhouse");
    setFont(DesignFont::Font());
    // Pages and controls share the button face colour, as the window's design has it.
    QPalette facePalette = palette();
    facePalette.setColor(QPalette::Window, facePalette.color(QPalette::Button));
    setPalette(facePalette);
    resize(kClientWidth, kClientHeight);

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    PageControl1->setGeometry(0, 0, kClientWidth, kClientHeight);
    TabSheet1 = named(new QWidget, "TabSheet1");
    TabSheet2 = named(new QWidget, "TabSheet2");
    TabSheet3 = named(new QWidget, "TabSheet3");
    for (QWidget* sheet : {TabSheet1, TabSheet2, TabSheet3})
        sheet->setAutoFillBackground(true);
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
    Image1 = named(new TAdvImage(page), "Image1");
    Image1->setGeometry(57, 37, 180, 114);
    Image1->SetColor(clBlack);
    Image1->SetBevelWidth(1);
    Image1->SetGIFAnimate(false);
    Image1->SetShowFrame3D(false);
    Image1->SetStretchRatio(false);
    Image1->SetCenterView(true);
    Image1->SetShowEmptyLabel(true);
    Image1->SetEmptyLabel("Empty");
    Image1->SetJPEGPixelFormat(jf24Bit);
    Image1->SetJPEGScale(jsFullSize);
    Image1->SetJPEGGrayscale(false);
    Image1->SetJPEGPerformance(jpBestQuality);
    Image1->SetJPEGSmoothing(false);
    Image1->SetJPEGProgressiveEncoding(false);
    Image1->JPEGCompressionQuality = 0;
    Image1->JPEGProgressiveDisplay = false;
    Image1->SetChecked(false);
    Image1->SetCheckColor(clBlack);
    Image1->SetGifAnimateSpeed(10);
    Label4 = makeLabel(page, "Label4", "OEM Logo Preview", {65, 128, 168, 17});
    Label4->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label4->setAttribute(Qt::WA_TransparentForMouseEvents);
    setTextColour(Label4, Qt::yellow);
    Label13 = makeLabel(page, "Label13", "Label13", {211, 1, 38, 13});
    Label13->hide();
    LabelX = makeAutoSizeLabel(page, "LabelX", "File Size", {67, 155});
    LabelX->resize(LabelX->width(), 13);
    LabelX->hide();
    Label1 = makeLabel(page, "Label1", "Select drive to scan for images", {72, 174, 145, 13});
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    DriveComboBox1 = named(new TDriveComboBox(page), "DriveComboBox1");
    DriveComboBox1->setGeometry(80, 195, 137, 19);
    RxSpeedButton2 =
        makeGlyphButton(page, "RxSpeedButton2", "Autoscan", "Autoscan", "Disks", {32, 224});
    RxSpeedButton3 =
        makeGlyphButton(page, "RxSpeedButton3", "Stop", "Stop", "Scanning", {112, 224});
    RxSpeedButton6 =
        makeGlyphButton(page, "RxSpeedButton6", "Resize", "Resize", "To Fit", {192, 224});

    Bevel7 = makeBevel(page, "Bevel7", TBevel::bsBox, TBevel::bsRaised, {282, 8, 225, 289});
    RxLabel2 = named(new TRxLabel(page), "RxLabel2");
    RxLabel2->SetAutoSize(false);
    RxLabel2->setGeometry(289, 32, 213, 29);
    setBold(RxLabel2, 24);
    RxLabel2->SetFontColor(kTitleBlue);
    RxLabel2->SetTransparent(true);
    RxLabel2->SetCaption("Crestwick");
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
    ListBox1 = named(new TListBox(page), "ListBox1");
    ListBox1->setGeometry(288, 34, 212, 173);
    ListBox1->setUniformItemSizes(true);
    // The list is narrow and its paths long: each row keeps its file name in view.
    ListBox1->setItemDelegate(new ElidedPathDelegate(ListBox1));
    ListBox1->hide();
    RxSpeedButton1 =
        makeGlyphButton(page, "RxSpeedButton1", "ControlPanel", "Control", "Panel", {290, 224});
    RxSpeedButton1->SetAlignment(taLeftJustify);
    LedButton2 = makeGlyphButton(page, "LedButton2", "Save", "Save", "Logo", {362, 224});
    LedButton3 = makeGlyphButton(page, "LedButton3", "Exit", "Exit", "Now", {434, 224});
    StatusBar1 = named(new TStatusBar(page), "StatusBar1");
    StatusBar1->Panels = {{QString(), 50, Qt::AlignHCenter}, {QString(), 50, Qt::AlignRight}};
    StatusBar1->SetSimplePanel(true);

    QWidget::setTabOrder(DriveComboBox1, ListBox1);
    // The preview's caption lies over the bottom of the preview.
    Label4->raise();

    RxSpeedButton2->OnClick = [this](QObject* Sender) { RxSpeedButton2Click(Sender); };
    RxSpeedButton3->OnClick = [this](QObject* Sender) { RxSpeedButton3Click(Sender); };
    RxSpeedButton6->OnClick = [this](QObject* Sender) { RxSpeedButton6Click(Sender); };
    RxSpeedButton1->OnClick = [this](QObject* Sender) { RxSpeedButton1Click(Sender); };
    LedButton2->OnClick = [this](QObject* Sender) { LedButton2Click(Sender); };
    LedButton3->OnClick = [this](QObject* Sender) { LedButton3Click(Sender); };
    connectListBoxClicks();
}

void TForm1::connectListBoxClicks()
{
    // The list box reports every change of its selection that the user makes, by mouse or by
    // keyboard, and a click on the item already selected; changes made while the program fills
    // or clears it are not reported.
    auto report = [this] { Application().Guard([&] { ListBox1Click(ListBox1); }); };
    connect(ListBox1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this, report](const QModelIndex& current, const QModelIndex& previous) {
                if (!fillingList_ && current.row() != previous.row())
                    report();
            });
    ListBox1->viewport()->installEventFilter(this);
    connect(ListBox1, &QAbstractItemView::clicked, this, [this, report](const QModelIndex&) {
        if (ListBox1->currentRow() == rowBeforePress_)
            report();
    });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (ListBox1 && watched == ListBox1->viewport() && event->type() == QEvent::MouseButtonPress)
        rowBeforePress_ = ListBox1->currentRow();
    return QWidget::eventFilter(watched, event);
}

void TForm1::createInfoPage()
{
    QWidget* page = TabSheet2;
    RxLabel1 = named(new TRxLabel(page), "RxLabel1");
    RxLabel1->SetAutoSize(false);
    RxLabel1->setGeometry(35, 19, 110, 24);
    setBold(RxLabel1, 19);
    RxLabel1->SetAlignment(taCenter);
    RxLabel1->SetCaption("System Info");
    Bevel4 = makeBevel(page, "Bevel4", TBevel::bsBox, TBevel::bsLowered, {31, 48, 458, 185});
    Label7 = makeLabel(
        page, "Label7",
        "Add here your information in Control Panel -> System Properties:", {48, 65, 417, 26});
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
    Button1 = makeGlyphButton(page, "Button1", "Save", "Save", "Info", {268, 247});
    RxSpeedButton4 =
        makeGlyphButton(page, "RxSpeedButton4", "ControlPanel", "Control", "Panel", {340, 247});
    Button2 = makeGlyphButton(page, "Button2", "Exit", "Exit", "Now", {412, 247});

    QWidget::setTabOrder(Edit1, Edit2);
    QWidget::setTabOrder(Edit2, Edit3);
    QWidget::setTabOrder(Edit3, Edit4);
    // Only the user's own typing counts, not the texts the program puts in.
    const QLineEdit* edits[] = {Edit1, Edit2, Edit3, Edit4};
    for (int i = 0; i < 4; ++i)
        connect(edits[i], &QLineEdit::textEdited, this, [this, i] { typed_[i] = true; });

    Button1->OnClick = [this](QObject* Sender) { Button1Click(Sender); };
    RxSpeedButton4->OnClick = [this](QObject* Sender) { RxSpeedButton4Click(Sender); };
    Button2->OnClick = [this](QObject* Sender) { Button2Click(Sender); };
}

void TForm1::createAboutPage()
{
    QWidget* page = TabSheet3;
    Bevel1 = makeBevel(page, "Bevel1", TBevel::bsBox, TBevel::bsLowered, {35, 24, 334, 169});
    ProLabel1 = named(new TProLabel(page), "ProLabel1");
    ProLabel1->SetAutoSize(false);
    ProLabel1->setGeometry(86, 37, 225, 29);
    setBold(ProLabel1, 24);
    ProLabel1->SetFontColor(kTitleBlue);
    ProLabel1->SetShadowStyle(ssCustom);
    ProLabel1->SetShadowDirection(drUpLeft);
    ProLabel1->SetShadowDepth(1);
    ProLabel1->SetShadowSize(1);
    ProLabel1->SetShadowColor(kShadowCyan);
    ProLabel1->SetOffsetX(1);
    ProLabel1->SetOffsetY(1);
    ProLabel1->SetVerticalAlignment(vaBottom);
    ProLabel1->SetTransparent(true);
    ProLabel1->SetCaption("Quillmere SoftHouse");

    ASLink1 =
        makeLink(page, "ASLink1", "http://www.quillmere-softhouse.example/", {58, 69, 276, 13});
    ASLink1->SetFont(linkFont(kTitleBlue));
    ASLink1->SetURLType(utHttp);
    ASLink1->SetURLTypeAdd(false);
    ASLink2 = makeLink(page, "ASLink2", "info@quillmere-softhouse.example", {135, 97, 122, 13});
    Bevel5 = makeBevel(page, "Bevel5", TBevel::bsTopLine, TBevel::bsLowered, {67, 120, 273, 17});
    Label12 =
        makeLabel(page, "Label12", "Bugs, comments and feedback\nEmail to:", {111, 137, 175, 26});
    Label12->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setBold(Label12);
    setTextColour(Label12, kAqua);
    ASLink4 =
        makeLink(page, "ASLink4", "crestwick@quillmere-softhouse.example", {135, 169, 126, 13});
    // The two mail links add "mailto:" so that a click opens the mail program.
    for (TASLink* mail : {ASLink2, ASLink4}) {
        mail->SetFont(linkFont(clWhite));
        mail->SetLinkColor(clRed);
        mail->SetURLType(utMailto);
        mail->SetURLTypeAdd(true);
    }
    Bevel2 = makeBevel(page, "Bevel2", TBevel::bsBox, TBevel::bsLowered, {384, 158, 121, 159});
    RxSpeedButton7 = makeGlyphButton(page, "RxSpeedButton7", "DesktopShortcut", "Desktop",
                                     "Shortcut", {412, 174});
    RxSpeedButton5 = makeGlyphButton(page, "RxSpeedButton5", "Exit", "Exit", "Now", {412, 239});

    RxSpeedButton7->OnClick = [this](QObject* Sender) { RxSpeedButton7Click(Sender); };
    RxSpeedButton5->OnClick = [this](QObject* Sender) { RxSpeedButton5Click(Sender); };
}

void TForm1::createComponents()
{
    FilesScan1 = named(new TFilesScan(this), "FilesScan1");
    FilesScan1->SetFileMask("*");
    FilesScan1->SetAttributes(TFileAttributes{faArchive});
    FilesScan1->SetBuildList(true);
    FilesScan1->SetSortedList(true);
    FilesScan1->SetScanOptions(soSpecifiedDir);
    FilesScan1->SetScanDir("c:\\");
    FilesScan1->SetProcessMsg(true);
    FilesScan1->SetRecursive(true);
    FilesScan1->OnProcess = [this](TFilesScan* Sender, const std::string& Dir,
                                   std::int64_t FilesCount, std::int64_t FilesSize) {
        FilesScan1Process(Sender, Dir, FilesCount, FilesSize);
    };
    FilesScan1->OnEndProcess = [this](TFilesScan* Sender, TStringList& FilesList,
                                      std::int64_t FilesCount, std::int64_t FilesSize) {
        FilesScan1EndProcess(Sender, FilesList, FilesCount, FilesSize);
    };

    SysInfo1 = std::make_unique<TSysInfo>();

    Shortcuts1 = named(new TShortcuts(this), "Shortcuts1");
    Shortcuts1->ProgramName = "Crestwick";
    Shortcuts1->Desktop = true;
    // The stored list replaces the one the component built at construction.
    Shortcuts1->FolderList().Clear();
    Shortcuts1->FolderList().Add("Accessories");
    Shortcuts1->FolderList().Add("Esecuzione Automatica");
    Shortcuts1->RunProgram = TShortcuts::RunningProgram();

    RxTrayIcon1 = named(new TRxTrayIcon(this), "RxTrayIcon1");
    TIcon icon;
    icon.LoadFromBytes(CrestwickIconBytes());
    RxTrayIcon1->SetIcon(&icon);

    FileOperations1 = named(new TFileOperations(this), "FileOperations1");
    FileOperations1->SetMask("*.*");
    FileOperations1->SetShowDirsOnSearch(false);
    FileOperations1->SetDetailFileAttr({});

    // Loading is complete: the notification-area icon shows itself.
    RxTrayIcon1->Loaded();
}

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
    return windowsDirectory_.value_or("\\");
}

void TForm1::FormCreate(QObject*)
{
    // An error ends the handler: it is reported and the window is still shown.
    Application().Guard([&] {
        // The system's generation and its SystemRoot: on 9x the value that SysInfo1
        // publishes, on NT the one under Windows NT\CurrentVersion.
        system_ = oem::OemSystem::describe();
        windowsDirectory_ = system_.windowsDirectory();
        Label13->setText(text(*windowsDirectory_));
        LoadOemInfo();
        loadStartupLogo();
    });
}

void TForm1::loadStartupLogo()
{
    // The logo goes into the viewer's picture directly, so the viewer's image name stays
    // empty and a save writes it back as a bitmap.
    const std::string logo = system_.currentLogoFile();
    if (platform::WinPath::isRegularFile(logo))
        Image1->Picture().LoadFromFile(logo);
}

void TForm1::LoadOemInfo()
{
    const oem::OemInfo info = system_.readInfo(
        {"Made by", "Quillmere SoftHouse", "Add first line here", "Add another line here"});
    Edit1->setText(text(*info.manufacturer));
    Edit2->setText(text(*info.model));
    Edit3->setText(text(*info.supportLine1));
    Edit4->setText(text(*info.supportLine2));
    infoLoaded_ = true;
}

void TForm1::SaveOemInfo()
{
    if (infoLoaded_) {
        system_.writeInfo(
            {text(Edit1->text()), text(Edit2->text()), text(Edit3->text()), text(Edit4->text())},
            oem::FurtherSupportLines::Remove);
        return;
    }
    // The stored information could not be read: only what the user typed is known.
    oem::OemInfo info;
    std::optional<std::string>* fields[] = {&info.manufacturer, &info.model, &info.supportLine1,
                                            &info.supportLine2};
    const QLineEdit* edits[] = {Edit1, Edit2, Edit3, Edit4};
    bool any = false;
    for (int i = 0; i < 4; ++i)
        if (typed_[i]) {
            *fields[i] = text(edits[i]->text());
            any = true;
        }
    if (!any)
        throw Exception("The OEM information could not be read, so there is nothing to save. "
                        "Type the information, then save again.");
    system_.writeInfo(info, oem::FurtherSupportLines::Keep);
}

void TForm1::RxSpeedButton2Click(QObject*)
{
    FilesScan1->SetFileMask(kScanMasks);
    std::string start(1, DriveComboBox1->DriveLetter());
    start += ":\\";
    FilesScan1->SetScanDir(start);
    FilesScan1->StartScan();
    // The scan's listings, read on worker threads, are freed by now; without this the C
    // library would keep their memory, and each further scan would add to it.
    platform::releaseFreeMemory();
}

void TForm1::FilesScan1Process(TFilesScan*, const std::string& Dir, std::int64_t, std::int64_t)
{
    StatusBar1->SetSimpleText(text(Dir));
}

void TForm1::FilesScan1EndProcess(TFilesScan*, TStringList& FilesList, std::int64_t FilesCount,
                                  std::int64_t FilesSize)
{
    StatusBar1->SetSimpleText(
        text(core::Format("Total files: %d Size: %d Kb", {FilesCount, FilesSize / 1024})));
    ListBox1->show();
    // The list box keeps its rows in its own sorted order: the platform's case-insensitive
    // order, duplicates kept. The scanner's sorted list is in that order already.
    fillingList_ = true;
    ListBox1->setItems(FilesList);
    fillingList_ = false;
}

void TForm1::ListBox1Click(QObject*)
{
    const int index = ListBox1->currentRow();
    if (index < 0)
        throw EStringListError(core::Format("List index out of bounds (%d)", {-1}));
    const TListBox::Item item = ListBox1->item(index);
    StatusBar1->Panels[0].Text = item.text();
    Image1->SetImageName(std::string(item.bytes()));
    LabelX->setText(text(core::Format("FileSize: %d Kb", {Image1->FileSize() / 1024})));
    LabelX->adjustSize();
    LabelX->show();
}

void TForm1::RxSpeedButton3Click(QObject*)
{
    FilesScan1->StopScan();
}

void TForm1::RxSpeedButton6Click(QObject*)
{
    const oem::LogoBox box = system_.windowFitBox();
    if (box == oem::LogoBox{oem::OemSystem::kLogoWidth, oem::OemSystem::kLogoHeight}) {
        Image1->FitToRect(Image1->ClientRect());
        return;
    }
    // A system whose logo area differs from the preview gets a logo that both show whole,
    // and the status bar tells which box that was.
    Image1->FitToRect({0, 0, box.width, box.height});
    StatusBar1->SetSimpleText(
        text(core::Format("Fitted to %dx%d, the part of this preview that the %s System page shows",
                          {box.width, box.height, oem::generationName(system_.generation())})));
}

void TForm1::LedButton2Click(QObject*)
{
    // A picture loaded from a JPEG file is decoded into a new bitmap and the preview keeps the
    // JPEG; a bitmap is written as it is. What decides is the picture the preview holds, not
    // the name it came from, so a picture of either kind is never written as an empty file.
    system_.writeLogo(Image1->Picture());
}

void TForm1::Button1Click(QObject*)
{
    SaveOemInfo();
}
void TForm1::Button2Click(QObject*)
{
    close();
}
void TForm1::LedButton3Click(QObject*)
{
    close();
}
void TForm1::RxSpeedButton5Click(QObject*)
{
    close();
}
void TForm1::RxSpeedButton1Click(QObject*)
{
    OpenControlPanelApplet("Sysdm.cpl");
}
void TForm1::RxSpeedButton4Click(QObject*)
{
    OpenControlPanelApplet("Sysdm.cpl");
}
void TForm1::RxSpeedButton7Click(QObject*)
{
    // On NT the user's desktop and Start menu are where the user's registry says; a folder
    // it names is never created.
    const oem::OemSystem::UserFolders folders = system_.userFolders();
    Shortcuts1->DesktopFolder = folders.desktop;
    Shortcuts1->StartMenuFolder = folders.startMenu;
    Shortcuts1->ProgramsFolder = folders.programs;
    Shortcuts1->CreateFolders = folders.createFolders;
    Shortcuts1->CreateShortcuts();
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    // The notebook fills the client area; the controls keep their places on the pages.
    PageControl1->setGeometry(rect());
    QWidget::resizeEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program; nothing is saved and nothing is asked.
    event->accept();
    Application().Terminate();
}
