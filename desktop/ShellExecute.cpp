#include "desktop/ShellExecute.h"

#include "platform/WinExec.h"
#include "platform/WinPath.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include <system_error>

namespace desktop {

using platform::ERROR_FILE_NOT_FOUND;
using platform::WINEXEC_SUCCESS;
using platform::WinPath;

namespace {

ShellExecuteHandler& handlerSlot()
{
    static ShellExecuteHandler handler;
    return handler;
}

// A scheme is at least two characters before the colon, so that "c:\x" stays a path.
bool hasScheme(const QUrl& url)
{
    return url.isValid() && url.scheme().size() > 1;
}

unsigned openWithDesktop(const ShellExecuteRequest& request)
{
    const QString text = QString::fromStdString(request.file);
    const QUrl url(text, QUrl::StrictMode);
    if (hasScheme(url))
        return QDesktopServices::openUrl(url) ? WINEXEC_SUCCESS : ERROR_FILE_NOT_FOUND;
    const auto host = WinPath::toHost(request.file);
    std::error_code ec;
    if (!host || !std::filesystem::exists(*host, ec))
        return ERROR_FILE_NOT_FOUND;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(host->string())))
               ? WINEXEC_SUCCESS
               : ERROR_FILE_NOT_FOUND;
}

} // namespace

unsigned ShellExecute(QWidget* /*owner*/, std::string_view operation, std::string_view file,
                      std::string_view parameters, std::string_view directory, unsigned showCmd)
{
    const ShellExecuteRequest request{std::string(operation), std::string(file),
                                      std::string(parameters), std::string(directory), showCmd};
    if (handlerSlot())
        return handlerSlot()(request);
    return openWithDesktop(request);
}

ShellExecuteHandler setShellExecuteHandler(ShellExecuteHandler handler)
{
    std::swap(handlerSlot(), handler);
    return handler;
}

} // namespace desktop
