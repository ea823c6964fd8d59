#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace oem {

// The items of an answer file's OEMInformation element, each the text of its child element in
// UTF-8; an item without a value has no element (when read) or is left as it is (when written).
struct AnswerOemInformation {
    std::optional<std::string> helpCustomized;
    std::optional<std::string> logo;
    std::optional<std::string> manufacturer;
    std::optional<std::string> model;
    std::optional<std::string> supportHours;
    std::optional<std::string> supportPhone;
    std::optional<std::string> supportUrl;
};

// A Windows setup answer file (unattend.xml, autounattend.xml) whose
// Microsoft-Windows-Shell-Setup component carries the OEM information that setup writes into
// the installed system. The document is held as libxml2 parsed it and written back through
// libxml2, so that comments, other components and passes, namespace prefixes, element order,
// the encoding declaration, a byte-order mark and CRLF line ends all stay as they were; only
// the OEMInformation element changes.
class AnswerFile {
public:
    // Parses an answer file's bytes. shownAs names the file in messages. Raises Exception
    // "<shownAs> is not well-formed XML (line N: reason)", "<shownAs> is not an answer file
    // (its root element is not unattend of urn:schemas-microsoft-com:unattend)", and
    // "<shownAs> has OEMInformation in more than one pass (<pass>, <pass>); it is left as it
    // is", which would leave setup to pick one of them.
    AnswerFile(std::string_view bytes, std::string shownAs);
    ~AnswerFile();
    AnswerFile(AnswerFile&&) noexcept;
    AnswerFile& operator=(AnswerFile&&) noexcept;

    // The pass whose Shell-Setup component holds OEMInformation; empty when none does.
    std::string pass() const;
    // The items of the OEMInformation element; all without a value when there is none.
    AnswerOemInformation read() const;
    // Sets the items that have a value, in every OEMInformation element of the pass that has
    // them (one per processor architecture). Without one, the element goes into the
    // Shell-Setup component of the specialize pass, which is made (with the attributes and
    // namespaces Windows' own answer files carry) when missing. Raises Exception "<Item> is
    // not text that an answer file can hold" for bytes that are not UTF-8 or characters XML
    // cannot carry; nothing changes then.
    void write(const AnswerOemInformation& items);
    // The document's bytes, in its own encoding.
    std::string bytes() const;

private:
    struct Document;
    std::unique_ptr<Document> document_;
};

} // namespace oem
