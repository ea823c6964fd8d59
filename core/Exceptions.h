#pragma once

#include <exception>
#include <string>

// The error model of the system: every error is an exception that carries its finished,
// formatted message. The application object shows that message in its error box.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
    // The operating system's own words for why it failed ("No space left on device"), when
    // it told any. Not part of the message: the window shows the message as it is; a tool
    // may add the reason after it.
    std::string SystemReason;
};

// A silent exception: it unwinds like any other but the application object never shows it.
class EAbort : public Exception {
public:
    using Exception::Exception;
};

#define CRESTWICK_DECLARE_EXCEPTION(Name, Base)                                                    \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    }

CRESTWICK_DECLARE_EXCEPTION(EConvertError, Exception);
CRESTWICK_DECLARE_EXCEPTION(EListError, Exception);
CRESTWICK_DECLARE_EXCEPTION(EStringListError, Exception);
CRESTWICK_DECLARE_EXCEPTION(EInvalidOperation, Exception);
CRESTWICK_DECLARE_EXCEPTION(EOutOfResources, Exception);
CRESTWICK_DECLARE_EXCEPTION(EStreamError, Exception);
CRESTWICK_DECLARE_EXCEPTION(EReadError, EStreamError);
CRESTWICK_DECLARE_EXCEPTION(EWriteError, EStreamError);
CRESTWICK_DECLARE_EXCEPTION(EFOpenError, EStreamError);
CRESTWICK_DECLARE_EXCEPTION(EFCreateError, EStreamError);
CRESTWICK_DECLARE_EXCEPTION(ERegistryException, Exception);
CRESTWICK_DECLARE_EXCEPTION(EIniFileException, Exception);
CRESTWICK_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
CRESTWICK_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
// A fatal error of the JPEG library. The message gives the library's message code; the
// library's own words for it come beside it, for a reader who is not a programmer.
class EJPEG : public EInvalidGraphic {
public:
    explicit EJPEG(std::string message, std::string libraryText = {})
        : EInvalidGraphic(std::move(message)), LibraryText(std::move(libraryText)) {}
    std::string LibraryText;
};

// An operating-system input/output error, with the platform's error code.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode)
        : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

#undef CRESTWICK_DECLARE_EXCEPTION
