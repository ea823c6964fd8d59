#pragma once

#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace desktop {

// One request to the shell's open operation, as a recorder sees it.
struct ShellExecuteRequest {
    std::string operation;  // the verb; empty for the default action of the target's type
    std::string file;       // the address or file to open
    std::string parameters; // arguments for a program
    std::string directory;  // the folder to start in
    unsigned showCmd = 0;   // how a window would be shown
};

// Handles open requests in place of the desktop; returns the shell's result code.
using ShellExecuteHandler = std::function<unsigned(const ShellExecuteRequest& request)>;

// Opens an address with the desktop's default handler for its scheme ("http:", "mailto:",
// "file:" …); a text without a scheme opens only when it names an existing file of the
// machine. Returns 33 on success and 2 when nothing could open it. The owner window is not
// used by the desktop.
unsigned ShellExecute(QWidget* owner, std::string_view operation, std::string_view file,
                      std::string_view parameters, std::string_view directory, unsigned showCmd);

// Replaces the desktop with handler (tests install a recorder); an empty handler restores
// the desktop. Returns the previous handler so that it can be put back.
ShellExecuteHandler setShellExecuteHandler(ShellExecuteHandler handler);

} // namespace desktop
