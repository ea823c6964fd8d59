#pragma once

#include <exception>
#include <functional>
#include <string>

// The application object: the program's title, its message loop and message pump, and the
// error box in which every exception that leaves an event handler is reported.
class TApplication {
public:
    // Shows an error box; tests install one that records instead of showing a modal box.
    using ErrorReporter = std::function<void(const std::string& text, const std::string& caption)>;

    static TApplication& instance();

    // The executable's file name without its folder, cut before its first dot.
    std::string Title() const;

    // Reports an exception that left an event handler. EAbort is silent.
    void HandleException(const std::exception& error);
    void HandleUnknownException();
    // Shows message in the error box, with "." appended when its last character sorts after ".".
    void ShowException(const std::string& message);
    static std::string errorBoxText(std::string message);

    // Runs an event handler and reports whatever it throws; the program then carries on.
    template <class Handler> void Guard(Handler&& handler)
    {
        try {
            handler();
        } catch (const std::exception& error) {
            HandleException(error);
        } catch (...) {
            HandleUnknownException();
        }
    }

    // Maps the Windows fonts that the program's design names onto fonts of this machine with
    // similar metrics, so that captions fit the places laid out for them.
    static void RegisterFontSubstitutes();
    // Gives the application the classic desktop colour scheme that the window's colours were
    // chosen against: button face #C0C0C0, highlight white, shadow #808080, frame black.
    static void UseClassicPalette();
    // Tells the picture framework the primary screen's depth, which bitmaps compatible with
    // the screen take; a program that never calls this makes them 32 bits deep.
    static void UseScreenDepth();

    // The previous reporter is returned so that it can be restored.
    ErrorReporter SetErrorReporter(ErrorReporter reporter);

    // Handles every message that is waiting, then returns.
    void ProcessMessages();
    // Runs the message loop until Terminate.
    int Run();
    // Asks the message loop to end; a loop pumped by ProcessMessages goes on until its caller
    // returns to the main loop.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Clears the terminated state, for a test that runs several windows in one process.
    void ResetTerminated() { terminated_ = false; }

private:
    TApplication() = default;

    ErrorReporter reporter_;
    bool terminated_ = false;
};

inline TApplication& Application()
{
    return TApplication::instance();
}
