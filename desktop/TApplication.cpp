#include "desktop/TApplication.h"

#include "core/Exceptions.h"
#include "platform/ScreenDepth.h"

#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>

TApplication& TApplication::instance()
{
    static TApplication application;
    return application;
}

std::string TApplication::Title() const
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (name.isEmpty())
        name = QCoreApplication::applicationName();
    const qsizetype dot = name.indexOf('.');
    if (dot >= 0)
        name.truncate(dot);
    return name.toStdString();
}

std::string TApplication::errorBoxText(std::string message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        message += '.';
    return message;
}

void TApplication::HandleException(const std::exception& error)
{
    if (dynamic_cast<const EAbort*>(&error))
        return;
    ShowException(error.what());
}

void TApplication::HandleUnknownException()
{
    ShowException("Unknown error");
}

void TApplication::ShowException(const std::string& message)
{
    const std::string text = errorBoxText(message);
    const std::string caption = Title();
    if (reporter_) {
        reporter_(text, caption);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

void TApplication::RegisterFontSubstitutes()
{
    const QStringList sansSerif = {"Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans"};
    for (const char* windowsFont : {"MS Sans Serif", "Arial", "Tahoma"})
        QFont::insertSubstitutions(windowsFont, sansSerif);
}

void TApplication::UseClassicPalette()
{
    QPalette palette = QApplication::palette();
    const QColor face(0xC0, 0xC0, 0xC0);
    for (auto role : {QPalette::Button, QPalette::Window})
        palette.setColor(role, face);
    palette.setColor(QPalette::Light, QColor(0xFF, 0xFF, 0xFF));
    palette.setColor(QPalette::Midlight, QColor(0xDF, 0xDF, 0xDF));
    palette.setColor(QPalette::Dark, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Mid, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Shadow, QColor(0x00, 0x00, 0x00));
    palette.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x00));
    palette.setColor(QPalette::ButtonText, QColor(0x00, 0x00, 0x00));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    QApplication::setPalette(palette);
}

TApplication::ErrorReporter TApplication::SetErrorReporter(ErrorReporter reporter)
{
    std::swap(reporter_, reporter);
    return reporter;
}

void TApplication::ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int TApplication::Run()
{
    terminated_ = false;
    return QApplication::exec();
}

void TApplication::Terminate()
{
    terminated_ = true;
    QCoreApplication::quit();
}

void TApplication::UseScreenDepth()
{
    platform::setScreenDepthSource([] {
        // Asked only of a GUI application: a core one (the command-line tool) has no screen.
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
            return 0;
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? screen->depth() : 0;
    });
}
